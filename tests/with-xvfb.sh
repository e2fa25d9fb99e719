#!/bin/sh
# Runs a command on a private Xvfb (24-bit screen, 1024 x 768 unless VELMORA_XVFB_SCREEN gives
# another, as WIDTHxHEIGHTx24) with Mesa's software OpenGL, so that no test ever touches the
# user's own display. The server goes away with the command.
set -u
log=$(mktemp)
numfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 "${VELMORA_XVFB_SCREEN:-1024x768x24}" -nolisten tcp -noreset 3>"$numfile" 2>"$log" &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -f "$log" "$numfile"' EXIT INT TERM
tries=0
while [ ! -s "$numfile" ]; do
    if ! kill -0 $server 2>/dev/null || [ $tries -ge 100 ]; then
        echo "with-xvfb: Xvfb did not start:" >&2
        cat "$log" >&2
        exit 1
    fi
    tries=$((tries + 1))
    sleep 0.1
done
DISPLAY=:$(head -n 1 "$numfile")
export DISPLAY
export LIBGL_ALWAYS_SOFTWARE=1
"$@"
