#!/usr/bin/env bash
# Runs a command with an X display: the current one, or a private Xvfb started for it.
# -noreset: the tests open and close many windows; a server that resets whenever its last
# client leaves refuses the next connection for a moment.
set -uo pipefail
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec "$@"
fi
for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null' EXIT
for _ in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
done
export DISPLAY="$display"
export LIBGL_ALWAYS_SOFTWARE=1
"$@"
