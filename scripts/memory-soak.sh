#!/bin/sh
# Runs the program for five minutes on a private Xvfb with a live moving source and prints its
# resident size after one minute and after five; the second must be within 2 MB of the first.
set -e
VELMORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$VELMORA_ROOT/scripts/deps.sh"
# shellcheck disable=SC2086
velmora_install $VELMORA_BUILD_PACKAGES $VELMORA_RUN_PACKAGES xvfb xauth
velmora_build "$VELMORA_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_TESTS=OFF \
    -DVELMORA_BUILD_BENCH=OFF
export VELMORA_BIN="$VELMORA_ROOT/build/velmora" MINUTES="${MINUTES:-5}"
exec "$VELMORA_ROOT/tests/with-xvfb.sh" sh -c '
    VELMORA_VIDEO_SOURCE="videotestsrc pattern=ball is-live=true" "$VELMORA_BIN" window & program=$!
    rss() { awk "/^VmRSS/ {print \$2}" /proc/$program/status; }
    sleep 60
    first=$(rss)
    echo "after 1 minute: $first kB"
    sleep $(( (MINUTES - 1) * 60 ))
    last=$(rss)
    echo "after $MINUTES minutes: $last kB (growth $((last - first)) kB)"
    kill $program
    [ $((last - first)) -le 2048 ]
'
