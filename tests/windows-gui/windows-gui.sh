#!/usr/bin/env bash
# The whole Windows program under Wine (CTest label "windows-gui"): a private
# Wine prefix on a virtual display of its own, the program folder that
# scripts/build-windows.sh installed (build-windows-mingw/stage) copied to
# C:\deckrun with the test programs, and the stand-in "PowerPoint.Application"
# registered from there, with its folder C:\standin (script.txt, calls.log).
#   windows-gui.sh setup STATE          makes the prefix; STATE records where it is
#   windows-gui.sh run STATE CASE       one test: WindowsProgram.* (in one process)
#                                       or Program.* (the program as a user runs it)
#   windows-gui.sh cleanup STATE
# DECKRUN_WINDOWS_BUILD names the Windows build (default build-windows-mingw);
# DECKRUN_SCREENSHOT_DIR, when set, keeps the window's picture there.
set -euo pipefail
command=$1
state=$2
shift 2

here=$(cd "$(dirname "$0")" && pwd)
build=${DECKRUN_WINDOWS_BUILD:-$here/../../build-windows-mingw}
export PATH=$PATH:/usr/lib/wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no offer to install .NET or a browser engine
# UTF-8 file names on the Unix side, and no language: Wine takes English (United
# States) and a Western ANSI code page, where a Cyrillic name has no characters.
unset LANG LANGUAGE LC_CTYPE LC_MESSAGES WAYLAND_DISPLAY
export LC_ALL=C.UTF-8
printer=${DECKRUN_TEST_PRINTER:-Deckrun_Test}

fail() {
    echo "FAILED: $*" >&2
    # What there is to see: the screen, the program's output, the stand-in's calls.
    if [[ -n ${dir:-} && -n ${DISPLAY:-} ]]; then
        import -window root "$dir/failed.png" 2>/dev/null && echo "screen: $dir/failed.png" >&2
        [[ -n ${DECKRUN_SCREENSHOT_DIR:-} ]] && cp "$dir/failed.png" "$DECKRUN_SCREENSHOT_DIR/" 2>/dev/null
        [[ -f $dir/out.txt ]] && sed 's/^/  out: /' "$dir/out.txt" >&2
        [[ -f ${standin:-}/calls.log ]] && sed 's/^/  call: /' "$standin/calls.log" >&2
    fi
    # Nothing of a failed case is left to stand in the way of the next one.
    [[ -n ${WINEPREFIX:-} ]] && { wineserver -k 2>/dev/null || true; }
    exit 1
}

load_state() {
    [[ -f $state ]] || fail "no prefix: the setup test did not run"
    # shellcheck disable=SC1090
    source "$state"
    export WINEPREFIX=$dir/prefix DISPLAY
    program=$WINEPREFIX/drive_c/deckrun
    standin=$WINEPREFIX/drive_c/standin
    export DECKRUN_STANDIN_FOLDER='C:\standin' DECKRUN_TEST_PRINTER=$printer
}

# The stand-in servers of this prefix that still run.
standins() {
    local pid
    for pid in $(pgrep -f 'StandInServer.exe' || true); do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            echo "$pid"
        fi
    done
}

# Fails when a stand-in outlived what the test ran (and ends it).
no_standin_left() {
    local left=""
    for _ in $(seq 50); do
        left=$(standins)
        [[ -z $left ]] && return 0
        sleep 0.2
    done
    kill -KILL $left 2>/dev/null || true
    fail "a stand-in server was left running (process $(echo $left))"
}

# The X window of the program whose title is $1 and at least $2 pixels wide;
# waits up to $3 seconds (the first window of a new prefix takes a while: Wine
# makes its font cache then). Prints its id.
wait_window() {
    local title=$1 width=$2 seconds=$3 w geometry
    for _ in $(seq $((seconds * 5))); do
        for w in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null || true); do
            geometry=$(xdotool getwindowgeometry "$w" 2>/dev/null | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
            if [[ -n $geometry && $geometry -ge $width ]]; then
                echo "$w"
                return 0
            fi
        done
        sleep 0.2
    done
    return 1
}

