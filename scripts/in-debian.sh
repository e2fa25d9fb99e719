#!/bin/sh
# Runs a command as root in a fresh, minimal Debian system of the given release, on a clone of
# this checkout's last commit (uncommitted changes are not in it):
#     scripts/in-debian.sh trixie ./scripts/test.sh
# The first run makes the system with debootstrap --variant=minbase from Debian's archive and
# keeps a clean copy of it, a tarball, in $VELMORA_DEBIAN_CACHE (/var/cache/velmora-debian unless
# set) as RELEASE.tar; every run unpacks that copy into a scratch folder under /var/tmp, clones
# the project into /root/velmora there and runs the command from that folder in a chroot, with
# /proc, /dev and /sys of this machine. The downloaded packages are kept in RELEASE-archives/ next
# to the tarball, so the command installs everything afresh without fetching it again. Whatever
# happens, the mounts and the scratch folder are removed afterwards. In a release still in the
# making (sid), apt accepts package lists past their expiry date, and says so. Needs root; the
# mirror is $VELMORA_DEBIAN_MIRROR (http://deb.debian.org/debian unless set). Exits with the
# command's status.
set -e
if [ "$#" -lt 2 ]; then
    echo "usage: $0 RELEASE COMMAND..." >&2
    exit 2
fi
release=$1
shift
VELMORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$VELMORA_ROOT/scripts/deps.sh"
if [ "$(id -u)" -ne 0 ]; then
    echo "velmora: making and entering a Debian system needs root" >&2
    exit 1
fi
cache=${VELMORA_DEBIAN_CACHE:-/var/cache/velmora-debian}
mirror=${VELMORA_DEBIAN_MIRROR:-http://deb.debian.org/debian}
clean="$cache/$release.tar"
archives="$cache/$release-archives"
velmora_install debootstrap git
commit=$(git -C "$VELMORA_ROOT" rev-parse HEAD)
mkdir -p "$cache" "$archives/partial"

# Makes the clean system once: debootstrap into a scratch folder, packed into the tarball.
if [ ! -s "$clean" ]; then
    made=$(mktemp -d /var/tmp/velmora-debootstrap.XXXXXX)
    trap 'rm -rf --one-file-system "$made" "$clean.part"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM HUP
    echo "velmora: making a minimal Debian $release from $mirror (once; kept in $clean)"
    if ! velmora_keep_saying "making Debian $release" velmora_progress "$cache/$release.log" '
            /^I: Retrieving (InRelease|Release|Packages)/ { if (!lists++) say("reading the package lists"); next }
            /^I: Retrieving / { if (got++ % 25 == 0) say("downloading packages (" got " so far)") }
            /^I: Extracting / { if (extracted++ % 25 == 0) say("unpacking packages (" extracted " so far)") }
            /^I: Unpacking the base/ { say("installing the base system") }
            /^I: Configuring / { if (configured++ % 25 == 0) say("setting up packages (" configured " so far)") }' \
        debootstrap --variant=minbase "$release" "$made" "$mirror"; then
        cat "$cache/$release.log" >&2
        echo "velmora: debootstrap failed (log: $cache/$release.log)" >&2
        exit 1
    fi
    echo "velmora: keeping the clean Debian $release"
    rm -f "$made/var/cache/apt/archives/"*.deb
    tar -C "$made" -cf "$clean.part" .
    mv "$clean.part" "$clean"
    rm -rf --one-file-system "$made"
    trap - EXIT INT TERM HUP
fi

root=$(mktemp -d /var/tmp/velmora-debian.XXXXXX)
# Lists what is mounted at or under the scratch system, deepest first.
mounts_under() {
    awk -v root="$root" '$5 == root || index($5, root "/") == 1 { print $5 }' /proc/self/mountinfo |
        sort -r
}
# Ends what still runs inside the scratch system (a test's Xvfb, say), unmounts what was mounted
# there and removes it; nothing is removed while anything is still mounted under it.
clean_up() {
    for process in /proc/[0-9]*; do
        if [ "$(readlink "$process/root" 2>/dev/null)" = "$root" ]; then
            kill -9 "${process#/proc/}" 2>/dev/null || true
        fi
    done
    for mount_point in $(mounts_under); do
        umount -R "$mount_point" 2>/dev/null || umount -R -l "$mount_point" 2>/dev/null || true
    done
    if [ -n "$(mounts_under)" ]; then
        echo "velmora: left $root in place, something is still mounted under it" >&2
    else
        rm -rf --one-file-system "$root"
    fi
}
trap 'status=$?; echo "velmora: removing the scratch Debian $release"; clean_up; exit $status' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

echo "velmora: unpacking a fresh copy of the clean Debian $release into $root"
velmora_keep_saying "unpacking Debian $release" tar -C "$root" -xf "$clean"
echo "velmora: cloning this checkout's last commit ($(git -C "$VELMORA_ROOT" rev-parse --short HEAD)) into /root/velmora"
git clone --quiet --no-checkout "$VELMORA_ROOT" "$root/root/velmora"
git -C "$root/root/velmora" checkout --quiet --detach "$commit"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The archive signs the package lists of a release in the making (unstable, testing,
# experimental) for a week at a time, and a snapshot of it, as some mirrors serve, outlives that
# date; apt there is told to accept such lists (the command may run its own apt-get update).
# A released Debian's lists carry no such date, and if its archive says they expired anyway,
# that is a stale mirror apt should refuse, so those releases are left as they are. debootstrap
# checks the signature but not the date, so making the system needs nothing of this.
suite=$(sed -n 's/^Suite: //p' "$root"/var/lib/apt/lists/*_Release 2>/dev/null | head -n 1)
case $suite in
unstable | testing | experimental)
    echo 'Acquire::Check-Valid-Until "false";' >"$root/etc/apt/apt.conf.d/99velmora-valid-until"
    echo "velmora: Debian $release ($suite) is still in the making: its package lists expire" \
        "within days, and apt there accepts them after that date"
    ;;
esac
# A system that lives for one command need not survive a crash: dpkg skips its syncs there.
echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/velmora-scratch"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"
mount --rbind /sys "$root/sys"
mount --make-rslave "$root/sys"
mount --bind "$archives" "$root/var/cache/apt/archives"

echo "velmora: running $* in Debian $release"
status=0
chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    VELMORA_FUZZ_SECONDS="${VELMORA_FUZZ_SECONDS:-20}" \
    sh -c 'cd /root/velmora && exec "$@"' sh "$@" || status=$?
if [ "$status" -eq 0 ]; then
    echo "velmora: $* passed in Debian $release"
else
    echo "velmora: $* failed in Debian $release (status $status)" >&2
fi
exit "$status"
