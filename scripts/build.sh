#!/usr/bin/env bash
# Configures and builds Deckrun with a CMake preset (CMakePresets.json): "dev"
# into build/, "ci" (the same, warnings as errors) when CI=true, or the preset
# named in $DECKRUN_PRESET ("app", "asan", ...). Extra arguments go to the
# configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${DECKRUN_PRESET:-dev}
[[ "${CI:-}" == "true" && "$preset" == "dev" ]] && preset=ci
cmake --preset "$preset" "$@" >/dev/null
# Only the compiler's messages; the build's own status decides (not the filter's).
set +e
cmake --build --preset "$preset" -j"$(nproc)" 2>&1 | grep -vE '^\[ *[0-9]+%\]|^-- '
status=("${PIPESTATUS[@]}")
set -e
exit "${status[0]}"
