#!/usr/bin/env bash
# Queue and folder-walker benchmark: builds if needed, makes a tree of
# 100,000 files in 5,000 folders, and compares adding it through the real
# walker and queue with `find` on the same tree, in this one run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
if [[ ! -x $build/bench/queue_bench ]]; then
    cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j2 --target queue_bench >/dev/null
fi
bench=$build/bench/queue_bench
export QT_QPA_PLATFORM=offscreen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree
"$bench" tree "$tree" 2>/dev/null

runs=${RUNS:-7}
find "$tree" -iname '*.ppt*' >/dev/null # warm the cache for both sides
best_of() { # best wall time in seconds of "$@" over $runs runs
    local best=999 s e t
    for _ in $(seq "$runs"); do
        s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N)
        t=$(echo "$e - $s" | bc -l)
        if (( $(echo "$t < $best" | bc -l) )); then best=$t; fi
    done
    printf '%.4f' "$best"
}
find_ppt=$(best_of find "$tree" -iname '*.ppt*')
find_all=$(best_of find "$tree" -type f)
walk_ppt=$("$bench" walk "$tree" ppt "$runs" 2>/dev/null)
walk_all=$("$bench" walk "$tree" '*' "$runs" 2>/dev/null)
rows=$("$bench" rows 2>/dev/null)
secs() { sed -E 's/.*best ([0-9.]+) s.*/\1/' <<<"$1"; }
wp=$(secs "$walk_ppt"); wa=$(secs "$walk_all")

echo "find -iname '*.ppt*':          ${find_ppt} s"
echo "find -type f:                  ${find_all} s"
echo "$walk_ppt"
echo "$walk_all"
printf 'ratio walk "ppt" / find -iname:  %.2f (target <= 1.30)\n' "$(echo "$wp / $find_ppt" | bc -l)"
printf 'ratio walk "*"   / find -iname:  %.2f\n' "$(echo "$wa / $find_ppt" | bc -l)"
printf 'ratio walk "*"   / find -type f: %.2f\n' "$(echo "$wa / $find_all" | bc -l)"
echo "$rows"
append=$(sed -nE 's/^append 100000: ([0-9.]+) s/\1/p' <<<"$rows")
printf 'appends vs target 0.333 s:      %.2f of the budget\n' "$(echo "$append / 0.3333" | bc -l)"
peak=$(sed -E 's/.*peak ([0-9]+) KiB.*/\1/' <<<"$walk_all")
printf 'peak memory at 100,000 rows:    %.1f MB (target < 100 MB)\n' "$(echo "$peak / 1024" | bc -l)"
