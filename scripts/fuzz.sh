#!/usr/bin/env bash
# Runs the fuzz harnesses of tests/fuzz under libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer, one after the other, each for the given number of seconds
# (default 60), starting from its seed corpus. Needs clang and its libFuzzer runtime (installed
# here when missing); the normal build and CI do not.
#
#   scripts/fuzz.sh [seconds] [harness...]      e.g. scripts/fuzz.sh 120 keystore httpmessage
#
# New inputs are kept in build/fuzz/corpus/<harness>; an input that fails is written to
# build/fuzz/crashes/<harness>/ (copy it into tests/fuzz/corpus/<harness>/ as repro-... once the
# fault is fixed, so that CI replays it). Extra libFuzzer flags can be given in FUZZ_FLAGS.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
    harnesses=(colouring fields filelist findforward formatfile httpmessage keystore logdocument unicode)
fi

missing=()
for package in clang libclang-rt-14-dev; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

scripts/deps.sh
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DTLG_SANITIZE=OFF -DTLG_BUILD_TESTS=ON -DTLG_BUILD_BENCH=OFF -DTLG_FUZZ=ON >/dev/null
targets=()
for harness in "${harnesses[@]}"; do
    targets+=("fuzz_$harness")
done
cmake --build build/fuzz --target "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for harness in "${harnesses[@]}"; do
    corpus=build/fuzz/corpus/$harness
    crashes=build/fuzz/crashes/$harness
    mkdir -p "$corpus" "$crashes"
    echo "== $harness: $seconds s"
    status=0
    # shellcheck disable=SC2086
    build/fuzz/tests/fuzz_"$harness" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$crashes/" ${FUZZ_FLAGS:-} "$corpus" "tests/fuzz/corpus/$harness" \
        >"build/fuzz/$harness.log" 2>&1 || status=$?
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|ERROR|SUMMARY|check failed' \
        "build/fuzz/$harness.log" || true
    echo "   corpus: $(find "$corpus" -type f | wc -l) inputs"
    [ "$status" -ne 0 ] && failed+=("$harness")
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Failed: ${failed[*]} (inputs in build/fuzz/crashes/, logs in build/fuzz/<harness>.log)"
    exit 1
fi
echo "No failures."
