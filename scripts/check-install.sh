#!/usr/bin/env bash
# Checks an installed TlgView under a scratch root: every file of the install is there, the
# desktop entry and the AppStream metadata are valid, and the program answers --version
# and --help from there without a display. With a .deb instead of a folder, the package's
# list of files (dpkg-deb -c) is checked and the package unpacked into a scratch root first.
#
#   scripts/check-install.sh <root> [prefix]     an install made with DESTDIR=<root>
#   scripts/check-install.sh <package.deb>
set -euo pipefail
fail() { echo "check-install: $*" >&2; exit 1; }

target=$1
prefix=${2:-/usr}
version=$(sed -n 's/^project(TlgView VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")
[ -n "$version" ] || fail "no version in CMakeLists.txt"

files=(
    bin/tlgview
    share/applications/tlgview.desktop
    share/metainfo/dk.marvikware.TlgView.metainfo.xml
    share/man/man1/tlgview.1.gz
    share/icons/hicolor/scalable/apps/tlgview.svg
    share/tlgview/TlgView.htm share/tlgview/tlg-1.htm share/tlgview/tlg-2.htm
    share/tlgview/tlg-3.htm
)
for size in 16 22 24 32 48 64 128 256; do
    files+=("share/icons/hicolor/${size}x${size}/apps/tlgview.png")
done

cleanup=""
trap '[ -z "$cleanup" ] || rm -rf "$cleanup"' EXIT
if [ -f "$target" ]; then
    listing=$(dpkg-deb -c "$target")
    for file in "${files[@]}"; do
        grep -q " \./usr/$file\$" <<<"$listing" || fail "dpkg-deb -c does not list /usr/$file"
    done
    depends=$(dpkg-deb -f "$target" Depends)
    grep -q libqt6widgets6 <<<"$depends" || fail "Depends lacks the Qt libraries: $depends"
    cleanup=$(mktemp -d)
    dpkg-deb -x "$target" "$cleanup"
    root=$cleanup
    prefix=/usr
else
    root=$target
fi
base=$root$prefix

for file in "${files[@]}"; do
    [ -f "$base/$file" ] || fail "missing $prefix/$file"
done
[ -x "$base/bin/tlgview" ] || fail "$prefix/bin/tlgview is not executable"
for size in 16 22 24 32 48 64 128 256; do
    file "$base/share/icons/hicolor/${size}x${size}/apps/tlgview.png" |
        grep -q "PNG image data, $size x $size" || fail "the ${size}x${size} icon is not that size"
done

desktop-file-validate "$base/share/applications/tlgview.desktop" ||
    fail "desktop-file-validate refused the desktop entry"
grep -qx 'MimeType=text/x-log;text/plain;' "$base/share/applications/tlgview.desktop" ||
    fail "the desktop entry's MimeType is not text/x-log;text/plain;"
appstreamcli validate --no-net "$base/share/metainfo/dk.marvikware.TlgView.metainfo.xml" ||
    fail "appstreamcli refused the metadata"
man -l "$base/share/man/man1/tlgview.1.gz" 2>/dev/null | grep -q "a viewer for log files" ||
    fail "the manual page does not read"

# No display: a program that opened a window here would fail.
answer=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$base/bin/tlgview" --version)
[ "$answer" = "TlgView $version" ] || fail "--version printed '$answer'"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$base/bin/tlgview" --help |
    grep -q -- "--version" || fail "--help does not list --version"
echo "check-install: $target is complete"
