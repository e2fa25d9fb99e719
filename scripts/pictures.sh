#!/bin/sh
# Remakes the pictures in docs/pictures from the real program on a private Xvfb: colour mode and
# halftone mode side by side from the built-in colour bars, and one from a moving source.
set -e
VELMORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$VELMORA_ROOT/scripts/deps.sh"
# shellcheck disable=SC2086
velmora_install $VELMORA_BUILD_PACKAGES $VELMORA_RUN_PACKAGES xvfb xauth xdotool imagemagick
velmora_build "$VELMORA_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_TESTS=OFF \
    -DVELMORA_BUILD_BENCH=OFF
out="$VELMORA_ROOT/docs/pictures"
mkdir -p "$out"
export VELMORA_OUT="$out" VELMORA_BIN="$VELMORA_ROOT/build/velmora"
"$VELMORA_ROOT/tests/with-xvfb.sh" sh -c '
    set -e
    shoot() { # shoot SOURCE FILE [KEY]
        VELMORA_VIDEO_SOURCE="$1" "$VELMORA_BIN" window & program=$!
        window=""
        for _ in $(seq 50); do
            window=$(xdotool search --name "^Velmora\$" 2>/dev/null | head -n 1) && [ -n "$window" ] && break
            sleep 0.2
        done
        xdotool mousemove 1000 760
        if [ -n "${3:-}" ]; then xdotool windowfocus "$window" key "$3"; fi
        sleep 3 # the pointer ring fades out
        import -window "$window" "$2"
        xdotool windowfocus "$window" key Escape
        wait $program
    }
    tmp=$(mktemp -d)
    shoot "" "$tmp/colour.png"
    shoot "" "$tmp/halftone.png" space
    convert "$tmp/colour.png" "$tmp/halftone.png" -resize 50% +append "$VELMORA_OUT/colour-and-halftone.png"
    shoot "videotestsrc pattern=ball is-live=true" "$tmp/ball.png"
    convert "$tmp/ball.png" -resize 50% "$VELMORA_OUT/moving-ball.png"
    rm -rf "$tmp"
'
echo "pictures written to $out"
