#!/usr/bin/env bash
# Installs what is missing, builds, and starts Skorva on its default data.
# Any arguments are passed to the game, which needs a display (DISPLAY or WAYLAND_DISPLAY).
set -euo pipefail
cd "$(dirname "$0")"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Skorva needs a display to show its window: neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
    exit 1
fi
build=build
# Packages are checked, and CMake configures, only for a new build directory or after a
# check that did not finish; a later start only brings the build up to date (CMake
# configures again by itself when its files change).
stamp="$build/.packages-checked"
if [ ! -f "$stamp" ] || [ ! -f "$build/build.ninja" ]; then
    rm -f "$stamp"
    scripts/install-deps.sh
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    touch "$stamp"
fi
cmake --build "$build"
exec "$build/game/skorva" "$@"
