#!/usr/bin/env bash
# Fails when a C++ file of the project breaks its .clang-format; lists them.
#   scripts/check-format.sh          check (one clang-format call for every file)
#   scripts/check-format.sh --fix    reformat them in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [[ ${1:-} == --fix ]]; then
    clang-format -i "${files[@]}"
    exit 0
fi
# --dry-run names each file that would change, once per change: "FILE:LINE:COL: error: ...".
if report=$(clang-format --dry-run -Werror --ferror-limit=1 "${files[@]}" 2>&1); then
    echo "format: ${#files[@]} files follow .clang-format"
    exit 0
fi
printf 'Not formatted (scripts/check-format.sh --fix mends them):\n' >&2
grep -oE '^[^:]+:[0-9]+:[0-9]+: (error|warning)' <<<"$report" | cut -d: -f1 | sort -u |
    sed 's/^/  /' >&2
grep -vE '^[^:]+:[0-9]+:[0-9]+: ' <<<"$report" | grep -E 'error|No such' >&2 || true
exit 1
