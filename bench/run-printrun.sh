#!/usr/bin/env bash
# Print-run benchmarks: (b) the CPU a 10-second WaitSeconds costs on the real
# event loop, against a spinning wait measured in the same run; (c) how long a
# click waits to be handled during a print run (simulated application, real
# waits), against the same clicks on an idle window.
#
#   bench/run-printrun.sh [build-dir]      (WAIT_SECONDS, SPIN_SECONDS, RUN_FILES, IDLE_SECONDS override)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build}
WAIT_SECONDS=${WAIT_SECONDS:-10}
SPIN_SECONDS=${SPIN_SECONDS:-3}
RUN_FILES=${RUN_FILES:-4}
IDLE_SECONDS=${IDLE_SECONDS:-4}

if [[ ! -x $build/bench/printrun_bench ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j2 --target printrun_bench >/dev/null
fi
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
bench=$build/bench/printrun_bench

declare -A r
read_results() {
    while read -r tag key value; do
        [[ $tag == result ]] && r[$key]=$value
    done
}
read_results < <("$bench" wait-cpu "$WAIT_SECONDS" "$SPIN_SECONDS" 2>/dev/null)
read_results < <("$bench" click-latency "$RUN_FILES" "$IDLE_SECONDS" 2>/dev/null)

calc() { awk "BEGIN { printf \"$1\", $2 }"; }

echo "(b) CPU during WaitSeconds on the window's event loop ($QT_QPA_PLATFORM)"
echo "    WaitSeconds($WAIT_SECONDS): wall ${r[wait_wall_s]} s, CPU ${r[wait_cpu_s]} s," \
     "share of one core $(calc '%.3f' "${r[wait_core_share]} * 100") %   (target < 2 %)"
echo "    spinning wait (peer):  wall ${r[spin_wall_s]} s, CPU ${r[spin_cpu_s]} s," \
     "share of one core $(calc '%.1f' "${r[spin_core_share]} * 100") %"
echo "    ratio WaitSeconds / spinning: $(calc '%.5f' "${r[wait_core_share]} / ${r[spin_core_share]}")" \
     "   ratio to target: $(calc '%.4f' "${r[wait_core_share]} / 0.02")"
echo
echo "(c) click latency during a print run ($RUN_FILES files, simulated application, real waits)"
echo "    run: ${r[run_wall_s]} s, ${r[run_files_printed]} files printed, ${r[run_clicks]} clicks," \
     "${r[clicks_lost]} lost"
echo "    during the run: p50 ${r[run_p50_ms]} ms, p95 ${r[run_p95_ms]} ms, max ${r[run_max_ms]} ms   (target < 50 ms)"
echo "    idle window (peer, ${r[idle_clicks]} clicks): p50 ${r[idle_p50_ms]} ms, p95 ${r[idle_p95_ms]} ms, max ${r[idle_max_ms]} ms"
echo "    ratio run max / target: $(calc '%.4f' "${r[run_max_ms]} / 50")" \
     "   ratio run p95 / idle p95: $(calc '%.2f' "${r[run_p95_ms]} / (${r[idle_p95_ms]} > 0 ? ${r[idle_p95_ms]} : 1)")"
