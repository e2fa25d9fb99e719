#!/bin/sh
# Runs a command with a Wayland desktop of its own: weston, with XWayland, shown in a window of the
# X display the command was given (the tests' private Xvfb, from with-xvfb.sh), so that the test
# looks at what weston shows and moves the pointer and presses keys there, as a user would. Weston
# shows VELMORA_WESTON_MONITORS monitors (1 unless set) of 1280 x 720 each, side by side on the
# Xvfb's screen, which must be wide enough. The command finds XWayland's X display in
# VELMORA_XWAYLAND_DISPLAY and weston's Wayland display in VELMORA_WAYLAND_DISPLAY; its own DISPLAY
# stays the Xvfb's. Weston goes away with the command.
set -u
. "$(dirname "$0")/await-start.sh"
runtime=$(mktemp -d)
log="$runtime/weston.log"
monitors=${VELMORA_WESTON_MONITORS:-1}
XDG_RUNTIME_DIR=$runtime weston --backend=x11-backend.so --use-pixman --width=1280 --height=720 \
    --output-count="$monitors" --xwayland --socket=velmora-test --idle-time=0 >"$log" 2>&1 &
compositor=$!
trap 'kill $compositor 2>/dev/null; wait $compositor 2>/dev/null; rm -rf "$runtime"' EXIT
trap 'exit 1' INT TERM
listening='xserver listening on display :[0-9]*'
await_start weston $compositor "$log" grep -q "$listening" "$log"
xdisplay=$(grep -o "$listening" "$log" | grep -o ':[0-9]*$')
# Without a window manager, the Xvfb shows every monitor's window at its top-left corner; each
# goes beside the one before. (xdotool finds them by class: their names, in UTF-8 alone, are not
# seen by its search in every locale.)
tries=0
while [ "$(xdotool search --class weston | wc -l)" -lt "$monitors" ]; do
    if [ $tries -ge 100 ]; then
        echo "with-weston: weston does not show its $monitors monitors" >&2
        exit 1
    fi
    tries=$((tries + 1))
    sleep 0.1
done
for window in $(xdotool search --class weston); do
    monitor=$(xdotool getwindowname "$window" | sed -n 's/.*screen\([0-9]*\)$/\1/p')
    [ -n "$monitor" ] && xdotool windowmove "$window" $((monitor * 1280)) 0
done
export XDG_RUNTIME_DIR="$runtime"
export VELMORA_XWAYLAND_DISPLAY="$xdisplay"
export VELMORA_WAYLAND_DISPLAY=velmora-test
"$@"
