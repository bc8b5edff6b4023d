#!/usr/bin/env bash
# (a) The per-file cost of a print run beyond its fixed waits: "Start Printing"
# on the real window with the LibreOffice backend (open, print, quit through
# UNO; the waits pass on a clock that jumps) against "soffice --headless --pt"
# on the same sample decks and the tests' own CUPS PDF printer, one soffice per
# file on a seeded profile, in the same run. Prints both and the ratio.
#
#   bench/run-printrun-office.sh [ROUNDS]     (default 2: the four samples twice)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${DECKRUN_BUILD_DIR:-build}
rounds=${1:-2}
source scripts/test-printer.sh
if [[ ! -x $build/bench/printrun_office_bench ]]; then
    cmake -S . -B "$build" >/dev/null
    cmake --build "$build" -j2 --target printrun_office_bench deckrun_dist >/dev/null
fi
before=$(mktemp)
out=$(mktemp)
cleanup() {
    # The benchmark's PDFs are of no use afterwards.
    sleep 2
    comm -13 "$before" <(ls "$DECKRUN_TEST_PDF_DIR") | grep 'deckrun-prbench' | while read -r f; do
        rm -f "$DECKRUN_TEST_PDF_DIR/$f"
    done
    rm -f "$before" "$out"
}
ls "$DECKRUN_TEST_PDF_DIR" | sort > "$before" 2>/dev/null || true
trap cleanup EXIT
"$build/bench/printrun_office_bench" "$DECKRUN_TEST_PRINTER" "$build/program/Samples" "$rounds" > "$out"

declare -A r
while read -r tag key value; do
    [[ $tag == result ]] && r[$key]=$value
done < "$out"

echo "(a) per-file cost of a print run beyond the fixed waits, printer $DECKRUN_TEST_PRINTER"
echo "    ${r[files]} files (${r[decks]} sample decks x $rounds), ${r[skipped_waits_s]} s of fixed waits skipped by the test clock"
echo "    Deckrun print run (UNO open, print, quit)  ${r[deckrun_per_file_s]} s per file   (total ${r[deckrun_total_s]} s)"
echo "    soffice --headless --pt (peer)             ${r[soffice_per_file_s]} s per file   (total ${r[soffice_total_s]} s)"
echo "    ratio Deckrun / soffice: ${r[ratio]}   (target <= 1.0)"
