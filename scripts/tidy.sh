#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) over Deckrun's own sources in src/, in
# parallel, with the compile commands of a configured build (CMake exports
# them to compile_commands.json). Fails on the first finding.
# Usage: scripts/tidy.sh [BUILD_DIR]   (default: build, or $DECKRUN_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${DECKRUN_BUILD_DIR:-build}}
if [[ ! -f "$build/compile_commands.json" ]]; then
    echo "tidy: no $build/compile_commands.json; configure the build first (scripts/build.sh)." >&2
    exit 1
fi
tidy=$(command -v run-clang-tidy || command -v run-clang-tidy.py || true)
if [[ -z "$tidy" ]]; then
    echo "tidy: run-clang-tidy not found; scripts/setup.sh --dev installs clang-tidy." >&2
    exit 1
fi
# The sources of src/ only (not the generated ones under the build folder).
set +e
"$tidy" -quiet -p "$build" -j "$(nproc)" "^$PWD/src/.*\.cpp$" 2>&1 \
    | sed 's/\x1b\[[0-9;]*m//g' \
    | grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated|^Suppressed [0-9]+ warnings|^Use -header-filter|^clang-tidy-[0-9]+ '
status=("${PIPESTATUS[@]}")
exit "${status[0]}"