# Waits until the display shows no Deckrun window: the one of the case
# before may still be on its way out after its process ended, and would be
# taken for this case's window.
wait_no_window() {
    for _ in $(seq 100); do
        [[ -z $(xdotool search --onlyvisible --name '^Deckrun$' 2>/dev/null || true) ]] && return 0
        sleep 0.2
    done
    fail "a Deckrun window of an earlier case is still shown"
}

# Waits up to $2 seconds for the process $1 to end; its status in $status.
wait_end() {
    local pid=$1 seconds=$2
    for _ in $(seq $((seconds * 5))); do
        if ! kill -0 "$pid" 2>/dev/null; then
            status=0
            wait "$pid" || status=$?
            return 0
        fi
        sleep 0.2
    done
    kill -KILL "$pid" 2>/dev/null || true
    fail "the program did not end within $seconds s"
}

# Answers the message $2 of the process $1 with Return (its OK), again until
# it takes it: a message that has only just come up may not have the focus
# yet, so it is given the focus first (there is no window manager to do it).
answer_message() {
    for _ in $(seq 60); do
        kill -0 "$1" 2>/dev/null || return 0
        xdotool windowfocus "$2" 2>/dev/null || true
        xdotool key Return 2>/dev/null || true
        sleep 1
    done
}

# Answers the box the program shows over its window $1 (the display is this
# label's own, so any other window is the box), with the focus given first;
# waits up to 30 s for it to come up and go.
answer_box() {
    local main=$1 w seen=""
    for _ in $(seq 150); do
        local other=""
        for w in $(xdotool search --onlyvisible --name '.' 2>/dev/null || true); do
            [[ $w != "$main" ]] && other=$w
        done
        if [[ -n $other ]]; then
            seen=yes
            xdotool windowfocus "$other" 2>/dev/null || true
            xdotool key Return 2>/dev/null || true
        elif [[ -n $seen ]]; then
            return 0
        fi
        sleep 0.2
    done
    fail "no box came up over the window, or it did not go"
}

# Closes the program's window as a user does (Alt+F4). The window may be gone
# before the keys are let go: whether the program ended, and how, is what
# the case checks next.
close_window() {
    xdotool key --window "$1" alt+F4 2>/dev/null || true
}

registry_set() { # NAME VALUE: the program's settings (its section "Deckrun") under the current user
    wine64 reg add 'HKCU\Software\Orvanta\Deckrun\Deckrun' /v "$1" /d "$2" /f >/dev/null 2>&1
}

register_standin() {
    wine64 'C:\deckrun\StandInServer.exe' /RegServer 'C:\standin' >/dev/null 2>&1 ||
        fail "the stand-in could not be registered"
}

deck() { # NAME: a copy of a sample deck in C:\decks
    mkdir -p "$WINEPREFIX/drive_c/decks"
    cp "$program/Samples/Quarterly Review.pptx" "$WINEPREFIX/drive_c/decks/$1"
}

script_standin() { # LINES...
    printf '%s\n' "$@" >"$standin/script.txt"
    rm -f "$standin/calls.log"
}

case_window_shows() {
    script_standin "printers=$printer"
    (cd "$program" && exec wine64 deckrun.exe) >"$dir/out.txt" 2>&1 &
    local pid=$! w
    w=$(wait_window Deckrun 500 180) || fail "the window did not show"
    sleep 1
    local shot=$dir/window.png
    import -window root "$shot"
    [[ -n ${DECKRUN_SCREENSHOT_DIR:-} ]] && cp "$shot" "$DECKRUN_SCREENSHOT_DIR/window-wine.png"
    xdotool getwindowgeometry "$w" | grep -q "Geometry: 536x471" ||
        fail "the window is not laid out as the control table says: $(xdotool getwindowgeometry "$w")"
    close_window "$w"
    wait_end "$pid" 30
    [[ $status == 0 ]] || fail "closing the window ended Deckrun with $status"
}

