#!/bin/sh
# Checks scripts/deps.sh's progress display: it says what its awk program sees, keeps the whole
# output in the log and returns the command's status; and an awk that stops before its input (as
# mawk of 2026 does with a program that has no rule that could print) neither cuts the command
# short nor loses its output or status.
set -u
VELMORA_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$VELMORA_ROOT/scripts/deps.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
expect() { # expect "what" test-arguments...
    what=$1
    shift
    if [ "$@" ]; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}
# More output than a pipe holds, then a status of its own.
talker() { sh -c 'seq 1 100000; echo last; exit 3'; }

said=$(velmora_progress "$scratch/log" '/^50000$/ { say("half way") }' talker)
status=$?
expect "say() prints what the program sees" "$said" = "velmora: half way"
expect "the command's status is returned" "$status" -eq 3
expect "the log holds the whole output" "$(wc -l <"$scratch/log")" -eq 100001
said=$(velmora_progress "$scratch/log" '' talker)
status=$?
expect "a program without rules says nothing" -z "$said"
expect "and still reads everything" "$(tail -n 1 "$scratch/log")" = last
expect "with the command's status" "$status" -eq 3

# An awk that exits at once, without reading anything.
mkdir "$scratch/bin"
printf '#!/bin/sh\nexit 0\n' >"$scratch/bin/awk"
chmod +x "$scratch/bin/awk"
PATH="$scratch/bin:$PATH" velmora_progress "$scratch/log" '' talker
status=$?
expect "a reader that stops at once leaves the command its status" "$status" -eq 3
expect "and the log its whole output" "$(wc -l <"$scratch/log")" -eq 100001

echo "$failures failed"
[ "$failures" -eq 0 ]
