#!/bin/sh
# Installs the built program into a scratch folder and makes its Debian package there, then checks
# what a user's system would receive: files, desktop entry, manual page and package fields.
set -u
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
check() { # check "what" command...
    what=$1
    shift
    if "$@" >"$scratch/out" 2>&1; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        sed 's/^/    /' "$scratch/out"
        failures=$((failures + 1))
    fi
}

cmake --install "$build" --prefix "$scratch/usr" >/dev/null || exit 1
for file in bin/velmora share/applications/velmora.desktop \
    share/icons/hicolor/scalable/apps/velmora.svg share/man/man1/velmora.1; do
    check "installs $file" test -s "$scratch/usr/$file"
done
check "installs the program and nothing else into bin" test "$(ls "$scratch/usr/bin")" = velmora
check "the desktop entry validates" desktop-file-validate "$scratch/usr/share/applications/velmora.desktop"
check "the desktop entry starts a window" grep -qx 'Exec=velmora window' "$scratch/usr/share/applications/velmora.desktop"
check "the desktop entry is in AudioVideo and Video" grep -qx 'Categories=AudioVideo;Video;' "$scratch/usr/share/applications/velmora.desktop"
check "the icon is an SVG picture" grep -q '<svg' "$scratch/usr/share/icons/hicolor/scalable/apps/velmora.svg"

man_warnings() { MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null | grep . && return 1; return 0; }
check "the manual page shows without warnings" man_warnings "$scratch/usr/share/man/man1/velmora.1"
man_sections() {
    text=$(MANWIDTH=200 man -l "$1" 2>/dev/null)
    for section in NAME SYNOPSIS DESCRIPTION ARGUMENTS "KEYS AND MOUSE" ENVIRONMENT "EXIT STATUS" EXAMPLES \
        VELMORA_VIDEO_SOURCE SDL_VIDEODRIVER fullscreen window; do
        printf '%s\n' "$text" | grep -q "$section" || { echo "missing: $section"; return 1; }
    done
}
check "the manual page has every section" man_sections "$scratch/usr/share/man/man1/velmora.1"

(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" >/dev/null 2>&1)
arch=$(dpkg --print-architecture)
deb="$scratch/package/velmora_${version}_${arch}.deb"
check "cpack makes velmora_${version}_${arch}.deb" test -s "$deb"
if [ -s "$deb" ]; then
    check "the package is named velmora" test "$(dpkg-deb -f "$deb" Package)" = velmora
    check "the package has the project's version" test "$(dpkg-deb -f "$deb" Version)" = "$version"
    depends=$(dpkg-deb -f "$deb" Depends)
    for dependency in libsdl1.2debian libgl1 libglu1-mesa libx11-6 libxrandr2 libgstreamer1.0-0 \
        libgstreamer-plugins-base1.0-0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good; do
        check "the package depends on $dependency" sh -c "printf '%s' '$depends' | tr ',' '\n' | sed 's/^ *//' | grep -qx '$dependency'"
    done
    contents=$(dpkg-deb -c "$deb")
    for file in ./usr/bin/velmora ./usr/share/applications/velmora.desktop \
        ./usr/share/icons/hicolor/scalable/apps/velmora.svg ./usr/share/man/man1/velmora.1; do
        check "the package holds $file" sh -c "printf '%s\n' \"\$1\" | grep -q ' $file\$'" sh "$contents"
    done
fi

echo "$failures failed"
[ "$failures" -eq 0 ]
