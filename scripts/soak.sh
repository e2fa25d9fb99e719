#!/bin/sh
# Runs `velmora window` for MINUTES minutes (default 30) on a private Xvfb and drives it from
# outside the whole time, as a user at the wall would, with xdotool: clips (R, about 2 s, R),
# pictures (S, alone and three at once), source changes (C twice), Space, Enter, M twice, and
# storms of fast pointer motion with the left and right buttons and Shift pressed and released.
# Its camera is pulled out and plugged back in once a round.
#
# The camera is the tests' fake camera, of the pluggable kind, from the tests' private plugin set
# (built in build-soak), so no real camera is ever seen: its device provider lists it while the
# file VELMORA_FAKE_PLUG_FILE exists and announces it removed when the file goes, and a camera
# streaming then stops with a read error, as a USB camera pulled out does. So removing the file
# and making it again unplugs the camera and plugs it back in, from outside, while the program
# runs; the program shows colour bars meanwhile and takes the camera back when it returns.
#
# Pictures and clips go to Pictures and Videos in a scratch home folder, counted and removed at
# the end. The program's resident size (VmRSS, read after the program has given its free heap
# back to the system, and also before), open descriptors and threads are read at the end of
# every round of actions (about 40 s) and printed. The start is taken from the first two rounds,
# a warm-up of about 80 s in which every kind of action has happened (so that GStreamer's
# plugins, thread pools and the encoders' first allocations are in it), the end from the last
# two. The soak fails if any descriptor or thread more is open at the end than at the start, if
# the resident size rose by more than 2 048 kB from the start to the end (along the straight
# line through every round's reading: single readings spread over some 3 MB), if the program is
# not running at the end, or if Escape does not end it with status 0. Every line the program
# printed is shown at the end, counted by kind. A measurement, not a test: ctest does not run it.
#
# Usage: soak.sh [MINUTES [PROGRAM]]: whole minutes, at least 3; PROGRAM is the program to soak
# instead of the one built in build (another build of it, say). The resident size's verdict is
# firm from about 10 minutes on; in shorter runs the line rests on a few readings only.
set -e
VELMORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
# The resident size may rise by this much from the start to the end, in kB: what is left of the
# readings' spread in the straight line through them, not a leak.
RSS_TOLERANCE_KB=2048

usage() {
    echo "usage: scripts/soak.sh [MINUTES [PROGRAM]]  (MINUTES: whole minutes, at least 3; default 30)" >&2
    exit 2
}

say() {
    echo "velmora: $*"
}

# Minutes and seconds since the program started.
clock() {
    elapsed=$(($(date +%s) - started))
    printf '%d:%02d' $((elapsed / 60)) $((elapsed % 60))
}

rss() {
    awk '/^VmRSS/ {print $2}' "/proc/$program_pid/status"
}

