#!/bin/sh
# Installs whatever is missing, builds Velmora with its tests and runs every test: all of them on
# a plain debug build; everything built again with optimisation (where GCC finds more to warn
# about) and the package made and checked from that tree; the display-free tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer; each fuzz target for a short while; and last,
# that the sources are laid out as .clang-format says. The display tests start private Xvfb
# servers of their own; nothing touches the user's display. Arguments go to each ctest run (for
# example -R name).
set -e
VELMORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$VELMORA_ROOT/scripts/deps.sh"
# shellcheck disable=SC2086
velmora_install $VELMORA_BUILD_PACKAGES $VELMORA_RUN_PACKAGES $VELMORA_TEST_PACKAGES

velmora_build "$VELMORA_ROOT/build-test" -DCMAKE_BUILD_TYPE=Debug -DVELMORA_BUILD_TESTS=ON \
    -DVELMORA_BUILD_BENCH=ON
echo "velmora: running the tests, the display tests on private Xvfb servers"
(cd "$VELMORA_ROOT/build-test" &&
    velmora_keep_saying "running the tests" ctest --output-on-failure -j 2 -LE package "$@")

echo "velmora: everything again with optimisation, where the compiler warns about more"
velmora_build "$VELMORA_ROOT/build-release" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_BENCH=ON
echo "velmora: making and checking the Debian package"
(cd "$VELMORA_ROOT/build-release" &&
    velmora_keep_saying "checking the package" ctest --output-on-failure -L package "$@")

echo "velmora: the display-free tests under the sanitizers"
velmora_build "$VELMORA_ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON \
    -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_BENCH=OFF
(cd "$VELMORA_ROOT/build-asan" &&
    ASAN_OPTIONS=halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    LSAN_OPTIONS=suppressions="$VELMORA_ROOT/tests/lsan.supp" \
    velmora_keep_saying "running the tests under the sanitizers" \
    ctest --output-on-failure -j 2 -L unit "$@")

echo "velmora: the fuzz targets, ${VELMORA_FUZZ_SECONDS:-20} s each"
"$VELMORA_ROOT/scripts/fuzz.sh" "${VELMORA_FUZZ_SECONDS:-20}"

"$VELMORA_ROOT/scripts/format-check.sh"
