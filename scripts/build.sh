#!/usr/bin/env bash
# Configures and builds Deckrun into build/ (or $DECKRUN_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${DECKRUN_BUILD_DIR:-build}
preset_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
[[ "${CI:-}" == "true" ]] && preset_args+=(-DDECKRUN_WERROR=ON)
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S . -B "$build" "${preset_args[@]}" "$@" >/dev/null
fi
cmake --build "$build" -j"$(nproc)" 2>&1 | grep -vE '^\[ *[0-9]+%\]|^-- ' || true
test "${PIPESTATUS[0]}" -eq 0
