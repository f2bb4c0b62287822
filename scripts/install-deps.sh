#!/usr/bin/env bash
# Installs the Debian packages Skorva builds and tests with, when any is missing.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          libsdl2-dev libode-dev duktape-dev libpng-dev zlib1g-dev
          libgl1-mesa-dev libopengl-dev libglx-dev libgl1-mesa-dri xvfb xauth xdg-utils)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
