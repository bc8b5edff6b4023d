#!/usr/bin/env bash
# Queue and folder-walker benchmark: builds if needed, makes a tree of
# 100,000 files in 5,000 folders, and compares adding it through the real
# walker and queue with `find` on the same tree, in this one run, the two
# taking turns.
#
# Times on a shared machine vary from run to run; instructions do not. To see
# where the walk's own work goes, count them for one walk:
#   QUEUE_BENCH_NO_PUMP=1 valgrind --tool=callgrind --toggle-collect='*PushButton2_Click*' \
#       BUILD/bench/queue_bench walk TREE '*' 1
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
# Built every time (nothing to do when it is up to date), so that the numbers
# are those of the sources at hand, never of an older benchmark.
cmake --build "$build" -j2 --target queue_bench >/dev/null
bench=$build/bench/queue_bench
export QT_QPA_PLATFORM=offscreen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree
"$bench" tree "$tree" 2>/dev/null

runs=${RUNS:-9}
find "$tree" -iname '*.ppt*' >/dev/null # warm the cache for both sides
# Each walk and its find take turns, best of $runs each, so that both meet the
# same load on a shared machine.
out_ppt=$("$bench" walk "$tree" ppt "$runs" find "$tree" -iname '*.ppt*' 2>/dev/null)
out_all=$("$bench" walk "$tree" '*' "$runs" find "$tree" -type f 2>/dev/null)
rows=$("$bench" rows 2>/dev/null)
secs() { sed -E 's/.*best ([0-9.]+) s.*/\1/' <<<"$1"; }
walk_ppt=$(grep '^walk' <<<"$out_ppt"); walk_all=$(grep '^walk' <<<"$out_all")
find_ppt=$(secs "$(grep '^peer' <<<"$out_ppt")"); find_all=$(secs "$(grep '^peer' <<<"$out_all")")
wp=$(secs "$walk_ppt"); wa=$(secs "$walk_all")

echo "find -iname '*.ppt*':          ${find_ppt} s"
echo "find -type f:                  ${find_all} s"
echo "$walk_ppt"
echo "$walk_all"
printf 'ratio walk "ppt" / find -iname:  %.2f (target <= 0.81)\n' "$(echo "$wp / $find_ppt" | bc -l)"
printf 'ratio walk "*"   / find -iname:  %.2f\n' "$(echo "$wa / $find_ppt" | bc -l)"
printf 'ratio walk "*"   / find -type f: %.2f (target <= 1.10)\n' "$(echo "$wa / $find_all" | bc -l)"
echo "$rows"
append=$(sed -nE 's/^append 100000: ([0-9.]+) s/\1/p' <<<"$rows")
printf 'appends vs target 0.333 s:      %.2f of the budget\n' "$(echo "$append / 0.3333" | bc -l)"
peak=$(sed -E 's/.*peak ([0-9]+) KiB.*/\1/' <<<"$walk_all")
printf 'peak memory at 100,000 rows:    %.1f MB (target < 100 MB)\n' "$(echo "$peak / 1024" | bc -l)"