# Asks the program, through the heap trimmer loaded into it, to give its free heap back to the
# system, and waits up to 5 s until it has; says so once if it never answers.
trim() {
    : >"$trim_request.$program_pid"
    tries=0
    while [ -e "$trim_request.$program_pid" ] && [ $tries -lt 50 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    if [ -e "$trim_request.$program_pid" ] && [ -z "${said_no_trim:-}" ]; then
        said_no_trim=1
        say "the program does not give its free heap back: its resident size includes free heap"
    fi
}

# The program's resident size in kB after giving its free heap back, open descriptors and
# threads, each the smallest of three readings a second apart (a frame or a pooled thread on its
# way is not a leak), and the resident size before the first trim, as "RSS FDS THREADS UNTRIMMED".
figures() {
    untrimmed=$(rss)
    least_rss="" least_fds="" least_threads=""
    for reading in 1 2 3; do
        [ "$reading" -eq 1 ] || sleep 1
        trim
        rss=$(rss)
        fds=$(find "/proc/$program_pid/fd" -mindepth 1 -maxdepth 1 | wc -l)
        threads=$(find "/proc/$program_pid/task" -mindepth 1 -maxdepth 1 | wc -l)
        [ -n "$least_rss" ] && [ "$least_rss" -le "$rss" ] || least_rss=$rss
        [ -n "$least_fds" ] && [ "$least_fds" -le "$fds" ] || least_fds=$fds
        [ -n "$least_threads" ] && [ "$least_threads" -le "$threads" ] || least_threads=$threads
    done
    echo "$least_rss $least_fds $least_threads $untrimmed"
}

describe() {
    # shellcheck disable=SC2086
    set -- $1
    echo "resident $1 kB ($4 kB before giving free heap back), $2 descriptors, $3 threads"
}

running() {
    kill -0 "$program_pid" 2>/dev/null
}

key() {
    xdotool key "$@"
}

# About $1 seconds of pointer storm: fast motion over the window and now and then beyond it,
# the left and right buttons and Shift pressed and released at random, as one xdotool command
# chain; whatever is held at the end is let go.
storm() {
    # shellcheck disable=SC2046
    xdotool $(awk -v steps=$(($1 * 50)) -v seed="$(date +%s%N)" -v x="$window_x" -v y="$window_y" \
        -v w="$window_width" -v h="$window_height" 'BEGIN {
        srand(substr(seed, length(seed) - 8))
        for (i = 0; i < steps; i++) {
            r = rand()
            if (r < 0.7) {
                if (rand() < 0.9) printf "mousemove %d %d ", x + rand() * w, y + rand() * h
                else printf "mousemove %d %d ", rand() * 1024, rand() * 768
            } else if (r < 0.85) {
                button = rand() < 0.5 ? 1 : 3
                printf "%s %d ", held[button] ? "mouseup" : "mousedown", button
                held[button] = !held[button]
            } else {
                printf "%s shift ", shift ? "keyup" : "keydown"
                shift = !shift
            }
            printf "sleep 0.02 "
        }
        if (held[1]) printf "mouseup 1 "
        if (held[3]) printf "mouseup 3 "
        if (shift) printf "keyup shift "
    }')
}

# One round of everything a user does, about 40 s: the actions, then 20 s of input that opens
# nothing, so that the thread pools' idle threads (GLib lets them go after 15 s) are gone when
# the figures are read. Every round ends in the same state: not recording, colour dots, the
# camera plugged in and shown, M pressed an even number of times.
round() {
    rounds=$((rounds + 1))
    key r
    storm 2
    key r
    key s
    sleep 1
    key s s s
    key c
    sleep 2
    key c
    sleep 2
    key m
    storm 2
    key m
    rm -f "$plug"
    storm 3
    : >"$plug"
    sleep 3
    say "$(clock) round $rounds: a clip, 4 pictures, C twice, M twice, the camera out and back in"
    storm 6
    key space
    storm 6
    key space
    key Return
    storm 6
    sleep 2
    running || return 0
    previous=$now
    now=$(figures)
    echo "$rounds ${now%% *}" >>"$scratch/readings"
    say "$(clock) round $rounds: $(describe "$now")"
}

# How much the resident size rose from round $1 to the last, in kB, and over how many readings:
# the rise of the straight line that fits the rounds' readings best. The readings spread over a
# few MB from one round to the next (the frames and pages live at that moment), which moves the
# line far less than it moves any single reading; a leak lifts it round after round.
rise() {
    awk -v from="$1" '$1 >= from {
            n++; sx += $1; sy += $2; sxx += $1 * $1; sxy += $1 * $2
            if (n == 1) first = $1
            last = $1
        }
        END {
            slope = n > 1 ? (n * sxy - sx * sy) / (n * sxx - sx * sx) : 0
            printf "%d %d\n", slope * (last - first), n
        }' "$scratch/readings"
}

# Of two readings, each figure's smaller value: how much of its memory, descriptors and threads
# the program kept through both, without what a frame or a thread on its way adds to one.
smaller() {
    echo "$1 $2" | awk '{ for (i = 1; i <= 4; i++) printf "%d ", ($(i) < $(i + 4) ? $(i) : $(i + 4)) }'
}

# Prints how one figure changed and whether that is within its limit; records a failure.
verdict() {
    what=$1 first=$2 last=$3 limit=$4 unit=$5
    growth=$((last - first))
    if [ "$growth" -gt "$limit" ]; then
        result="GREW"
        failures="$failures $what"
    else
        result="ok"
    fi
    say "$what: $first$unit at the start, $last$unit at the end, growth $growth$unit (limit $limit$unit): $result"
}

