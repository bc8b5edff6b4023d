#!/usr/bin/env bash
# Sets up what Deckrun needs on this machine, builds it and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
# The program alone (the "app" preset, build-app/): the tests and benchmarks
# need the --dev packages.
DECKRUN_PRESET=app scripts/build.sh
if [[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]]; then
    echo "Deckrun is built, but this machine has no graphical display (DISPLAY is not set)." >&2
    echo "Start it on a desktop session, or under a virtual display:" >&2
    echo "    xvfb-run -a ./deckrun.sh" >&2
    exit 2
fi
exec build-app/program/deckrun "$@"
