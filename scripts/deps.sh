# Debian packages the project needs, a function that installs whichever of them are missing and
# one that configures and builds a build tree. Sourced by the run and test scripts; quiet about
# packages when everything is already there, and never silent for long while they work: both
# say each step and show the progress of the long ones, keeping the full output in a log that is
# shown when the step fails.

VELMORA_BUILD_PACKAGES="cmake g++ make pkg-config libsdl1.2-dev libgl-dev libglu1-mesa-dev
  libx11-dev libxrandr-dev libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libglib2.0-dev"
VELMORA_RUN_PACKAGES="gstreamer1.0-plugins-base gstreamer1.0-plugins-good libgl1-mesa-dri"
# clang's fuzzer runtime by its unversioned name, which follows the release's own clang.
VELMORA_FUZZ_PACKAGES="clang libclang-rt-dev"
# weston and xwayland: the Wayland desktop the program tests make for themselves; pipewire,
# wireplumber, dbus-daemon and GStreamer's PipeWire plugin: the private PipeWire of the test of a
# camera that PipeWire gives (dbus-daemon also the private bus of the screen saver's test).
VELMORA_TEST_PACKAGES="libgtest-dev libgmock-dev xvfb xauth xdotool libxtst-dev imagemagick
  weston xwayland
  desktop-file-utils man-db appstream lintian dpkg-dev libbenchmark-dev clang-format
  pipewire wireplumber dbus-daemon gstreamer1.0-pipewire $VELMORA_FUZZ_PACKAGES"

# Installs the named packages that are not installed yet; prints nothing if none is missing.
velmora_install() {
    missing=""
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $package"
        fi
    done
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo_cmd="sudo"
        else
            echo "velmora: these packages are missing and installing them needs root:$missing" >&2
            return 1
        fi
    else
        sudo_cmd=""
    fi
    echo "velmora: installing$missing"
    log="${TMPDIR:-/tmp}/velmora-install.log"
    echo "velmora: reading the package lists"
    # shellcheck disable=SC2086
    if ! velmora_progress "$log" '' \
        $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get update -q ||
        ! velmora_progress "$log" '
            /^Get:/ { if (got++ % 25 == 0) say("downloading packages (" got " so far)") }
            /^Unpacking / { if (unpacked++ % 25 == 0) say("unpacking packages (" unpacked " so far)") }
            /^Setting up / { if (set++ % 25 == 0) say("setting up packages (" set " so far)") }' \
            $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing; then
        cat "$log" >&2
        echo "velmora: installing$missing failed (log: $log)" >&2
        return 1
    fi
}

# Runs a command with its output in a log, while an awk program reads that output and says what
# is going on through say(text), which prints "velmora: text" at once. Returns the command's status.
# The reader can never cut the command short: the program always has a rule that reads every line
# (an awk may otherwise stop before its input), and whatever it leaves unread, even if it fails,
# is drained, so that neither tee nor the command ever writes into a closed pipe.
# (Shell functions share their variables, hence the long names.)
velmora_progress() {
    progress_log=$1
    progress_watch=$2
    shift 2
    progress_status=$(mktemp)
    # Debian's default awk, mawk, reads a pipe in large blocks unless told to take lines as they come.
    progress_awk=awk
    if awk -W version 2>/dev/null | grep -q mawk; then progress_awk="awk -W interactive"; fi
    { "$@" 2>&1; echo $? >"$progress_status"; } | tee "$progress_log" | {
        $progress_awk "function say(text) { print \"velmora: \" text; fflush() }
            $progress_watch
            { progress_lines++ }" || true
        cat >/dev/null
    }
    set -- "$(cat "$progress_status")"
    rm -f "$progress_status"
    return "${1:-1}"
}

# Configures and builds a build tree, saying each step and the build's progress every 10 % (and
# every 30 s, for a long link); the tools' full output is in DIR.log and shown when a step fails.
# Usage: velmora_build DIR [--target NAME]... [CMAKE OPTION]...: with targets, only those are built.
velmora_build() {
    dir=$1
    shift
    targets=""
    while [ "${1:-}" = --target ]; do
        targets="$targets --target $2"
        shift 2
    done
    log="$dir.log"
    name=$(basename "$dir")
    mkdir -p "$dir"
    echo "velmora: configuring $name"
    if ! cmake -S "$VELMORA_ROOT" -B "$dir" "$@" >"$log" 2>&1; then
        cat "$log" >&2
        echo "velmora: configuring $name failed (log: $log)" >&2
        return 1
    fi
    # Make prints "[ 45%] ...", Ninja "[12/80] ...": either becomes a percentage.
    # shellcheck disable=SC2086
    if ! velmora_keep_saying "building $name" velmora_progress "$log.build" '
            /^\[ *[0-9]+%\]/ { match($0, /[0-9]+/); report(substr($0, RSTART, RLENGTH) + 0) }
            /^\[[0-9]+\/[0-9]+\]/ { split(substr($0, 2, index($0, "]") - 2), n, "/"); report(int(100 * n[1] / n[2])) }
            function report(percent) {
                if (percent < next_report) return
                say("building '"$name"' (" percent "%)")
                next_report = percent - percent % 10 + 10
            }' cmake --build "$dir" -j "$(nproc)" $targets; then
        cat "$log.build" >>"$log"
        rm -f "$log.build"
        cat "$log" >&2
        echo "velmora: building $name failed (log: $log)" >&2
        return 1
    fi
    cat "$log.build" >>"$log"
    rm -f "$log.build"
}

# Runs a command and says every 30 seconds that it is still at work (what: "running the tests"),
# so that a long quiet stretch, such as a one-minute test, never looks like a hang.
velmora_keep_saying() {
    keep_saying_what=$1
    shift
    (while sleep 30 >/dev/null 2>&1; do echo "velmora: still $keep_saying_what"; done) &
    keep_saying_ticker=$!
    keep_saying_status=0
    "$@" || keep_saying_status=$?
    kill "$keep_saying_ticker" 2>/dev/null || true
    return "$keep_saying_status"
}
