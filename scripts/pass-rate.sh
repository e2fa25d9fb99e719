#!/bin/sh
# Measures the real program's frame passes a second and its CPU time a second (main thread and
# whole process), in colour and in halftone mode, paced by the display and with pacing off
# (VELMORA_FRAME_RATE=0), on a private Xvfb with Mesa's software OpenGL. The passes are counted by
# a stand-in for the buffer swap loaded into the program (bench/pass_counter.cpp), which also gives
# the median wall time of 20 passes in a row, as long as the glide home takes. The paced runs are
# made three times: plain, with S pressed every quarter of a second, and recording a clip with R
# for the whole run (the pictures and clips go to a temporary home folder, removed afterwards), so
# that what keeping pictures and recording cost shows side by side, and once more in the hands-free
# mode with a ball moving in the picture.
# Usage: pass-rate.sh [SECONDS [PROGRAM]]: the seconds of each run that are counted (default 5)
# and the program (default the one built).
set -e
VELMORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)

# Presses S every quarter of a second for $1 seconds.
keepPictures() {
    presses=$(($1 * 4))
    while [ "$presses" -gt 0 ]; do
        xdotool key s
        sleep 0.25
        presses=$((presses - 1))
    done
}

# One run of the program on the display: $1 mode (colour or halftone), $2 VELMORA_FRAME_RATE
# ("" for the display's rate), $3 "pictures" to press S every quarter of a second, or "clip" to
# record the whole run with R (quitting finishes the clip), or "handsfree" to turn the hands-free
# mode on with M.
measure() {
    out=$(mktemp)
    said=$(mktemp)
    home=$(mktemp -d)
    if [ -n "$2" ]; then rate="VELMORA_FRAME_RATE=$2"; else rate="VELMORA_FRAME_RATE="; fi
    env "$rate" LD_PRELOAD="$counter" VELMORA_PASS_COUNT_FILE="$out" HOME="$home" \
        XDG_CONFIG_HOME="$home" VELMORA_PASS_COUNT_SECONDS="$seconds" "$program" window >"$said" &
    pid=$!
    window=$(xdotool search --sync --onlyvisible --name '^Velmora$' | head -n 1)
    xdotool windowfocus --sync "$window"
    [ "$1" = halftone ] && xdotool key space
    case "${3:-}" in
    pictures) keepPictures $((seconds + 1)) ;;
    clip) xdotool key r && sleep $((seconds + 1)) ;;
    handsfree) xdotool key m && sleep $((seconds + 1)) ;;
    *) sleep $((seconds + 1)) ;;
    esac
    xdotool key Escape
    wait $pid
    read -r passes cpu counted processCpu twenty <"$out"
    case "${3:-}" in
    pictures) label="$1+S" kept="pictures kept: $(find "$home" -name 'velmora-*.png' | wc -l)" ;;
    clip) label="$1+R" kept="clip: $(sed -n 's/^velmora: saved .*webm (\(.*\))$/\1/p' "$said")" ;;
    handsfree) label="$1+M" kept="" ;;
    *) label=$1 kept="" ;;
    esac
    printf '%-11s %-9s %6s passes/s  CPU s/s: main %s, process %s  20 passes: %s ms (of %s)  %s\n' \
        "$label" "${2:-display}" "$passes" "$cpu" "$processCpu" "$twenty" "$counted" "$kept"
    rm -rf "$out" "$said" "$home"
}

if [ "${1:-}" = --on-display ]; then
    seconds=$2 program=$3 counter=$4
    measure colour ""
    measure colour "" pictures
    measure colour "" clip
    measure halftone ""
    measure halftone "" pictures
    measure halftone "" clip
    # Hands-free (M), with a ball moving in the picture, so that the dots are pushed all along.
    (
        export VELMORA_VIDEO_SOURCE="videotestsrc pattern=ball is-live=true"
        measure colour "" handsfree
        measure halftone "" handsfree
    )
    measure colour 0
    measure halftone 0
    exit 0
fi

. "$VELMORA_ROOT/scripts/deps.sh"
# shellcheck disable=SC2086
velmora_install $VELMORA_BUILD_PACKAGES $VELMORA_RUN_PACKAGES xvfb xauth xdotool libbenchmark-dev
echo "velmora: building build-bench"
velmora_build "$VELMORA_ROOT/build-bench" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF
seconds=${1:-5}
program=$(realpath "${2:-$VELMORA_ROOT/build-bench/velmora}")
echo "velmora: $seconds s of each mode, paced by the display (60 a second under Xvfb) and with pacing off"
exec "$VELMORA_ROOT/tests/with-xvfb.sh" "$0" --on-display "$seconds" "$program" \
    "$VELMORA_ROOT/build-bench/libvelmora-pass-counter.so"
