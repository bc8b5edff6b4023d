#!/usr/bin/env bash
# Sets up everything the tests need (packages, CUPS, a test PDF printer of
# their own), builds Deckrun with its tests and runs every test, the Windows
# half under Wine among them (label "windows"). First of all, every #include
# must go down the layers (scripts/layers.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/layers.sh --check
scripts/setup.sh --dev
scripts/build.sh
source scripts/test-printer.sh
cd "${DECKRUN_BUILD_DIR:-build}"
ctest --output-on-failure --timeout 600 "$@"
