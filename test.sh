#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (under Xvfb when there is no display).
#   ./test.sh             the normal build in build/
#   ./test.sh --sanitize  AddressSanitizer and UndefinedBehaviorSanitizer build in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
    dir=build-sanitize
    flags=(-DCMAKE_BUILD_TYPE=Debug -DSK_SANITIZE=ON -DSK_BENCH=OFF)
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir"
jobs=$(nproc 2>/dev/null || echo 2)
scripts/with-display.sh ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
