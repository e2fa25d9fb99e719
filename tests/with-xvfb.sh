#!/bin/sh
# Runs a command on a private Xvfb (24-bit screen, 1024 x 768 unless VELMORA_XVFB_SCREEN gives
# another, as WIDTHxHEIGHTx24) with Mesa's software OpenGL, so that no test ever touches the
# user's own display. The server goes away with the command.
set -u
. "$(dirname "$0")/await-start.sh"
log=$(mktemp)
numfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 "${VELMORA_XVFB_SCREEN:-1024x768x24}" -nolisten tcp -noreset 3>"$numfile" 2>"$log" &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -f "$log" "$numfile"' EXIT INT TERM
await_start Xvfb $server "$log" test -s "$numfile"
DISPLAY=:$(head -n 1 "$numfile")
export DISPLAY
export LIBGL_ALWAYS_SOFTWARE=1
"$@"