case_refuses_without_powerpoint() {
    wine64 'C:\deckrun\StandInServer.exe' /UnregServer >/dev/null 2>&1
    (cd "$program" && exec wine64 deckrun.exe) >"$dir/out.txt" 2>&1 &
    local pid=$! w status
    w=$(wait_window Deckrun 200 180) || fail "no message came up"
    xdotool getwindowgeometry "$w" | grep -q "Geometry: 536x471" &&
        fail "the main window showed without PowerPoint"
    answer_message "$pid" "$w"
    wait_end "$pid" 30
    [[ $status == 1 ]] || fail "Deckrun ended with $status, not 1"
}

case_command_line_names() {
    # Neither name fits code page 1252; "Cafa plan.pptx" is what a lossy
    # conversion of the second would open instead.
    deck "Отчёт Q3.pptx"
    deck "Cafā plan.pptx"
    deck "Cafa plan.pptx"
    registry_set PrinterName "$printer"
    registry_set Combo2 0
    script_standin "printers=$printer"
    (cd "$program" && exec wine64 deckrun.exe 'C:\decks\Отчёт Q3.pptx' 'C:\decks\Cafā plan.pptx') \
        >"$dir/out.txt" 2>&1 &
    local pid=$! w status
    w=$(wait_window Deckrun 536 180) || fail "the window did not show"
    sleep 2
    # "Start Printing", where the control table puts it (120, 6045 twips; 7800 x 405).
    xdotool mousemove --window "$w" 268 416 click 1
    for _ in $(seq 150); do
        [[ $(grep -c '\.Quit call' "$standin/calls.log" 2>/dev/null || true) -ge 2 ]] && break
        sleep 0.2
    done
    answer_box "$w" # "Done."
    close_window "$w"
    wait_end "$pid" 30
    grep -F 'Presentations.Open' "$standin/calls.log" >"$dir/opened.txt" || true
    grep -qF '"C:\decks\Отчёт Q3.pptx"' "$dir/opened.txt" ||
        fail "Отчёт Q3.pptx was not opened as named: $(cat "$dir/opened.txt")"
    grep -qF '"C:\decks\Cafā plan.pptx"' "$dir/opened.txt" ||
        fail "Cafā plan.pptx was not opened as named: $(cat "$dir/opened.txt")"
    grep -qF 'Cafa plan' "$dir/opened.txt" && fail "another file was opened: $(cat "$dir/opened.txt")"
    [[ $status == 0 ]] || fail "Deckrun ended with $status"
}

# "Open with Deckrun" on one more file while the window runs: that start hands
# its file to the window and ends; the window prints both.
case_open_with_hands_over() {
    deck "a.pptx"
    deck "b.pptx"
    registry_set PrinterName "$printer"
    registry_set Combo2 0
    script_standin "printers=$printer"
    (cd "$program" && exec wine64 deckrun.exe 'C:\decks\a.pptx') >"$dir/out.txt" 2>&1 &
    local pid=$! w status
    w=$(wait_window Deckrun 536 180) || fail "the window did not show"
    sleep 2
    (cd "$program" && exec wine64 deckrun.exe 'C:\decks\b.pptx') >"$dir/second.txt" 2>&1 &
    wait_end $! 30
    [[ $status == 0 ]] || fail "the second start ended with $status"
    [[ $(xdotool search --onlyvisible --name '^Deckrun$' | wc -l) -eq 1 ]] ||
        fail "the second start opened a window of its own"
    xdotool mousemove --window "$w" 268 416 click 1 # Start Printing
    for _ in $(seq 150); do
        [[ $(grep -c '\.Quit call' "$standin/calls.log" 2>/dev/null || true) -ge 2 ]] && break
        sleep 0.2
    done
    answer_box "$w" # "Done."
    close_window "$w"
    wait_end "$pid" 30
    grep -qF '"C:\decks\a.pptx"' "$standin/calls.log" || fail "a.pptx was not printed"
    grep -qF '"C:\decks\b.pptx"' "$standin/calls.log" || fail "the file handed over was not printed"
}

