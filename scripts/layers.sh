#!/usr/bin/env bash
# Prints which source folders include which, from the #include "folder/..."
# lines under src/:
#
#   scripts/layers.sh            the folder graph, one edge a line with its count
#   scripts/layers.sh --check    fails when an include goes up a layer or sideways
#
# A folder is src/<name> (core/ with all its subfolders), or
# src/platform/<name> for the platform's own subfolders. The layers, lowest
# first; a folder may include its own files and those of the folders it
# lists, the same order as the libraries in src/CMakeLists.txt. Nothing under
# src/ includes the tests' support files. Besides, core/ needs no window:
# it includes nothing of Qt GUI or Qt Widgets (its library links Qt Core alone).
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
    [platform]=""
    [platform/qt]="platform"
    [platform/posix]="platform"
    [platform/win]="platform platform/com"
    [platform/uno]="platform platform/sheets"
    [platform/sheets]="platform"
    [platform/com]="platform"
    [platform/dummy]="platform"
    [core]="platform"
    [gui]="core platform platform/qt"
    [cli]="core platform platform/qt"
    [main]="gui cli core platform"
)

folder_of() {
    local f=${1#src/}
    case $f in
        main.cpp) echo main ;;
        platform/*/*) echo "platform/$(cut -d/ -f2 <<<"$f")" ;;
        core/*) echo core ;;
        */*) echo "${f%%/*}" ;;
        *) echo . ;;
    esac
}

edges=$(
    grep -rnE '^\s*#\s*include\s+"[^"]+/' src --include='*.h' --include='*.cpp' | while IFS= read -r line; do
        file=${line%%:*}
        inc=$(sed -E 's/.*#\s*include\s+"([^"]+)".*/\1/' <<<"$line")
        from=$(folder_of "$file")
        to=$(folder_of "src/$inc")
        [[ $from == "$to" ]] && continue
        printf '%s\t%s\t%s\n' "$from" "$to" "$file: $inc"
    done
)

if [[ ${1:-} != --check ]]; then
    cut -f1,2 <<<"$edges" | sort | uniq -c | awk '{ printf "%-16s -> %-16s %4d\n", $2, $3, $1 }'
    exit 0
fi

bad=0
while IFS=$'\t' read -r from to where; do
    [[ -z $from ]] && continue
    ok=0
    for a in ${allowed[$from]-}; do [[ $a == "$to" ]] && ok=1; done
    if [[ $ok -eq 0 ]]; then
        echo "layer violation: $from may not include $to ($where)"
        bad=1
    fi
done <<<"$edges"
# The core runs without a window: no Qt GUI or Widgets header.
while IFS= read -r line; do
    [[ -z $line ]] && continue
    echo "layer violation: core may not use Qt GUI or Widgets ($line)"
    bad=1
done < <(grep -rnE '^\s*#\s*include\s+<(QtGui|QtWidgets|QtPrintSupport)/|^\s*#\s*include\s+<Q(Widget|Application|GuiApplication|ComboBox|TreeView|Cursor|Icon|Pixmap|PrinterInfo)>' src/core || true)
[[ $bad -eq 0 ]] && echo "layers: every include goes down"
exit $bad
