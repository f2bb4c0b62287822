#!/usr/bin/env bash
# Installs what is missing, builds, and starts Skorva on its default data.
# Any arguments are passed to the game.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    exec scripts/with-display.sh build/game/skorva "$@"
fi
exec build/game/skorva "$@"
