#!/bin/sh
# Runs a command beside a private PipeWire: its own D-Bus session bus, pipewire and WirePlumber,
# with every runtime, configuration, state and home folder in a scratch folder of its own, so
# that neither the daemons nor the command ever touch the user's own session. WirePlumber's
# monitors of real devices (V4L2 and libcamera cameras, ALSA, Bluetooth) are switched off: the
# only cameras are those the command makes. Everything goes away with the command.
set -u
. "$(dirname "$0")/await-start.sh"
for program in dbus-daemon pipewire wireplumber; do
    if ! command -v "$program" >/dev/null 2>&1; then
        echo "with-pipewire: $program is missing: scripts/deps.sh installs it" >&2
        exit 1
    fi
done
scratch=$(mktemp -d)
daemons=""
# shellcheck disable=SC2086
trap 'kill $daemons 2>/dev/null; wait $daemons 2>/dev/null; rm -rf "$scratch"' EXIT
trap 'exit 143' INT TERM
log="$scratch/daemons.log"
mkdir -m 700 "$scratch/run"
mkdir -p "$scratch/config/wireplumber/main.lua.d" "$scratch/config/wireplumber/bluetooth.lua.d" \
    "$scratch/config/wireplumber/wireplumber.conf.d" "$scratch/state" "$scratch/data" \
    "$scratch/cache" "$scratch/home"
# WirePlumber 0.4 (Debian 12) reads Lua: a monitor stays off when its "enabled" is false by the
# time the last file (90-enable-all.lua) starts it.
cat >"$scratch/config/wireplumber/main.lua.d/89-no-devices.lua" <<'EOF'
alsa_monitor.enabled = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
EOF
echo 'bluez_monitor.enabled = false' >"$scratch/config/wireplumber/bluetooth.lua.d/89-no-devices.lua"
# WirePlumber 0.5 (Debian 13) reads SPA-JSON: the profile's features are switched off by name.
cat >"$scratch/config/wireplumber/wireplumber.conf.d/no-devices.conf" <<'EOF'
wireplumber.profiles = {
  main = {
    hardware.audio = disabled
    hardware.bluetooth = disabled
    hardware.video-capture = disabled
    monitor.alsa = disabled
    monitor.alsa-midi = disabled
    monitor.bluez = disabled
    monitor.bluez-midi = disabled
    monitor.libcamera = disabled
    monitor.v4l2 = disabled
  }
}
EOF
export XDG_RUNTIME_DIR="$scratch/run" XDG_CONFIG_HOME="$scratch/config" \
    XDG_STATE_HOME="$scratch/state" XDG_DATA_HOME="$scratch/data" XDG_CACHE_HOME="$scratch/cache" \
    HOME="$scratch/home"
# Nothing may lead the daemons or the command to another PipeWire or its configuration.
unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR PIPEWIRE_CONFIG_DIR PIPEWIRE_CONFIG_NAME \
    WIREPLUMBER_CONFIG_DIR WIREPLUMBER_DATA_DIR DBUS_SESSION_BUS_ADDRESS

# The daemons' own words go to the log, shown only when one does not start. They are kept away
# from any display: PipeWire's bell module would open one.
dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$scratch/bus" >>"$log" 2>&1 &
daemons=$!
await_start "the private D-Bus" $! "$log" test -s "$scratch/bus"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$scratch/bus")
export DBUS_SESSION_BUS_ADDRESS
env -u DISPLAY -u WAYLAND_DISPLAY pipewire >>"$log" 2>&1 &
daemons="$daemons $!"
await_start pipewire $! "$log" test -S "$XDG_RUNTIME_DIR/pipewire-0"
env -u DISPLAY -u WAYLAND_DISPLAY wireplumber >>"$log" 2>&1 &
daemons="$daemons $!"
"$@"
