#!/bin/sh
# Remakes the pictures in docs/pictures from the real program on a private Xvfb, showing a real
# photograph through a still source: the astronaut portrait that scikit-image ships (Eileen
# Collins, a NASA photograph in the public domain), cut to a 4:3 part around her face. It makes colour
# mode and halftone mode side by side, and an animation of a pull, a push and the glide home made
# from screenshots taken while the program runs.
set -e
VELMORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$VELMORA_ROOT/scripts/deps.sh"
# shellcheck disable=SC2086
velmora_install $VELMORA_BUILD_PACKAGES $VELMORA_RUN_PACKAGES xvfb xauth xdotool imagemagick \
    python3-skimage
velmora_build "$VELMORA_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_TESTS=OFF \
    -DVELMORA_BUILD_BENCH=OFF
photo=$(dpkg -L python3-skimage | grep '/skimage/data/astronaut\.png$' | head -n 1)
if [ ! -s "$photo" ]; then
    echo "velmora: the astronaut photograph of python3-skimage is missing" >&2
    exit 1
fi
out="$VELMORA_ROOT/docs/pictures"
mkdir -p "$out"
export VELMORA_OUT="$out" VELMORA_BIN="$VELMORA_ROOT/build/velmora"
export VELMORA_VIDEO_SOURCE="filesrc location=$photo ! pngdec ! videocrop left=80 right=112 top=0 bottom=272 ! imagefreeze is-live=true"
echo "velmora: taking the pictures on a private Xvfb"
"$VELMORA_ROOT/tests/with-xvfb.sh" sh -c '
    set -e
    start() { # start: runs the program in a window and sets $window and $program
        "$VELMORA_BIN" window & program=$!
        window=""
        for _ in $(seq 75); do
            window=$(xdotool search --name "^Velmora\$" 2>/dev/null | head -n 1) && [ -n "$window" ] && break
            sleep 0.2
        done
        [ -n "$window" ] || { echo "velmora: the program did not open its window" >&2; exit 1; }
        xdotool mousemove --window "$window" 400 300
    }
    stop() {
        xdotool windowfocus "$window" key Escape
        wait $program
    }
    tmp=$(mktemp -d)
    trap "rm -rf $tmp" EXIT

    start
    xdotool mousemove 1000 760
    sleep 3 # the pointer ring fades out
    import -window "$window" "$tmp/colour.png"
    xdotool windowfocus "$window" key space
    sleep 1
    import -window "$window" "$tmp/halftone.png"
    stop
    convert "$tmp/colour.png" "$tmp/halftone.png" -resize 50% +append \
        "$VELMORA_OUT/colour-and-halftone.png"

    # The animation: at rest, a pull with the left button, a push with the right one, and Enter.
    start
    sleep 3
    shot=0
    shoot() { # shoot COUNT [SECONDS]: COUNT screenshots, SECONDS apart (as fast as they come)
        for _ in $(seq "$1"); do
            shot=$((shot + 1))
            import -window "$window" "$tmp/frame-$(printf %03d $shot).png"
            sleep "${2:-0}"
        done
    }
    shoot 2
    xdotool mousemove --window "$window" 400 250 mousedown 1
    shoot 10 0.25
    xdotool mouseup 1
    xdotool mousemove --window "$window" 400 330 mousedown 3
    shoot 7
    xdotool mouseup 3
    shoot 3
    xdotool windowfocus "$window" key Return
    shoot 6
    sleep 1
    shoot 2
    stop
    convert -delay 15 "$tmp"/frame-*.png -resize 50% -loop 0 +dither -colors 96 -fuzz 3% \
        -layers Optimize "$VELMORA_OUT/pull-push-and-home.gif"
'
echo "velmora: pictures written to $out"
