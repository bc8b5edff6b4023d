#!/usr/bin/env bash
# Sets up everything the tests need (packages, CUPS, a test PDF printer of
# their own), builds Deckrun with its tests and runs every test, the Windows
# half under Wine among them (label "windows"). Then clang-tidy over src/, and
# the unit and GUI tests again under AddressSanitizer and UndefinedBehaviorSanitizer
# (the "asan" preset, build-asan/).
# Arguments go to the main ctest run (for example -L unit); with arguments the
# checks after it are left out. First of all, every #include must go down the
# layers (scripts/layers.sh); every C++ file follows .clang-format
# (scripts/check-format.sh, which --fix mends).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/layers.sh --check
scripts/setup.sh --dev
scripts/check-format.sh
scripts/build.sh
source scripts/test-printer.sh
ctest --preset all "$@"
[[ $# -gt 0 ]] && exit 0
echo "== clang-tidy"
scripts/tidy.sh build
echo "== sanitizers"
DECKRUN_PRESET=asan scripts/build.sh
ctest --preset asan
