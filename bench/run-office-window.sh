#!/usr/bin/env bash
# The window while the real LibreOffice works, on the tests' own CUPS PDF printer:
# (d) how long a click waits to be handled during a print run whose fixed
#     waits are skipped (so the clicks land while the office works), against
#     the same clicks on the idle window;
# (e) from closing the window in the middle of a load (3,000 slides) and of a
#     pause to the end of Deckrun and of its office.
#
#   bench/run-office-window.sh [ROUNDS]     (default 2 rounds of the samples, 5 closes each)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${DECKRUN_BUILD_DIR:-build}
rounds=${1:-2}
source scripts/test-printer.sh
if [[ ! -x $build/bench/office_window_bench ]]; then
    cmake -S . -B "$build" >/dev/null
    cmake --build "$build" -j2 --target office_window_bench deckrun_dist >/dev/null
fi
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
bench=$build/bench/office_window_bench
samples=$build/program/Samples
before=$(mktemp)
cleanup() {
    sleep 2
    comm -13 "$before" <(ls "$DECKRUN_TEST_PDF_DIR" | sort) | grep 'deckrun-owbench' | while read -r f; do
        rm -f "$DECKRUN_TEST_PDF_DIR/$f"
    done
    rm -f "$before"
}
ls "$DECKRUN_TEST_PDF_DIR" | sort > "$before" 2>/dev/null || true
trap cleanup EXIT

declare -A r
read_results() {
    local prefix=$1
    while read -r tag key value; do
        [[ $tag == result ]] && r[$prefix$key]=$value
    done
}
read_results "" < <("$bench" click-latency "$DECKRUN_TEST_PRINTER" "$samples" "$rounds" 2>/dev/null)
read_results "load_" < <("$bench" close load "$DECKRUN_TEST_PRINTER" "$samples" 5 2>/dev/null)
read_results "pause_" < <("$bench" close pause "$DECKRUN_TEST_PRINTER" "$samples" 5 2>/dev/null)

calc() { awk "BEGIN { printf \"$1\", $2 }"; }

echo "(d) click latency during a print run with the real office ($QT_QPA_PLATFORM, fixed waits skipped)"
echo "    run: ${r[run_files]} files in ${r[run_wall_s]} s, ${r[run_count]} clicks handled"
echo "    during the run: p50 ${r[run_p50_ms]} ms, p95 ${r[run_p95_ms]} ms, max ${r[run_max_ms]} ms   (target p95 < 50 ms)"
echo "    idle window (peer, ${r[idle_count]} clicks): p50 ${r[idle_p50_ms]} ms, p95 ${r[idle_p95_ms]} ms, max ${r[idle_max_ms]} ms"
echo "    ratio run p95 / target: $(calc '%.3f' "${r[run_p95_ms]} / 50")"
echo
echo "(e) closing the window to the end of Deckrun and its office (target < 500 ms)"
for m in load pause; do
    echo "    mid-$m (${r[${m}_exit_count]} closes): process ends p50 ${r[${m}_exit_p50_ms]} ms, max ${r[${m}_exit_max_ms]} ms;" \
         "office gone p50 ${r[${m}_office_gone_p50_ms]} ms, max ${r[${m}_office_gone_max_ms]} ms;" \
         "offices left ${r[${m}_offices_left]}   ratio max / target: $(calc '%.3f' "${r[${m}_office_gone_max_ms]} / 500")"
done
