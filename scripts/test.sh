#!/bin/sh
# Installs whatever is missing, builds Velmora with its tests and runs every test. The display
# tests start private Xvfb servers of their own; nothing touches the user's display.
set -e
VELMORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$VELMORA_ROOT/scripts/deps.sh"
# shellcheck disable=SC2086
velmora_install $VELMORA_BUILD_PACKAGES $VELMORA_RUN_PACKAGES $VELMORA_TEST_PACKAGES
velmora_build "$VELMORA_ROOT/build-test" -DCMAKE_BUILD_TYPE=Debug
cd "$VELMORA_ROOT/build-test"
ctest --output-on-failure -j 2 "$@"
