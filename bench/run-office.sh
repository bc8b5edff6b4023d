#!/usr/bin/env bash
# Times open-print-quit of one deck through Deckrun's LibreOffice backend
# against "soffice --headless --pt" on the tests' own CUPS PDF printer, in one
# run, and prints the ratio. Usage: bench/run-office.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${DECKRUN_BUILD_DIR:-build}
source scripts/test-printer.sh
if [[ ! -x $build/bench/office_bench ]]; then
    cmake -S . -B "$build" >/dev/null
    cmake --build "$build" -j2 --target office_bench >/dev/null
fi
before=$(mktemp)
trap 'rm -f "$before"' EXIT
ls "$DECKRUN_TEST_PDF_DIR" > "$before" 2>/dev/null || true
"$build/bench/office_bench" "$DECKRUN_TEST_PRINTER" "${1:-5}"
# The benchmark's PDFs are of no use afterwards.
sleep 2
comm -13 "$before" <(ls "$DECKRUN_TEST_PDF_DIR") | grep 'deckrun-bench' | while read -r f; do
    rm -f "$DECKRUN_TEST_PDF_DIR/$f"
done
