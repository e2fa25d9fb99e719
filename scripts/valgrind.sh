#!/bin/sh
# Runs every display-free test program under Valgrind's memcheck, with GLib's and GStreamer's
# suppressions: any invalid read or write, use of uninitialised memory or definite leak fails it.
set -e
VELMORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$VELMORA_ROOT/scripts/deps.sh"
# shellcheck disable=SC2086
velmora_install $VELMORA_BUILD_PACKAGES $VELMORA_RUN_PACKAGES $VELMORA_TEST_PACKAGES valgrind
velmora_build "$VELMORA_ROOT/build-test" -DCMAKE_BUILD_TYPE=Debug
cd "$VELMORA_ROOT/build-test"
export SDL_VIDEODRIVER=dummy DISPLAY=
# The tests' own plugin set, as CTest gives it: only the fake cameras, never a real one.
plugins="$PWD/tests/gst-plugins" fakecam="$PWD/tests/fakecam-plugin"
export GST_PLUGIN_SYSTEM_PATH="$plugins" GST_PLUGIN_SYSTEM_PATH_1_0="$plugins" \
    GST_PLUGIN_PATH="$fakecam" GST_PLUGIN_PATH_1_0="$fakecam" \
    GST_REGISTRY="$PWD/tests/gst-registry.bin" GST_REGISTRY_1_0="$PWD/tests/gst-registry.bin" \
    VELMORA_VIDEO_SOURCE="videotestsrc pattern=black"
failed=0
# Memcheck runs a program twenty to fifty times slower: a source then takes longer to give its
# first frame than the two seconds after which the next one fills in, and the test that counts
# the lines said about sources that fail sees one more. Everything else runs.
filter="-LiveCapture.SourcesThatFailGiveWayToTheColourBarsAndSaySoOnce"
for name in $(ctest -N -L unit | sed -n 's/^ *Test *#[0-9]*: *//p'); do
    test=$(find tests -name "$name" -type f -perm -u+x | head -n 1)
    if valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite \
        --errors-for-leak-kinds=definite --track-origins=yes \
        --suppressions=/usr/share/glib-2.0/valgrind/glib.supp \
        --suppressions="$VELMORA_ROOT/tests/valgrind/gstreamer.supp" \
        "$test" --gtest_brief=1 --gtest_filter="$filter" >"$name.valgrind.log" 2>&1; then
        echo "ok: $name"
    else
        echo "FAILED: $name (log: build-test/$name.valgrind.log)"
        failed=1
    fi
done
exit $failed
