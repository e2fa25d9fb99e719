#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for the given number of seconds (default
# 60), starting from its committed corpus. New inputs go to a scratch folder; a crash leaves its
# input in build-fuzz/ and makes the script fail.
set -e
seconds=${1:-60}
VELMORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$VELMORA_ROOT/scripts/deps.sh"
# shellcheck disable=SC2086
velmora_install $VELMORA_BUILD_PACKAGES $VELMORA_RUN_PACKAGES $VELMORA_FUZZ_PACKAGES
CC=clang CXX=clang++ velmora_build "$VELMORA_ROOT/build-fuzz" -DCMAKE_BUILD_TYPE=Debug \
    -DVELMORA_FUZZ=ON -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$VELMORA_ROOT/build-fuzz"
export SDL_VIDEODRIVER=dummy DISPLAY=
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for target in fuzz_arguments fuzz_events fuzz_frames; do
    mkdir -p "$scratch/$target"
    if ./fuzz/$target "$scratch/$target" "$VELMORA_ROOT/tests/fuzz/corpus/$target" \
        -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 >"$scratch/$target.log" 2>&1; then
        echo "$target: $(grep -E '^stat::number_of_executed_units' "$scratch/$target.log" | awk '{print $2}') inputs, no fault"
    else
        cat "$scratch/$target.log" >&2
        echo "$target: FAULT (input kept in build-fuzz/)" >&2
        exit 1
    fi
done
