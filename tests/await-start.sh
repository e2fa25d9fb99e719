# shellcheck shell=sh
# Sourced by the tests' wrappers (with-xvfb.sh, with-weston.sh, with-pipewire.sh), which start the
# servers a test runs beside.
#
# await_start WHAT PID LOG CONDITION...: waits up to 10 s until the command CONDITION succeeds,
# the sign that WHAT, started as process PID and writing its words to LOG, is ready. When the
# process ends first or the time is up, says that WHAT did not start, shows the log, and ends the
# calling script with status 1.
await_start() {
    what=$1 pid=$2 startLog=$3
    shift 3
    tries=0
    until "$@"; do
        if ! kill -0 "$pid" 2>/dev/null || [ $tries -ge 100 ]; then
            echo "$(basename "$0" .sh): $what did not start:" >&2
            cat "$startLog" >&2
            exit 1
        fi
        tries=$((tries + 1))
        sleep 0.1
    done
}
