#!/bin/sh
# Checks that every C and C++ source of the project is laid out as .clang-format says: prints
# each place that is not and fails. `clang-format -i FILE` lays a file out.
set -e
VELMORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$VELMORA_ROOT"
files=$(find app camera dots draw platform tests bench -type f \
    \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) | sort)
echo "velmora: checking the layout of $(echo "$files" | wc -l) source files against .clang-format"
# shellcheck disable=SC2086
if ! clang-format --dry-run -Werror $files; then
    echo "velmora: some sources are not laid out as .clang-format says (clang-format -i FILE)" >&2
    exit 1
fi
