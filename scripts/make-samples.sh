#!/usr/bin/env bash
# Regenerates dist/Samples/ from the text sources in samples-src/: writes each
# deck as flat presentation XML, then converts it with LibreOffice into the
# format it ships in (.pptx, .ppt or .odp). The results are committed.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 samples-src/make_fodp.py "$work/src" > "$work/list"
mkdir -p dist/Samples
while read -r line; do
    fmt=$(awk '{print $(NF-1)}' <<<"$line")
    name=${line% * *}
    stem=${name%.fodp}
    filter=$fmt
    [[ $fmt == ppt ]] && filter='ppt:MS PowerPoint 97'
    soffice -env:UserInstallation="file://$work/profile" --headless --norestore \
        --convert-to "$filter" --outdir "$work/out" "$work/src/$name" >/dev/null 2>&1
    cp "$work/out/$stem.$fmt" "dist/Samples/$stem.$fmt"
    echo "dist/Samples/$stem.$fmt"
done < "$work/list"
