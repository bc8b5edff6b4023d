#!/usr/bin/env bash
# The watcher's service unit as systemd rates its sandbox: at most 2.0 ("OK").
# Reported as skipped where systemd-analyze is not installed.
set -euo pipefail
unit=$1
if ! command -v systemd-analyze >/dev/null; then
    echo "Skipped: systemd-analyze is not installed"
    exit 77
fi
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
cp "$unit" "$copy/"
report=$(systemd-analyze security --offline=true "$copy/$(basename "$unit")" 2>&1)
level=$(sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p' <<<"$report")
echo "exposure level: ${level:-none}"
if [[ -z $level ]] || awk -v l="$level" 'BEGIN { exit !(l > 2.0) }'; then
    echo "$report"
    exit 1
fi
