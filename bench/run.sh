#!/usr/bin/env bash
# Measures the viewer on large logs against its floors, in one run, and prints medians of
# five runs after a warm-up. Builds the release tree first. Needs about 4.5 GiB in $LOGS, and
# 5 GiB more in $TABS_LOGS for fifty logs open at once.
#
#   bench/run.sh            (LOGS=/tmp/tlg-bench-logs, TABS_LOGS=/tmp/tlg-tabs-bench-logs by default)
#   BIG=1 bench/run.sh      also a 10 GiB log: 10 GiB more in $LOGS, and memory to keep it
#                           in the page cache (the figures are for a warm file)
set -euo pipefail
cd "$(dirname "$0")/.."
LOGS=${LOGS:-/tmp/tlg-bench-logs}
TABS_LOGS=${TABS_LOGS:-/tmp/tlg-tabs-bench-logs}
BIN=build/release/bench
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTLG_BUILD_TESTS=OFF -DTLG_BUILD_BENCH=ON >/dev/null
cmake --build build/release >/dev/null
mkdir -p "$LOGS"
[ -f "$LOGS/100m.log" ] || "$BIN/genlog" 100 "$LOGS/100m.log"
[ -f "$LOGS/1g.log" ] || { "$BIN/genlog" 1024 "$LOGS/1g.log"; echo "a NeedleWord near the end" >> "$LOGS/1g.log"; }
[ -f "$LOGS/1g-crlf.log" ] || "$BIN/genlog" 1024 "$LOGS/1g-crlf.log" crlf
[ -f "$LOGS/1g-utf8.log" ] || "$BIN/genlog" 1024 "$LOGS/1g-utf8.log" utf8
# Its first 512 MiB written as UTF-16LE (a 1 GiB file), and the log with a NUL on its tenth line.
[ -f "$LOGS/1g-utf16.log" ] || head -c 512M "$LOGS/1g.log" | iconv -f UTF-8 -t UTF-16LE > "$LOGS/1g-utf16.log"
[ -f "$LOGS/1g-nul.log" ] || awk 'NR == 10 { printf "%s%c\n", $0, 0; next } { print }' "$LOGS/1g.log" > "$LOGS/1g-nul.log"
sync # so that writing the logs back does not slow the runs

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
runs() { # runs "command" five times after a warm-up, each printing one number
    eval "$1" >/dev/null
    for _ in 1 2 3 4 5; do eval "$1"; done | median
}

# The whole program against the floor, run in turn so that both see the same machine: the
# median of five ratios, each of a floor run and the open that follows it.
for log in 100m 1g 1g-crlf 1g-utf8 1g-utf16 1g-nul; do
    file="$LOGS/$log.log"
    "$BIN/floor" "$file" >/dev/null
    "$BIN/open_bench" "$file" >/dev/null 2>&1
    for _ in 1 2 3 4 5; do
        floor=$("$BIN/floor" "$file" | awk '{ print $1 }')
        open=$("$BIN/open_bench" "$file" 2>/dev/null | awk '/open to coloured bottom/ { print $5 }')
        echo "$floor $open"
    done > "$LOGS/pairs"
    ratio=$(awk '{ print $2 / $1 }' "$LOGS/pairs" | median)
    echo "$log: floor (mmap + memchr index) $(awk '{ print $1 }' "$LOGS/pairs" | median) ms, open to the coloured last screenful $(awk '{ print $2 }' "$LOGS/pairs" | median) ms beyond the start, median ratio $(printf %.2f "$ratio")"
    "$BIN/open_bench" "$file" 2>/dev/null | grep -E 'peak memory [0-9]'
done
"$BIN/open_bench" "$LOGS/1g.log" 2>/dev/null | grep -E 'paints|word wrap'
# A source's own reads, and following each kind as 1 MB is appended.
for log in 1g 1g-utf16 1g-nul; do
    echo "$log: $("$BIN/source_bench" "$LOGS/$log.log" | tr '\n' ';')"
done

