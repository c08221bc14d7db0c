#!/usr/bin/env bash
# Builds the Debian package (installing the packages the build needs when missing) into
# build/package/, from a release build in build/package/build. Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh >&2
out=build/package
cmake -S . -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DTLG_BUILD_TESTS=OFF -DTLG_BUILD_BENCH=OFF >&2
cmake --build "$out/build" >&2
rm -f "$out"/tlgview_*.deb
# CPack runs dpkg-shlibdeps on the program for the Depends line.
(cd "$out/build" && cpack -G DEB -B "$PWD/../" >/dev/null)
ls "$PWD/$out"/tlgview_*.deb
