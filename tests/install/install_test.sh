#!/bin/sh
# Installs the built program into a scratch folder and makes its Debian package there, then checks
# what a user's system would receive: files, desktop entry, AppStream metadata, manual page,
# licence and package fields, and lintian's view of the package where lintian is installed.
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

id=org.velmora.velmora
desktop="$scratch/usr/share/applications/$id.desktop"
metainfo="$scratch/usr/share/metainfo/$id.metainfo.xml"
manual="$scratch/usr/share/man/man1/velmora.1.gz"
installed="bin/velmora share/applications/$id.desktop share/metainfo/$id.metainfo.xml
    share/icons/hicolor/scalable/apps/velmora.svg share/man/man1/velmora.1.gz
    share/doc/velmora/copyright share/doc/velmora/changelog.gz"
cmake --install "$build" --prefix "$scratch/usr" >/dev/null || exit 1
for file in $installed; do
    check "installs $file" test -s "$scratch/usr/$file"
done
check "installs the program and nothing else into bin" test "$(ls "$scratch/usr/bin")" = velmora
check "the desktop entry validates" desktop-file-validate "$desktop"
check "the desktop entry starts a window" grep -qx 'Exec=velmora window' "$desktop"
check "the desktop entry's action starts hands-free" sh -c \
    "grep -qx 'Actions=HandsFree;' '$desktop' && grep -qx 'Exec=velmora --hands-free' '$desktop'"
check "the desktop entry is in AudioVideo and Video" grep -qx 'Categories=AudioVideo;Video;' "$desktop"
check "the AppStream metadata validates" appstreamcli validate --pedantic --no-net "$metainfo"
check "the AppStream metadata launches the desktop entry" grep -q "<launchable type=\"desktop-id\">$id.desktop<" "$metainfo"
check "the AppStream metadata names this version" grep -q "<release version=\"$version\"" "$metainfo"
check "the icon is an SVG picture" grep -q '<svg' "$scratch/usr/share/icons/hicolor/scalable/apps/velmora.svg"
check "the copyright file is machine-readable" grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$scratch/usr/share/doc/velmora/copyright"
check "the changelog's latest entry is this version" sh -c "gzip -dc '$scratch/usr/share/doc/velmora/changelog.gz' | head -n 1 | grep -q '^velmora ($version) '"

man_warnings() { MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null | grep . && return 1; return 0; }
check "the manual page shows without warnings" man_warnings "$manual"
man_sections() {
    text=$(MANWIDTH=200 man -l "$1" 2>/dev/null)
    for section in NAME SYNOPSIS DESCRIPTION ARGUMENTS "KEYS AND MOUSE" ENVIRONMENT "EXIT STATUS" EXAMPLES \
        VELMORA_VIDEO_SOURCE SDL_VIDEODRIVER fullscreen window --help --version; do
        printf '%s\n' "$text" | grep -q -e "$section" || { echo "missing: $section"; return 1; }
    done
}
check "the manual page has every section" man_sections "$manual"

# Every line of the long description starts with exactly one space, so apt shows it as text.
plain_description() { dpkg-deb -f "$1" Description | sed 1d | grep -v '^ [^ ]' | grep . && return 1; return 0; }
lintian_clean() {
    lintian --pedantic "$1" >"$scratch/lintian" 2>&1
    status=$?
    cat "$scratch/lintian"
    [ "$status" -eq 0 ] || [ "$status" -eq 2 ] || return 1 # 2: tags below warnings only
    ! grep -q '^[EW]:' "$scratch/lintian"
}
(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" >/dev/null 2>&1)
arch=$(dpkg --print-architecture)
deb="$scratch/package/velmora_${version}_${arch}.deb"
check "cpack makes velmora_${version}_${arch}.deb" test -s "$deb"
if [ -s "$deb" ]; then
    check "the package is named velmora" test "$(dpkg-deb -f "$deb" Package)" = velmora
    check "the package has the project's version" test "$(dpkg-deb -f "$deb" Version)" = "$version"
    # One dependency a line: a package name, then its version constraint, if any.
    depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//')
    depends_on() { printf '%s\n' "$depends" | awk -v want="$1" '$1 == want { found = 1 } END { exit !found }'; }
    for dependency in libc6 libstdc++6 libsdl1.2debian libgl1 libglu1-mesa libx11-6 libxrandr2 \
        libgstreamer1.0-0 libgstreamer-plugins-base1.0-0 gstreamer1.0-plugins-base \
        gstreamer1.0-plugins-good; do
        check "the package depends on $dependency" depends_on "$dependency"
    done
    check "the package recommends gstreamer1.0-pipewire" \
        test "$(dpkg-deb -f "$deb" Recommends)" = gstreamer1.0-pipewire
    # dpkg-shlibdeps gives a library whose package lists its symbols the version they need.
    versioned() {
        for library in libc6 libstdc++6 libsdl1.2debian libx11-6 libgstreamer1.0-0; do
            printf '%s\n' "$depends" | awk -v want="$library" '$1 == want && $2 == "(>="' | grep -q . ||
                { echo "no version: $library in $depends"; return 1; }
        done
    }
    check "the library dependencies have the versions dpkg-shlibdeps found" versioned
    check "the long description is plain text, not preformatted" plain_description "$deb"
    contents=$(dpkg-deb -c "$deb")
    for file in $installed; do
        check "the package holds $file" sh -c "printf '%s\n' \"\$1\" | grep -q ' ./usr/$file\$'" sh "$contents"
    done
    # Errors and warnings fail; today not even a pedantic or an informational tag is left.
    if command -v lintian >/dev/null 2>&1; then
        check "lintian --pedantic finds no error and no warning" lintian_clean "$deb"
    else
        echo "skipped: lintian is not installed"
    fi
fi

echo "$failures failed"
[ "$failures" -eq 0 ]