case_console() {
    deck "a.pptx"
    script_standin "printers=$printer"
    local out
    out=$(cd "$program" && wine64 cmd /c deckrun --version 2>&1 | tr -d '\r')
    [[ $out == "Deckrun 1.0.0" ]] || fail "deckrun --version printed \"$out\""
    out=$(cd "$program" && wine64 cmd /c deckrun --help 2>&1 | tr -d '\r')
    grep -q "^Usage: deckrun" <<<"$out" || fail "deckrun --help printed \"$out\""
    # As a Windows user stops a run, and the run log where Windows keeps it.
    grep -q "Ctrl+C, Ctrl+Break or closing the console window ends the run" <<<"${out//$'\n'/ }" ||
        fail "deckrun --help does not say how to stop a run on Windows: $out"
    grep -q 'Orvanta\\Deckrun\\State\\run-log.jsonl' <<<"$out" ||
        fail "deckrun --help does not name the run log with \\: $out"
    local status=0
    (cd "$program" && wine64 cmd /c "deckrun --print --pause 0 --printer $printer C:\\decks\\a.pptx") \
        >"$dir/print.txt" 2>&1 || status=$?
    tr -d '\r' <"$dir/print.txt" >"$dir/print.lf"
    grep -qx "Processing: a.pptx (1 of 1)" "$dir/print.lf" || fail "no progress: $(cat "$dir/print.lf")"
    grep -qx "Done." "$dir/print.lf" || fail "no end: $(cat "$dir/print.lf")"
    [[ $status == 0 ]] || fail "a printed file gave status $status"
    script_standin "printers=$printer" "open-error=The file is damaged."
    status=0
    (cd "$program" && wine64 cmd /c "deckrun --print --pause 0 --printer $printer C:\\decks\\a.pptx") \
        >"$dir/print.txt" 2>&1 || status=$?
    grep -q "^The file is damaged." "$dir/print.txt" || fail "no report: $(cat "$dir/print.txt")"
    [[ $status == 1 ]] || fail "a file that failed gave status $status, not 1"
}

case_hung_printout() {
    deck "a.pptx"
    deck "b.pptx"
    script_standin "printers=$printer" "hang=PrintOut" "fault-starts=1"
    local status=0 started ended
    started=$(date +%s)
    (cd "$program" && DECKRUN_OFFICE_DEADLINE=5 wine64 deckrun.com --print --pause 0 \
        --printer "$printer" 'C:\decks\a.pptx' 'C:\decks\b.pptx') >"$dir/print.txt" 2>&1 ||
        status=$?
    ended=$(date +%s)
    tr -d '\r' <"$dir/print.txt" >"$dir/print.lf"
    grep -q "did not answer within 5 seconds and was stopped." "$dir/print.lf" ||
        fail "no deadline report: $(cat "$dir/print.lf")"
    grep -q "PushButton3_Click at line 130" "$dir/print.lf" ||
        fail "not reported at step 130: $(cat "$dir/print.lf")"
    [[ $(grep -c "^Presentation.PrintOut call" "$standin/calls.log") -eq 2 ]] ||
        fail "the next file did not print: $(cat "$standin/calls.log")"
    [[ $status == 1 ]] || fail "status $status, not 1"
    ((ended - started < 40)) || fail "the run took $((ended - started)) s"
    echo "two files, the first one's PrintOut hung: $((ended - started)) s"
}

