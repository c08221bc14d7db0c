#!/usr/bin/env bash
# Installs the Debian packages that building and testing the viewer need, when any is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libgl-dev
    libgtest-dev libbenchmark-dev
    fonts-liberation2   # a metric twin of Courier New for the log views
    fonts-wqy-microhei fonts-noto-color-emoji  # Chinese, Japanese, Korean and emoji in UTF-8 logs
    xdg-utils desktop-file-utils libglib2.0-bin  # the desktop's file associations, checked by tests
    librsvg2-bin  # rsvg-convert draws the icon's sizes
    libpcre2-dev  # the filter pane's regular expressions (PCRE2 with its JIT)
    libxxhash-dev  # check values of a large log's blocks, read from the file when shown
    libvectorscan-dev  # the overview strip's one-pass scan for every label (the Hyperscan API)
    zlib1g-dev liblzma-dev libbz2-dev libzstd-dev  # compressed logs read in place
    libarchive-dev  # members of .tar and .zip archives
    libsystemd-dev  # the systemd journal (sd-journal)
    xz-utils bzip2 zstd systemd-journal-remote  # tests make compressed logs and journal files
    dpkg-dev file appstream man-db  # the Debian package (dpkg-shlibdeps) and its checks
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
