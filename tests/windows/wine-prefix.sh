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

# The Unix processes of this run (this prefix, and started under this run
# step: Wine hands the environment on) whose command line names $1.
run_processes() {
    local pid
    for pid in $(pgrep -f -- "$1" || true); do
        [[ $pid == "$$" || $pid == "$BASHPID" ]] && continue # this script
        if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null |
            grep -xF -e "WINEPREFIX=$WINEPREFIX" -e "DECKRUN_WINE_RUN=$DECKRUN_WINE_RUN" |
            [[ $(wc -l) -eq 2 ]]; then
            echo "$pid"
        fi
    done
}

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
    # The program writes to a file, not to the caller's pipe: a server it starts
    # inherits the program's Unix standard error and must not hold the caller's
    # output open after the program has ended.
    output=$(mktemp "$dir/run.XXXXXX")
    export DECKRUN_WINE_RUN=${output##*/}
    rc=0
    timeout 240 "$wine" "$@" >"$output" 2>&1 </dev/null || rc=$?
    cat "$output"
    rm -f "$output"
    # A stand-in server of this run still running now was left behind: a
    # failure, and it is ended (only this run's: other tests, and other
    # checkouts' prefixes, have their own).
    for _ in $(seq 50); do
        left=$(run_processes StandInServer.exe)
        [[ -z "$left" ]] && break
        sleep 0.2
    done
    if [[ -n "$left" ]]; then
        echo "the stand-in server did not end (process $(echo $left)); ended now" >&2
        kill -KILL $left 2>/dev/null || true
        rc=1
    fi
    exit "$rc"
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