# A user's own PowerPoint behind a modal dialog, started before Deckrun:
# --print refuses without --yes, saying it does not answer; with --yes the
# file fails at its deadline; the user's PowerPoint lives through both.
case_users_powerpoint() {
    deck "a.pptx"
    script_standin "printers=$printer"
    (cd "$program" && exec wine64 StandInServer.exe 'C:\standin' /User /Dialog) >/dev/null 2>&1 &
    local user=$! windows_pid="" status out
    for _ in $(seq 100); do
        windows_pid=$(sed -n 's/^started //p' "$standin/calls.log" 2>/dev/null | head -n1 || true)
        [[ -n $windows_pid ]] && break
        sleep 0.2
    done
    [[ -n $windows_pid ]] || fail "the user's PowerPoint did not start"
    sleep 1 # in the running-object table just after
    local print=(wine64 deckrun.com --print --pause 0 --printer "$printer" 'C:\decks\a.pptx')
    status=0
    (cd "$program" && DECKRUN_OFFICE_DEADLINE=3 "${print[@]}") >"$dir/print.txt" 2>&1 || status=$?
    out=$(tr -d '\r' <"$dir/print.txt")
    grep -q "PowerPoint is running but does not answer" <<<"$out" || fail "not said: $out"
    grep -q "nothing was printed; give --yes" <<<"$out" || fail "not refused: $out"
    [[ $status == 1 ]] || fail "refused with status $status, not 1"
    kill -0 "$user" 2>/dev/null || fail "the user's PowerPoint was ended by a refused run"
    status=0
    (cd "$program" && DECKRUN_OFFICE_DEADLINE=3 "${print[@]}" --yes) >"$dir/print.txt" 2>&1 ||
        status=$?
    out=$(tr -d '\r' <"$dir/print.txt")
    grep -q "it was left running, as Deckrun did not start it." <<<"$out" || fail "not said: $out"
    [[ $status == 1 ]] || fail "a file that could not print gave status $status, not 1"
    kill -0 "$user" 2>/dev/null || fail "the user's PowerPoint was ended by a run with --yes"
    grep -q "^Presentations.Open" "$standin/calls.log" && fail "a file was opened in it"
    wine64 'C:\deckrun\StandInServer.exe' /End "$windows_pid" >/dev/null 2>&1 ||
        fail "the user's PowerPoint could not be asked to end"
    wait_end "$user" 30
}

case_msi() {
    local msi
    msi=$(ls "$build"/Deckrun-*-win64.msi 2>/dev/null | head -n1)
    [[ -n $msi ]] || fail "no MSI in $build (scripts/build-windows.sh makes it)"
    # A fresh prefix of its own: nothing of Deckrun there before the install.
    local fresh=$dir/msi-prefix
    WINEPREFIX=$fresh timeout 240 wine64 wineboot -i >/dev/null 2>&1
    WINEPREFIX=$fresh timeout 120 wineserver -w
    cp "$msi" "$fresh/drive_c/deckrun.msi"
    WINEPREFIX=$fresh timeout 240 wine64 msiexec /i 'C:\deckrun.msi' /qn ||
        fail "msiexec could not install $msi"
    local installed="$fresh/drive_c/Program Files/Deckrun"
    for f in deckrun.exe deckrun.com Qt6Widgets.dll platforms/qwindows.dll "Samples/Safety Briefing.pptx" \
        x/o.cjs HAND-M.CUR; do
        [[ -f "$installed/$f" ]] || fail "not installed: $f"
    done
    find "$fresh/drive_c" -name 'Deckrun.lnk' | grep -q "Start Menu" || fail "no Start menu shortcut"
    WINEPREFIX=$fresh wine64 reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
        tr -d '\r' | grep -q "DisplayName.*Deckrun" || fail "no uninstall entry"
    WINEPREFIX=$fresh wine64 reg query 'HKLM\Software\Classes\SystemFileAssociations\.pptx\shell\Deckrun' 2>/dev/null |
        tr -d '\r' | grep -q "Open with Deckrun" || fail "no \"Open with Deckrun\" for .pptx"
    WINEPREFIX=$fresh wine64 reg query 'HKLM\Software\Classes\SystemFileAssociations\.pptx\shell\Deckrun' \
        /v MultiSelectModel 2>/dev/null | tr -d '\r' | grep -q "Player" ||
        fail "\"Open with Deckrun\" is not offered for several files at once"
    local out
    out=$(cd "$installed" && WINEPREFIX=$fresh wine64 deckrun.com --version 2>&1 | tr -d '\r')
    [[ $out == "Deckrun 1.0.0" ]] || fail "the installed deckrun.com printed \"$out\""
    # The installed program starts: with no PowerPoint in this prefix it says so and ends with 1.
    (cd "$installed" && WINEPREFIX=$fresh exec wine64 deckrun.exe) >"$dir/out.txt" 2>&1 &
    local pid=$! w status
    w=$(wait_window Deckrun 200 180) || fail "the installed program showed nothing"
    answer_message "$pid" "$w"
    wait_end "$pid" 30
    [[ $status == 1 ]] || fail "the installed program ended with $status"
    WINEPREFIX=$fresh timeout 240 wine64 msiexec /x 'C:\deckrun.msi' /qn || fail "uninstall failed"
    [[ ! -e "$installed/deckrun.exe" ]] || fail "the uninstall left deckrun.exe"
    WINEPREFIX=$fresh wineserver -k 2>/dev/null || true
    rm -rf "$fresh"
}

