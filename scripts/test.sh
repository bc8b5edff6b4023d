#!/usr/bin/env bash
# Sets up everything the tests need (packages, CUPS, a test PDF printer of
# their own), builds Deckrun with its tests and runs every test: the Windows
# half under Wine among them (label "windows"), and the whole Windows program
# under Wine (label "windows-gui") when Qt for Windows is cached
# (scripts/build-windows.sh makes that cache once; without it the label says
# it was skipped). Then clang-tidy over src/, and the unit and GUI tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer (the "asan" preset,
# build-asan/).
#
# Arguments go to the main ctest run (for example -L unit); with arguments the
# checks after it are left out. First of all, every #include must go down the
# layers (scripts/layers.sh); every C++ file follows .clang-format
# (scripts/check-format.sh, which --fix mends).
#
# The tests mostly wait on the office and the printer, so clang-tidy and the
# sanitizer build run beside them, at a lower priority. Every stage's time is
# printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

times=()
stage_start=$SECONDS
stage() { # NAME: the stage that just ended
    times+=("$(printf '%-22s %4d s' "$1" $((SECONDS - stage_start)))")
    stage_start=$SECONDS
}
report_times() {
    echo "== stage times"
    printf '   %s\n' "${times[@]}"
    echo "   total                  $SECONDS s"
}

scripts/layers.sh --check
scripts/setup.sh --dev
stage setup
scripts/check-format.sh
stage format
scripts/build.sh
stage build
qt_cache=${DECKRUN_QT_WINDOWS:-/var/cache/deckrun/qt-6.4.2-mingw-w64}
if [[ -f $qt_cache/deckrun-qt.stamp ]]; then
    echo "== the Windows program (Qt for Windows in $qt_cache)"
    scripts/build-windows.sh
    stage build-windows
fi
source scripts/test-printer.sh
# Most of the tests wait on the office, Wine or the printer: twice as many as cores.
jobs=$((2 * $(nproc)))
if [[ $# -gt 0 ]]; then
    ctest --preset all -j"$jobs" "$@"
    exit
fi

side=$(mktemp -d)
trap 'rm -rf "$side"' EXIT
(
    cd "$PWD"
    start=$SECONDS
    status=0
    nice -n 10 scripts/tidy.sh build >"$side/tidy.log" 2>&1 || status=$?
    echo "$status $((SECONDS - start))" >"$side/tidy.done"
    start=$SECONDS
    status=0
    DECKRUN_PRESET=asan nice -n 10 scripts/build.sh >"$side/asan.log" 2>&1 || status=$?
    echo "$status $((SECONDS - start))" >"$side/asan.done"
) &
beside=$!

tests=0
ctest --preset all -j"$jobs" || tests=$?
stage tests
wait "$beside" || true
stage "(waiting for tidy/asan)"
read -r tidy_status tidy_time <"$side/tidy.done"
echo "== clang-tidy (${tidy_time} s, beside the tests)"
cat "$side/tidy.log"
read -r asan_status asan_time <"$side/asan.done" || asan_status=1
echo "== sanitizers (build ${asan_time:-?} s, beside the tests)"
cat "$side/asan.log"
asan_tests=0
if [[ $asan_status -eq 0 ]]; then
    ctest --preset asan -j"$jobs" || asan_tests=$?
fi
stage "asan tests"
report_times
[[ $tests -eq 0 && $tidy_status -eq 0 && $asan_status -eq 0 && $asan_tests -eq 0 ]]