grep=$(runs "( TIMEFORMAT=%R; time LC_ALL=C grep -c -i needleword $LOGS/1g.log >/dev/null ) 2>&1 | awk '{ print \$1 * 1000 }'")
echo "grep -c -i over 1 GiB: $grep ms"
# The filter pane against grep on the same log, in the same run. grep writes its count to a
# file: with its output on /dev/null GNU grep stops at the first match.
grepword=$(runs "( TIMEFORMAT=%R; time LC_ALL=C grep -c -i error $LOGS/1g.log >$LOGS/count ) 2>&1 | awk '{ print \$1 * 1000 }'")
grepregex=$(runs "( TIMEFORMAT=%R; time LC_ALL=C grep -c -E 'err(or)?\\s+\\d+' $LOGS/1g.log >$LOGS/count ) 2>&1 | awk '{ print \$1 * 1000 }'")
echo "LC_ALL=C grep -c -i error: $grepword ms; LC_ALL=C grep -c -E 'err(or)?\\s+\\d+': $grepregex ms"
"$BIN/filter_bench" "$LOGS/1g.log" 2>/dev/null | grep -E '^(filter|pane)'
# A stack of five filters: its first pass against the floor and the grep pipeline of the same
# rows, switching a row, peak memory.
"$BIN/filterstack_bench" "$LOGS/1g.log" 2>/dev/null | grep -E '^(log|floor|first|grep|switch|peak)'
# The same stack in the whole viewer: from the start until the view shows the kept lines.
"$BIN/stack_open_bench" "$LOGS/1g.log" 2>/dev/null | grep -vE '^round'
# The overview strip's pass against grep with the default profile's nine labels (as
# overview_bench lists them), wall and CPU time.
labels=(-e Fatal -e Internal -e error -e Failed -e 'Found S' -e Start -e '***' -e 'Found G' -e txt)
grepwall=$(runs "( TIMEFORMAT=%R; time LC_ALL=C grep -c -i -F ${labels[*]@Q} $LOGS/1g.log >$LOGS/count ) 2>&1 | awk '{ print \$1 * 1000 }'")
grepcpu=$(runs "( TIMEFORMAT='%U %S'; time LC_ALL=C grep -c -i -F ${labels[*]@Q} $LOGS/1g.log >$LOGS/count ) 2>&1 | awk '{ print (\$1 + \$2) * 1000 }'")
overviewwall=$(runs "$BIN/overview_bench $LOGS/1g.log 2>/dev/null | awk '{ print \$4 * 1000 }'")
overviewcpu=$(runs "$BIN/overview_bench $LOGS/1g.log 2>/dev/null | awk '{ gsub(/\\(/, \"\"); print \$6 * 1000 }'")
echo "overview pass: $overviewwall ms ($overviewcpu ms of CPU); LC_ALL=C grep -c -i -F with its labels: $grepwall ms ($grepcpu ms of CPU)"
"$BIN/core_bench" 2>/dev/null | grep -E '^BM_'
"$BIN/colouring_bench" 2>/dev/null | grep -E '^BM_'
"$BIN/paint_bench" 2>/dev/null
# A log read from its file: its index's size, a find near its end against grep, following it.
"$BIN/paged_bench" "$LOGS/1g.log" NeedleWord 2>/dev/null
# Fifty logs of 100 MiB open at once, one tab each: the open against the floor over the same
# files in turn, the memory, switching tabs and following (it writes the logs when missing).
"$BIN/tabs_bench" "$TABS_LOGS" 2>/dev/null | grep -vE '^round'

# The 1 GiB log dealt out into four files and merged by time, beside the floor over the four
# and lnav (when installed) over the same files; then following eight small merged files.
command -v lnav >/dev/null || export MERGED_BENCH_NO_LNAV=1
"$BIN/merged_bench" "$LOGS/1g.log" "$LOGS/merged" 2>/dev/null

if [ "${BIG:-0}" = 1 ]; then
    [ -f "$LOGS/10g.log" ] || { "$BIN/genlog" 10240 "$LOGS/10g.log"; echo "a NeedleWord near the end" >> "$LOGS/10g.log"; }
    cat "$LOGS/10g.log" >/dev/null # warm
    floor=$(runs "$BIN/floor $LOGS/10g.log | awk '{ print \$1 }'")
    open=$(runs "$BIN/open_bench $LOGS/10g.log 2>/dev/null | awk '/open to coloured bottom/ { print \$5 }'")
    echo "10g: floor (mmap + memchr index) $floor ms, open to the coloured last screenful $open ms beyond the start, ratio $(awk "BEGIN { printf \"%.2f\", $open / $floor }")"
    "$BIN/open_bench" "$LOGS/10g.log" 2>/dev/null | grep -E 'peak memory|paints|word wrap|longest'
    grep10=$(runs "( TIMEFORMAT=%R; time LC_ALL=C grep -c -i needleword $LOGS/10g.log >$LOGS/count ) 2>&1 | awk '{ print \$1 * 1000 }'")
    echo "LC_ALL=C grep -c -i needleword over 10 GiB: $grep10 ms"
    "$BIN/paged_bench" "$LOGS/10g.log" NeedleWord 2>/dev/null
fi