case $command in
setup)
    stage=$build/stage
    tests=$build/tests/windows-gui
    for f in "$stage/deckrun.exe" "$stage/deckrun.com" "$tests/deckrun_windows_gui_tests.exe" \
        "$tests/StandInServer.exe"; do
        [[ -f $f ]] || fail "$f is missing: scripts/build-windows.sh builds the Windows program"
    done
    dir=$(mktemp -d "${TMPDIR:-/tmp}/deckrun-wine-gui.XXXXXX")
    exec 3<>"$dir/display"
    Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
    xvfb=$!
    for _ in $(seq 50); do
        [[ -s $dir/display ]] && break
        sleep 0.1
    done
    DISPLAY=:$(head -n1 "$dir/display")
    printf 'dir=%q\nDISPLAY=%q\nxvfb=%q\n' "$dir" "$DISPLAY" "$xvfb" >"$state"
    export WINEPREFIX=$dir/prefix DISPLAY
    timeout 240 wine64 wineboot -i >"$dir/wineboot.log" 2>&1 || { cat "$dir/wineboot.log" >&2; exit 1; }
    timeout 120 wineserver -w
    mkdir -p "$WINEPREFIX/drive_c/deckrun" "$WINEPREFIX/drive_c/standin"
    cp -r "$stage/." "$WINEPREFIX/drive_c/deckrun/"
    cp "$tests/deckrun_windows_gui_tests.exe" "$tests/StandInServer.exe" "$WINEPREFIX/drive_c/deckrun/"
    wineserver -p >/dev/null 2>&1 </dev/null
    wine64 'C:\deckrun\StandInServer.exe' /RegServer 'C:\standin' >/dev/null 2>&1 ||
        fail "the stand-in could not be registered"
    echo "Wine prefix with the Windows program ready in $dir (display $DISPLAY)"
    ;;
run)
    load_state
    name=$1
    wait_no_window
    # Every case starts from the same prefix: PowerPoint (the stand-in)
    # registered, no settings stored.
    register_standin
    wine64 reg delete 'HKCU\Software\Orvanta\Deckrun' /f >/dev/null 2>&1 || true
    case $name in
    WindowsProgram.*)
        status=0
        (cd "$program" && wine64 deckrun_windows_gui_tests.exe --gtest_filter="$name") \
            >"$dir/gtest.txt" 2>&1 </dev/null || status=$?
        cat "$dir/gtest.txt"
        [[ $status == 0 ]] || exit "$status"
        ;;
    Program.WindowShows) case_window_shows ;;
    Program.RefusesWithoutPowerPoint) case_refuses_without_powerpoint ;;
    Program.CommandLineNamesKeepEveryCharacter) case_command_line_names ;;
    Program.ConsoleAnswersAndPrints) case_console ;;
    Program.HungPrintOutIsStoppedAndTheRunGoesOn) case_hung_printout ;;
    Program.UsersPowerPointIsNeverEnded) case_users_powerpoint ;;
    Program.OpenWithHandsOverToTheRunningWindow) case_open_with_hands_over ;;
    Program.MsiInstallsAndTheProgramStarts) case_msi ;;
    *) fail "no test named $name" ;;
    esac
    no_standin_left
    ;;
cleanup)
    [[ -f $state ]] || exit 0
    load_state
    wineserver -k 2>/dev/null || true
    timeout 60 wineserver -w 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$dir" "$state"
    ;;
*)
    echo "usage: $0 setup|run|cleanup STATE [CASE]" >&2
    exit 64
    ;;
esac
