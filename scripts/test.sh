#!/bin/sh
# Installs whatever is missing, builds Velmora with its tests and runs every test: all of them on
# a plain debug build, the display-free ones again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and each fuzz target for a short while; last, checks that the
# sources are laid out as .clang-format says. The display tests start
# private Xvfb servers of their own; nothing touches the user's display.
set -e
VELMORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$VELMORA_ROOT/scripts/deps.sh"
# shellcheck disable=SC2086
velmora_install $VELMORA_BUILD_PACKAGES $VELMORA_RUN_PACKAGES $VELMORA_TEST_PACKAGES

velmora_build "$VELMORA_ROOT/build-test" -DCMAKE_BUILD_TYPE=Debug
(cd "$VELMORA_ROOT/build-test" && ctest --output-on-failure -j 2 "$@")

echo "velmora: the display-free tests under the sanitizers"
velmora_build "$VELMORA_ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON \
    -DVELMORA_BUILD_BENCH=OFF
(cd "$VELMORA_ROOT/build-asan" &&
    ASAN_OPTIONS=halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    LSAN_OPTIONS=suppressions="$VELMORA_ROOT/tests/lsan.supp" \
    ctest --output-on-failure -j 2 -L unit "$@")

echo "velmora: the fuzz targets"
"$VELMORA_ROOT/scripts/fuzz.sh" "${VELMORA_FUZZ_SECONDS:-20}"

"$VELMORA_ROOT/scripts/format-check.sh"