# Lines the program wrote, counted by kind: the scratch folder's paths, the clips' lengths and
# their dropped frames left out, so that lines of one kind read the same.
by_kind() {
    sed -e "s#$scratch/[^ ]*#…#g" -e 's/([0-9.]* s/(… s/' -e 's/, [0-9]* frames dropped)/, … frames dropped)/' \
        "$1" | sort | uniq -c | sort -rn
}

cleanup() {
    if [ -n "${program_pid:-}" ] && running; then
        kill "$program_pid" 2>/dev/null || true
        wait "$program_pid" 2>/dev/null || true
    fi
    [ -n "${scratch:-}" ] && rm -rf "$scratch"
}

# On the private display: the soak itself.
soak() {
    minutes=$1 program=$2 plugins=$3
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-soak.XXXXXX")
    trap cleanup EXIT
    trap 'exit 130' INT TERM
    mkdir -p "$scratch/home/Pictures" "$scratch/home/Videos" "$scratch/config" "$scratch/run"
    chmod 700 "$scratch/run"
    plug="$scratch/camera-plugged-in"
    trim_request="$scratch/trim-heap"
    : >"$plug"
    # The tests' private plugin set and registry: the fake camera, never a real one. No session
    # bus and no Wayland display reach the program; its files go to the scratch home.
    # The readings count the memory the program holds, not what glibc keeps free for reuse,
    # which would hide a leak of a few MB: left to itself, glibc raises its mmap and trim
    # thresholds after the first large block is freed, and then keeps up to some 20 MB free in
    # each thread's arena that a clip's encoder has used, the resident size jumping by that much
    # whenever an encoder lands in another arena. A fixed mmap threshold keeps both thresholds
    # at 128 kB, so large blocks go back to the system when freed; and the heap trimmer
    # (tests/program/heap_trim.cpp) gives back the free pages left between live blocks before
    # each reading. The trimmer adds one thread of its own, at the start and the end alike.
    env -u WAYLAND_DISPLAY -u WAYLAND_SOCKET -u VELMORA_VIDEO_SOURCE -u VELMORA_FRAME_RATE \
        HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_CACHE_HOME="$scratch/cache" \
        XDG_RUNTIME_DIR="$scratch/run" DBUS_SESSION_BUS_ADDRESS=disabled: SDL_VIDEODRIVER=x11 \
        MALLOC_MMAP_THRESHOLD_=131072 LD_PRELOAD="$plugins/program/libvelmora-heap-trim.so" \
        VELMORA_HEAP_TRIM_FILE="$trim_request" \
        GST_PLUGIN_SYSTEM_PATH="$plugins/gst-plugins" GST_PLUGIN_SYSTEM_PATH_1_0="$plugins/gst-plugins" \
        GST_PLUGIN_PATH="$plugins/fakecam-plugin" GST_PLUGIN_PATH_1_0="$plugins/fakecam-plugin" \
        GST_REGISTRY="$scratch/gst-registry.bin" GST_REGISTRY_1_0="$scratch/gst-registry.bin" \
        VELMORA_FAKE_CAMERAS=pluggable VELMORA_FAKE_PLUG_FILE="$plug" \
        "$program" window >"$scratch/output" 2>"$scratch/error" &
    program_pid=$!
    started=$(date +%s)
    if ! window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Velmora$' | head -n 1) ||
        [ -z "$window" ]; then
        say "the program's window did not appear within 30 s"
        cat "$scratch/error" >&2
        exit 1
    fi
    xdotool windowfocus --sync "$window"
    window_x=0 window_y=0 window_width=800 window_height=600
    eval "$(xdotool getwindowgeometry --shell "$window" |
        sed -n 's/^\(X\|Y\|WIDTH\|HEIGHT\)=\([0-9]*\)$/window_\L\1\E=\2/p')"
    say "$(clock) the program runs (process $program_pid); warming up for two rounds"

    # The start and the end are each the smaller values of two rounds' readings, so that a
    # frame or a pooled thread on its way at one reading does not count.
    rounds=0 now=""
    while [ "$rounds" -lt 2 ] || [ $(($(date +%s) - started)) -lt 60 ]; do
        round
        running || break
    done
    if running; then
        start=$(smaller "$previous" "$now")
        say "start, after $(clock) of warm-up (rounds $((rounds - 1)) and $rounds): $(describe "$start")"
        start_round=$rounds
        first_counted=$((rounds + 1))
        round_started=$(date +%s)
        round
        round_seconds=$(($(date +%s) - round_started))
        while running && { [ "$rounds" -lt $((first_counted + 1)) ] ||
            [ $(($(date +%s) - started + round_seconds)) -le $((minutes * 60)) ]; }; do
            round
        done
    fi

    failures=""
    if running; then
        end=$(smaller "$previous" "$now")
        say "end, after $(clock) (rounds $((rounds - 1)) and $rounds): $(describe "$end")"
        # shellcheck disable=SC2086
        set -- $start
        rss0=$1 fds0=$2 threads0=$3
        # shellcheck disable=SC2086
        set -- $end
        # shellcheck disable=SC2046
        set -- $(rise "$start_round") "$@"
        if [ "$1" -gt "$RSS_TOLERANCE_KB" ]; then
            result="GREW"
            failures="$failures resident-size"
        else
            result="ok"
        fi
        say "resident size: $rss0 kB at the start, $3 kB at the end; the straight line through" \
            "the $2 readings from round $start_round on rises by $1 kB (limit $RSS_TOLERANCE_KB kB): $result"
        shift 2
        verdict "descriptors" "$fds0" "$2" 0 ""
        verdict "threads" "$threads0" "$3" 0 ""
        say "still running at the end: yes"
        key Escape
        waited=0
        while running && [ $waited -lt 100 ]; do
            sleep 0.1
            waited=$((waited + 1))
        done
        if running; then
            say "Escape did not end it within 10 s"
            failures="$failures escape"
        else
            status=0
            wait "$program_pid" || status=$?
            say "Escape ended it within $((waited / 10)).$((waited % 10)) s with status $status"
            [ "$status" -eq 0 ] || failures="$failures exit-status"
        fi
    else
        status=0
        wait "$program_pid" || status=$?
        say "still running at the end: NO, it ended after $(clock) with status $status"
        failures="$failures ended"
    fi
    program_pid=""

    say "kept $(find "$scratch/home/Videos" -name '*.webm' | wc -l) clips and" \
        "$(find "$scratch/home/Pictures" -name '*.png' | wc -l) pictures in $rounds rounds" \
        "(removed now with the scratch folder)"
    for stream in error output; do
        say "its standard $stream: $(wc -l <"$scratch/$stream") lines, by kind:"
        by_kind "$scratch/$stream"
    done
    if [ -n "$failures" ]; then
        say "soak FAILED:$failures"
        exit 1
    fi
    say "soak passed: nothing grew over $minutes minutes"
}

