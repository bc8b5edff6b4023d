#!/usr/bin/env bash
# The private Wine prefix of the "windows" tests: made in a temporary folder
# (quietly, without a display), used by every test of the label, removed with
# its wineserver at the end.
#   wine-prefix.sh setup STATE         makes the prefix; STATE records where it is
#   wine-prefix.sh run STATE PROGRAM [ARGS...]
#   wine-prefix.sh cleanup STATE
set -euo pipefail
command=$1
state=$2
shift 2

wine=${DECKRUN_WINE64:-/usr/lib/wine/wine64}
wineserver=${DECKRUN_WINESERVER:-/usr/lib/wine/wineserver}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no offer to install .NET or a browser engine
# No locale: Wine then takes English (United States) and the Western code page 1252.
unset LANG LANGUAGE
unset DISPLAY WAYLAND_DISPLAY LC_ALL LC_CTYPE LC_MESSAGES

case $command in
setup)
    dir=$(mktemp -d "${TMPDIR:-/tmp}/deckrun-wine.XXXXXX")
    echo "$dir" >"$state"
    export WINEPREFIX=$dir/prefix
    # A new prefix must settle before the first out-of-process activation.
    if ! timeout 240 "$wine" wineboot -i >"$dir/wineboot.log" 2>&1; then
        cat "$dir/wineboot.log" >&2
        exit 1
    fi
    timeout 120 "$wineserver" -w
    # What the tests cannot make from inside Wine: a folder that is a link to
    # itself, and a drive letter on a folder of its own.
    mkdir -p "$WINEPREFIX/drive_c/deckrun-fixtures" "$dir/drive-r/A" "$dir/drive-r/B"
    ln -s loop "$WINEPREFIX/drive_c/deckrun-fixtures/loop"
    ln -s "$dir/drive-r" "$WINEPREFIX/dosdevices/r:"
    # One wineserver for the whole run, ended by cleanup, and Wine's own
    # services started now: started by a test, they would hold its output open.
    "$wineserver" -p >/dev/null 2>&1 </dev/null
    timeout 120 "$wine" reg query 'HKCU\Software' >/dev/null 2>&1 </dev/null
    echo "Wine prefix ready in $dir"
    ;;
run)
    dir=$(cat "$state")
    export WINEPREFIX=$dir/prefix DECKRUN_TEST_DRIVE=R:
    exec timeout 300 "$wine" "$@"
    ;;
cleanup)
    [[ -f "$state" ]] || exit 0
    dir=$(cat "$state")
    WINEPREFIX=$dir/prefix "$wineserver" -k 2>/dev/null || true
    WINEPREFIX=$dir/prefix timeout 60 "$wineserver" -w 2>/dev/null || true
    rm -rf "$dir" "$state"
    ;;
*)
    echo "usage: $0 setup|run|cleanup STATE [PROGRAM ARGS...]" >&2
    exit 64
    ;;
esac
