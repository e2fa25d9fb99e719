# Debian packages the project needs, and a function that installs whichever of them are missing.
# Sourced by the run and test scripts; quiet when everything is already there.

VELMORA_BUILD_PACKAGES="cmake g++ make pkg-config libsdl1.2-dev libgl-dev libglu1-mesa-dev
  libx11-dev libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev"
VELMORA_RUN_PACKAGES="gstreamer1.0-plugins-base gstreamer1.0-plugins-good libgl1-mesa-dri"
VELMORA_TEST_PACKAGES="libgtest-dev libgmock-dev xvfb xauth xdotool libxtst-dev imagemagick
  desktop-file-utils man-db libbenchmark-dev clang libclang-rt-14-dev clang-format"

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
    $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get update -qq >/dev/null || return 1
    # shellcheck disable=SC2086
    $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null || return 1
}

# Configures and builds a build tree quietly; shows the tool's output only when it fails.
velmora_build() {
    dir=$1
    shift
    log="$dir.log"
    mkdir -p "$dir"
    if ! { cmake -S "$VELMORA_ROOT" -B "$dir" "$@" && cmake --build "$dir" -j "$(nproc)"; } >"$log" 2>&1; then
        cat "$log" >&2
        echo "velmora: the build in $dir failed (log: $log)" >&2
        return 1
    fi
}
