#!/bin/sh
# Builds the benchmark with optimisation and runs it on a private Xvfb with Mesa's software
# OpenGL, so that the drawing benchmarks run too; prints the table. Arguments go to the benchmark
# (for example --benchmark_filter=frame).
set -e
VELMORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$VELMORA_ROOT/scripts/deps.sh"
# shellcheck disable=SC2086
velmora_install $VELMORA_BUILD_PACKAGES $VELMORA_RUN_PACKAGES xvfb xauth libbenchmark-dev
velmora_build "$VELMORA_ROOT/build-bench" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF
exec "$VELMORA_ROOT/tests/with-xvfb.sh" "$VELMORA_ROOT/build-bench/velmora-bench" \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
