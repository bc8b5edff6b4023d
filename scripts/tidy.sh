#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) over Deckrun's own sources in src/, in
# parallel, with the compile commands of a configured build (CMake exports
# them to compile_commands.json). Fails when any file has a finding.
#
# A file that passed once is not analysed again while its input is the same:
# the result cache is keyed on the file's preprocessed text (comments kept, so
# a NOLINT counts), its compile flags, .clang-tidy and clang-tidy's version.
# Only passes are cached; a file with findings is analysed at every run.
#
# Usage: scripts/tidy.sh [BUILD_DIR]   (default: build, or $DECKRUN_BUILD_DIR)
#   DECKRUN_TIDY_CACHE   the cache folder (default ~/.cache/deckrun/tidy; "off": no cache)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${DECKRUN_BUILD_DIR:-build}}
if [[ ! -f "$build/compile_commands.json" ]]; then
    echo "tidy: no $build/compile_commands.json; configure the build first (scripts/build.sh)." >&2
    exit 1
fi
tidy=$(command -v clang-tidy || true)
if [[ -z "$tidy" ]]; then
    echo "tidy: clang-tidy not found; scripts/setup.sh --dev installs it." >&2
    exit 1
fi
cache=${DECKRUN_TIDY_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/deckrun/tidy}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One line per source of src/ (not the generated ones under the build folder):
# the file, then the command that preprocesses it as the compiler sees it.
python3 - "$build/compile_commands.json" "$PWD/src/" >"$work/sources" <<'EOF'
import json, shlex, sys
entries = json.load(open(sys.argv[1]))
for e in entries:
    path = e["file"]
    if not (path.startswith(sys.argv[2]) and path.endswith(".cpp")):
        continue
    args = e.get("arguments") or shlex.split(e["command"])
    out, skip = [], False
    for a in args:
        if skip:
            skip = False
            continue
        if a == "-o":
            skip = True
            continue
        if a == "-c":
            continue
        out.append(a)
    # -E -C -P: the text after the preprocessor, comments kept, no line markers
    # (which name absolute paths and would keep clones from sharing the cache).
    print(path + "\t" + e["directory"] + "\t" + shlex.join(out + ["-E", "-C", "-P"]))
EOF

salt=$( { "$tidy" --version; cat .clang-tidy; } | sha256sum | cut -c1-64)
export tidy build cache salt work

check_one() {
    local path=$1 directory=$2 preprocess=$3 key=""
    if [[ $cache != off ]]; then
        key=$( { echo "$salt"; (cd "$directory" && eval "$preprocess") 2>/dev/null; } | sha256sum | cut -c1-64)
        [[ -f "$cache/$key" ]] && return 0
    fi
    local out extra=()
    out=$(mktemp "$work/out.XXXXXX")
    # This clang cannot read qpdf's JSON.hh as C++20 (a vector of the class
    # inside its own definition); the sheets are read as the C++17 they are.
    if [[ $path == */platform/sheets/* ]]; then
        extra=(--extra-arg=-std=c++17 --extra-arg=-Wno-gnu-zero-variadic-macro-arguments)
    fi
    if "$tidy" -quiet -p "$build" "${extra[@]}" "$path" >"$out" 2>&1; then
        [[ -n $key ]] && mkdir -p "$cache" && : >"$cache/$key"
        return 0
    fi
    sed 's/\x1b\[[0-9;]*m//g' "$out" |
        grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated|^Suppressed [0-9]+ warnings|^Use -header-filter' >&2
    return 1
}
export -f check_one

total=$(wc -l <"$work/sources")
status=0
tr '\n' '\0' <"$work/sources" |
    xargs -0 -P "$(nproc)" -I{} bash -c 'IFS=$'"'"'\t'"'"' read -r p d c <<<"$1"; check_one "$p" "$d" "$c"' _ {} ||
    status=$?
if [[ $status -ne 0 ]]; then
    echo "tidy: findings above (clang-tidy over $total files of src/)" >&2
    exit 1
fi
echo "tidy: $total files of src/ pass"
