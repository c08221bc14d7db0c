#!/usr/bin/env bash
# Builds the viewer and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# (installing the packages when missing) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTLG_SANITIZE=ON \
      -DTLG_BUILD_TESTS=ON >/dev/null
cmake --build build/asan
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/asan --output-on-failure --timeout 600 -j2
