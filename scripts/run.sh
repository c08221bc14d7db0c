#!/usr/bin/env bash
# Builds the viewer (installing its packages when missing) and starts it; arguments go to it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTLG_BUILD_TESTS=OFF >/dev/null
cmake --build build/release --target tlgview
exec build/release/tlgview "$@"