if [ "${1:-}" = --on-display ]; then
    soak "$2" "$3" "$4"
    exit 0
fi

[ $# -le 2 ] || usage
minutes=${1:-30}
case "$minutes" in
'' | *[!0-9]*) usage ;;
esac
minutes=$(echo "$minutes" | sed 's/^0*//') # not read as octal
[ "${minutes:-0}" -ge 3 ] || usage
if [ -n "${2:-}" ]; then
    if ! [ -f "$2" ] || ! [ -x "$2" ]; then usage; fi
    program=$(realpath "$2")
else
    program="$VELMORA_ROOT/build/velmora"
fi

. "$VELMORA_ROOT/scripts/deps.sh"
# shellcheck disable=SC2086
velmora_install $VELMORA_BUILD_PACKAGES $VELMORA_RUN_PACKAGES xvfb xauth xdotool \
    libgtest-dev libgmock-dev libxtst-dev
[ -n "${2:-}" ] || velmora_build "$VELMORA_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF
# The fake camera, the tests' private plugin set and the heap trimmer; nothing else of the tests.
velmora_build "$VELMORA_ROOT/build-soak" --target gstvelmorafakecam --target velmora-heap-trim \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_BENCH=OFF
say "soaking $program for $minutes minutes on a private Xvfb"
exec "$VELMORA_ROOT/tests/with-xvfb.sh" "$0" --on-display "$minutes" "$program" \
    "$VELMORA_ROOT/build-soak/tests"
