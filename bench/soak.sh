#!/usr/bin/env bash
# Soak test of `deckrun --print`: one run over 200 files, good and bad, while
# the office is stopped and killed and the printer refuses jobs at random
# moments; then every file is checked against what came out of the printer
# and what the run log says. About a quarter of an hour on two cores; not part
# of the test command.
#
#   bench/soak.sh [--seed N] [--files N] [--deadline SECONDS] [--fast [--jobs N]] [--keep]
#
#   --seed N        repeats an earlier soak (every soak prints its seed): the
#                   same files in the same order, the same faults drawn at the
#                   same moments of the run (what a fault hits depends on the
#                   office's timing)
#   --files N       how many files (default 200, at most 999)
#   --deadline S    DECKRUN_OFFICE_DEADLINE for the run (default 20)
#   --fast          soaks `deckrun --print --fast` (one office for the run, a
#                   fresh one after each failed file); its files go by about
#                   ten times as fast, so the faults come every 2 to 7 s
#   --jobs N        with --fast: N offices side by side (the faults hit one of them)
#   --keep          keeps the temporary folder (decks, Deckrun's output, run
#                   log, fault log) and the PDFs, and says where they are
#
# The soak has a CUPS PDF printer and a PDF folder of its own ($SOAK_PRINTER,
# default Deckrun_Test_Soak; $SOAK_PDF_DIR, default /var/tmp/deckrun-pdf-soak:
# earlier soaks' PDFs are removed first, and a folder holding other PDFs is
# refused), and runs Deckrun with HOME and the XDG folders in its
# temporary folder, so Deckrun's settings, office profile and run log are the
# soak's own. The program comes from the tree's build of the preset
# $DECKRUN_PRESET (default "dev", folder build/), built when out of date.
#
# The files, in a seeded order ("soak-NNN ..." is the file's place in the run):
# copies of the bundled samples; damaged decks (empty, truncated, garbage,
# scrambled, text); decks with a password to open, saved by LibreOffice on a
# throwaway profile (bench/soak-protect.xba); and copies that the soak deletes
# once the run has begun, before their turn.
#
# Faults, one every 20 to 50 s: the office stopped (SIGSTOP) or killed
# (SIGKILL): only the soffice.bin whose command line names the soak's profile
# and whose parent is the Deckrun under test; or the printer rejecting jobs for
# 3 to 10 s (cupsreject, then cupsaccept, on the soak's printer only).
#
# Matching PDFs to files: the samples carry no document title, so LibreOffice
# names each job after the file ("soak-017 Quarterly Review.pptx"), and the
# soak's printer (cups-pdf, TitlePref 1) names each PDF after the job title
# with spaces as "_", a three-letter extension dropped and the job id added
# ("soak-017_Quarterly_Review.pptx-job_912.pdf"). A PDF belongs to the file
# whose number follows "soak-" when it also begins with the rest of that file's
# name without its extension ("soak-017_Quarterly_Review"); the job id keeps a
# second print of a file from overwriting the first, so a file printed twice
# has two PDFs. A PDF that belongs to no file (another program printing on the
# soak's printer) counts against the soak. The run log names files by their
# full paths.
#
# It prints these lines, then the details (the faults and what became of the
# file in hand, failures by step, every file that counts against a line
# marked "must be 0"):
#   files printed exactly once: N
#   files failed and logged with a step: N
#   files printed twice: N (must be 0)
#   files neither printed nor logged: N (must be 0)
#   files logged "printed" whose PDF never came: N (must be 0)
#   files with a PDF whose log says failed: N
#   offices left: N (must be 0)
#   deckrun's exit status: S (expected E)
#   wall time: ...
# "Files with a PDF whose log says failed" can be right: the office was
# stopped after the job reached the printer but before it confirmed it, so
# the print step (130) of that file failed. The soak ends with status 1 when a "must be 0" count is not 0, the
# exit status is not the expected one, a file has more than one log line or
# none but a PDF, a log line has no step, a PDF matches no file or has the
# wrong page count, or Deckrun had to be stopped by the soak; 2 when it could
# not set itself up.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

seed=$(( ($(date +%s%N) / 1000) % 1000000 ))
nfiles=200
deadline=20
keep=0
fast=()
while [[ $# -gt 0 ]]; do
    case $1 in
        --seed) seed=${2:?--seed takes a number}; shift 2 ;;
        --files) nfiles=${2:?--files takes a number}; shift 2 ;;
        --deadline) deadline=${2:?--deadline takes seconds}; shift 2 ;;
        --keep) keep=1; shift ;;
        --fast) fast+=(--fast); shift ;;
        --jobs) fast+=(--jobs "${2:?--jobs takes a number}"); shift 2 ;;
        -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) echo "soak: unknown argument \"$1\" (see --help)" >&2; exit 2 ;;
    esac
done
if ! [[ $seed =~ ^[0-9]+$ && $nfiles =~ ^[0-9]+$ && $deadline =~ ^[0-9]+$ ]] ||
    ((nfiles < 10 || nfiles > 999 || deadline < 5)); then
    echo "soak: --seed, --files (10 to 999) and --deadline (5 s or more) take whole numbers" >&2
    exit 2
fi

printer=${SOAK_PRINTER:-Deckrun_Test_Soak}
pdf_dir=${SOAK_PDF_DIR:-/var/tmp/deckrun-pdf-soak}
preset=${DECKRUN_PRESET:-dev}
case $preset in
    dev | ci) build=build ;;
    app | release | debug | asan) build=build-$preset ;;
    *) echo "soak: no program folder known for the preset \"$preset\"" >&2; exit 2 ;;
esac
program=$source_dir/$build/program/deckrun
samples=$source_dir/dist/Samples
# Slides per sample, for the page count of each PDF.
declare -A slides=(["Quarterly Review.pptx"]=3 ["Team Onboarding.ppt"]=2
    ["Product Roadmap.odp"]=4 ["Safety Briefing.pptx"]=2)
sample_names=("Quarterly Review.pptx" "Team Onboarding.ppt" "Product Roadmap.odp"
    "Safety Briefing.pptx")

soak_start=$EPOCHREALTIME
say() { printf '%s\n' "$*"; }
as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }
fail_setup() {
    echo "soak: $*" >&2
    exit 2
}
elapsed() { # seconds since $1 (an $EPOCHREALTIME), one decimal
    awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'
}
minutes() { # 754 -> "12 min 34 s"
    local s=${1%.*}
    printf '%d min %02d s' $((s / 60)) $((s % 60))
}

# --- set-up: CUPS, the soak's printer, the program --------------------------------------------

scripts/setup.sh
export DECKRUN_TEST_PRINTER=$printer DECKRUN_TEST_PDF_DIR=$pdf_dir
# shellcheck disable=SC1091 # the tests' printer script, with the soak's printer and folder
source scripts/test-printer.sh
[[ -d $pdf_dir && $pdf_dir != / ]] || fail_setup "no PDF folder $pdf_dir"
as_root timeout 30 cancel -a "$printer" 2>/dev/null || true
as_root timeout 30 cupsaccept "$printer"
# Earlier soaks' PDFs go; anything else in the folder is not the soak's to delete or count.
find "$pdf_dir" -maxdepth 1 -type f -name 'soak-*.pdf' -delete
if [[ -n $(find "$pdf_dir" -maxdepth 1 -name '*.pdf' -print -quit) ]]; then
    fail_setup "$pdf_dir holds PDFs that are not the soak's: give SOAK_PDF_DIR a folder of its own"
fi

if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake --preset "$preset" >/dev/null
fi
say "Program: $build/program/deckrun (preset $preset), built when out of date"
set +e
cmake --build "$build" -j2 --target deckrun deckrun_dist 2>&1 | grep -vE '^\[ *[0-9]+%\]|^-- '
built=${PIPESTATUS[0]}
set -e
[[ $built -eq 0 && -x $program ]] || fail_setup "the build of $program failed"

tmp=$(mktemp -d /tmp/deckrun-soak.XXXXXX)
decks=$tmp/decks
mkdir -p "$decks" "$tmp/home" "$tmp/config" "$tmp/cache" "$tmp/state" "$tmp/runtime" "$tmp/work"
chmod 700 "$tmp/runtime"
touch "$tmp/started" # the PDFs newer than this are the soak's
out=$tmp/deckrun.out
err=$tmp/deckrun.err
run_log=$tmp/state/Orvanta/Deckrun/run-log.jsonl
fault_log=$tmp/faults.log
: >"$out"
: >"$err"
: >"$fault_log"
# Deckrun's offices run on its profile under $tmp/cache; the office that saves the decks with a
# password on one under $tmp/work. These marks name them, and nothing else.
deckrun_profile="-env:UserInstallation=file://$tmp/cache/"
any_profile="-env:UserInstallation=file://$tmp/"

tpid=""     # the `timeout` that runs Deckrun
dpid=""     # Deckrun itself
helpers=()  # the fault injector and the file remover

# The pids of the processes whose command line holds $1 (default: Deckrun's office profile).
offices() {
    local file pid comm
    # grep reads the command lines as text; its own command line names the profile too.
    grep -laF -- "${1:-$deckrun_profile}" /proc/[0-9]*/cmdline 2>/dev/null | while read -r file; do
        pid=${file#/proc/}
        pid=${pid%/cmdline}
        comm=$(cat "/proc/$pid/comm" 2>/dev/null) || continue
        [[ $comm == grep ]] && continue
        echo "$pid"
    done || true
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    set +e # every step of the clean-up is tried
    local pid
    for pid in "${helpers[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${helpers[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    if [[ -n $tpid ]] && kill -0 "$tpid" 2>/dev/null; then
        # Deckrun ends on SIGTERM once the file in hand has ended (which waits for the office
        # call under way, up to its deadline), at once on a second SIGTERM.
        echo "soak: stopping deckrun (SIGTERM)" >&2
        [[ -n $dpid ]] && kill -TERM "$dpid" 2>/dev/null
        for k in $(seq 1 150); do
            kill -0 "$tpid" 2>/dev/null || break
            if ((k == 30)); then
                echo "soak: deckrun still runs 3 s after SIGTERM: SIGTERM again" >&2
                kill -TERM "$dpid" 2>/dev/null
            fi
            sleep 0.1
        done
        if kill -0 "$tpid" 2>/dev/null; then
            echo "soak: deckrun still runs 15 s after SIGTERM: SIGKILL" >&2
            [[ -n $dpid ]] && kill -KILL "$dpid" 2>/dev/null
            kill -KILL "$tpid" 2>/dev/null
        fi
        wait "$tpid" 2>/dev/null
    fi
    if [[ -n ${tmp:-} ]]; then
        for pid in $(offices "$any_profile"); do
            kill -CONT "$pid" 2>/dev/null || true
            kill -KILL "$pid" 2>/dev/null || true
        done
    fi
    as_root timeout 30 cupsaccept "$printer" 2>/dev/null || true
    if [[ $keep -eq 1 && -n ${tmp:-} ]]; then
        echo "Kept: $tmp (decks/, deckrun.out, deckrun.err, state/.../run-log.jsonl, faults.log) and the PDFs in $pdf_dir"
    else
        find "$pdf_dir" -maxdepth 1 -type f -name '*.pdf' -newer "$tmp/started" -delete 2>/dev/null
        [[ -n ${tmp:-} ]] && rm -rf "$tmp"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'echo "soak: interrupted" >&2; exit 130' INT
trap 'echo "soak: terminated" >&2; exit 143' TERM

# --- the files ----------------------------------------------------------------------------------

say "Seed: $seed (repeat with: bench/soak.sh --seed $seed --files $nfiles --deadline $deadline)"
RANDOM=$seed

# Decks with a password to open, saved by the real office on a throwaway profile.
protect_profile=$tmp/work/profile
cp "$samples/Safety Briefing.pptx" "$samples/Product Roadmap.odp" "$tmp/work/"
timeout -k 5 120 soffice -env:UserInstallation="file://$protect_profile" --headless --norestore \
    --terminate_after_init >/dev/null 2>&1 || true
[[ -d $protect_profile/user/basic/Standard ]] || fail_setup "LibreOffice made no profile in $protect_profile"
cp bench/soak-protect.xba "$protect_profile/user/basic/Standard/Module1.xba"
SOAK_PASSWORD="soak-$seed" SOAK_PROTECT_LOG=$tmp/work/protect.log \
    SOAK_PROTECT="$tmp/work/Safety Briefing.pptx|$tmp/work/protected.pptx|Impress MS PowerPoint 2007 XML;$tmp/work/Product Roadmap.odp|$tmp/work/protected.odp|impress8" \
    timeout -k 5 120 soffice -env:UserInstallation="file://$protect_profile" --headless --norestore \
    'macro:///Standard.Module1.Main' >/dev/null 2>&1 || true
if [[ ! -s $tmp/work/protected.pptx || ! -s $tmp/work/protected.odp ]]; then
    fail_setup "LibreOffice did not save the decks with a password: $(cat "$tmp/work/protect.log" 2>/dev/null)"
fi

# Seeded bytes that are no presentation.
garbage() {
    LC_ALL=C awk -v seed="$1" -v n="$2" 'BEGIN { srand(seed); for (i = 0; i < n; i++) printf "%c", 1 + int(rand() * 255) }'
}
# $1 cut to $2 percent of its size.
truncated() {
    local size
    size=$(stat -c %s "$1")
    head -c $((size * $2 / 100)) "$1"
}
damaged_kinds=(empty.pptx truncated.pptx garbage.ppt scrambled.pptx truncated.ppt text.odp
    empty.odp truncated.odp garbage.pptx)
make_damaged() { # kind, target path, number
    case $1 in
        empty.*) : >"$2" ;;
        truncated.pptx) truncated "$samples/Quarterly Review.pptx" 40 >"$2" ;;
        truncated.ppt) truncated "$samples/Team Onboarding.ppt" 50 >"$2" ;;
        truncated.odp) truncated "$samples/Product Roadmap.odp" 60 >"$2" ;;
        garbage.*) garbage "$((seed + $3))" 4096 >"$2" ;;
        scrambled.pptx)
            cp "$samples/Safety Briefing.pptx" "$2"
            garbage "$((seed + $3))" 2048 | dd of="$2" bs=1 seek=8000 conv=notrunc status=none
            ;;
        text.odp) printf 'Not a presentation, file %s of the soak.\n' "$3" >"$2" ;;
    esac
}

# What each place holds: mostly sample copies; 5 % protected, 6 % damaged, 5 % removed during
# the run. The first two are sample copies, so the run is under way before a file is removed.
n_protected=$((nfiles * 5 / 100))
n_damaged=$((nfiles * 6 / 100))
n_vanish=$((nfiles * 5 / 100))
kinds=()
for ((k = 0; k < n_protected; k++)); do kinds+=(protected); done
for ((k = 0; k < n_damaged; k++)); do kinds+=(damaged); done
for ((k = 0; k < n_vanish; k++)); do kinds+=(vanish); done
while ((${#kinds[@]} < nfiles - 2)); do kinds+=(copy); done
for ((k = ${#kinds[@]} - 1; k > 0; k--)); do # Fisher-Yates with the seeded $RANDOM
    j=$(((RANDOM * 32768 + RANDOM) % (k + 1)))
    t=${kinds[k]}
    kinds[k]=${kinds[j]}
    kinds[j]=$t
done
kinds=(copy copy "${kinds[@]}")

files=()
declare -A kind_of=() index_of=() pages_of=() pdf_prefix=()
vanishing=()
n_copy=0
n_dmg=0
n_pw=0
for ((i = 1; i <= nfiles; i++)); do
    printf -v tag 'soak-%03d' "$i"
    kind=${kinds[i - 1]}
    case $kind in
        copy | vanish)
            sample=${sample_names[n_copy % ${#sample_names[@]}]}
            n_copy=$((n_copy + 1))
            if [[ $kind == copy ]]; then
                path="$decks/$tag $sample"
                pages_of[$i]=${slides[$sample]}
            else
                path="$decks/$tag vanishing $sample"
                vanishing+=("$path")
            fi
            cp "$samples/$sample" "$path"
            ;;
        protected)
            ext=$([[ $((n_pw % 2)) -eq 0 ]] && echo pptx || echo odp)
            n_pw=$((n_pw + 1))
            path="$decks/$tag protected.$ext"
            cp "$tmp/work/protected.$ext" "$path"
            ;;
        damaged)
            dkind=${damaged_kinds[n_dmg % ${#damaged_kinds[@]}]}
            n_dmg=$((n_dmg + 1))
            path="$decks/$tag $dkind"
            make_damaged "$dkind" "$path" "$i"
            ;;
    esac
    files+=("$path")
    stem=${path##*/}
    pdf_prefix[$i]=${stem%.*}
    pdf_prefix[$i]=${pdf_prefix[$i]// /_}
    kind_of[$i]=$kind
    index_of[$path]=$i
done
say "$nfiles files in $decks: $((nfiles - n_protected - n_damaged - n_vanish)) sample copies," \
    "$n_damaged damaged, $n_protected with a password, $n_vanish removed once the run is under way"

# --- the run ------------------------------------------------------------------------------------

stall_limit=$((8 * deadline + 60))       # no new file for this long: Deckrun hangs
cap=$((nfiles * 10 + 20 * deadline + 300)) # the run as a whole
say "Running: deckrun --print ${fast[*]:+${fast[*]} }--printer $printer --pause 0 --yes <$nfiles files>," \
    "DECKRUN_OFFICE_DEADLINE=$deadline (the soak stops it after $((cap / 60)) min, or $stall_limit s without a new file)"
run_start=$EPOCHREALTIME
env -u DISPLAY -u WAYLAND_DISPLAY -u SESSION_MANAGER \
    HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" XDG_CACHE_HOME="$tmp/cache" \
    XDG_STATE_HOME="$tmp/state" XDG_RUNTIME_DIR="$tmp/runtime" DECKRUN_OFFICE_DEADLINE="$deadline" \
    timeout -s TERM -k 30 "$cap" "$program" --print "${fast[@]}" --printer "$printer" --pause 0 --yes \
    "${files[@]}" >"$out" 2>"$err" &
tpid=$!
for _ in $(seq 1 100); do
    dpid=$(pgrep -P "$tpid" || true)
    [[ -n $dpid ]] && break
    sleep 0.05
done
[[ -n $dpid ]] || fail_setup "deckrun did not start"

# The file in hand: how many "Processing:" lines Deckrun has written.
file_in_hand() { grep -c '^Processing: ' "$out" 2>/dev/null || true; }
fault() { printf '%6.1f s  file %3s  %s\n' "$(elapsed "$run_start")" "$(file_in_hand)" "$*" >>"$fault_log"; }

# Removes the vanishing files once the first file is under way (all are queued by then).
(
    set +e
    trap 'exit 0' TERM
    while kill -0 "$dpid" 2>/dev/null && [[ $(file_in_hand) -lt 1 ]]; do sleep 0.05; done
    rm -f "${vanishing[@]}"
    fault "removed the vanishing files (${#vanishing[@]})"
) &
helpers+=($!)

# Whether process $1 is still an office on Deckrun's profile, child of the Deckrun under test.
still_ours() {
    grep -qaF -- "$deckrun_profile" "/proc/$1/cmdline" 2>/dev/null &&
        [[ $(awk '{ print $4 }' "/proc/$1/stat" 2>/dev/null) == "$dpid" ]]
}
# The soak's own office: started with its profile, by the Deckrun under test.
our_office() {
    local pid
    for pid in $(offices); do
        [[ $(cat "/proc/$pid/comm" 2>/dev/null) == soffice.bin ]] || continue
        [[ $(awk '{ print $4 }' "/proc/$pid/stat" 2>/dev/null) == "$dpid" ]] || continue
        echo "$pid"
        return
    done
}
# The faults: every number is drawn before the fault is tried, so a seed gives the same sequence.
(
    set +e
    trap 'exit 0' TERM
    RANDOM=$((seed % 32768 + 1))
    while kill -0 "$dpid" 2>/dev/null; do
        gap=$((20 + RANDOM % 31))
        ((${#fast[@]})) && gap=$((2 + gap % 6))
        what=$((RANDOM % 3))
        # When: 0 to 300 ms after the office is seen (it starts and opens the deck), 300 to
        # 1200 ms (the second's wait after opening; the printer is set next), or as soon as
        # its job has reached the printer (while it confirms the print or quits).
        phase=$((RANDOM % 3))
        jitter=$((RANDOM % 300))
        ((phase == 1)) && jitter=$((300 + RANDOM % 900))
        length=$((3 + RANDOM % 8))
        for ((s = 0; s < gap * 10; s++)); do
            kill -0 "$dpid" 2>/dev/null || exit 0
            sleep 0.1
        done
        case $what in
            0 | 1)
                # The office lives about a second and a half per file: when it ends before the
                # signal, the next office gets it, three tries at most.
                signal=$([[ $what -eq 0 ]] && echo STOP || echo KILL)
                for ((try = 1; try <= 3; try++)); do
                    pid=""
                    for ((s = 0; s < 200; s++)); do
                        pid=$(our_office)
                        [[ -n $pid ]] && break
                        kill -0 "$dpid" 2>/dev/null || exit 0
                        sleep 0.05
                    done
                    if [[ -z $pid ]]; then
                        fault "SIG$signal: no office of this Deckrun for 10 s, nothing sent"
                        break
                    fi
                    if ((phase == 2)); then
                        # The job shows about 1.4 s after the office, which quits 0.1 s later.
                        when="once its job reached the printer"
                        for ((s = 0; s < 300; s++)); do
                            [[ -n $(lpstat -o "$printer" 2>/dev/null) ]] && break
                            still_ours "$pid" || break
                            sleep 0.01
                        done
                    else
                        when="$jitter ms after it was seen"
                        sleep "$(printf '%d.%03d' $((jitter / 1000)) $((jitter % 1000)))"
                    fi
                    if still_ours "$pid" && kill -"$signal" "$pid" 2>/dev/null; then
                        fault "SIG$signal to the office (pid $pid), $when"
                        break
                    fi
                    fault "SIG$signal: the office (pid $pid) ended before it was sent"
                    while [[ $(our_office) == "$pid" ]]; do sleep 0.05; done
                done
                ;;
            2)
                as_root timeout 30 cupsreject -r "deckrun soak" "$printer"
                fault "printer rejects jobs for $length s"
                sleep "$length"
                as_root timeout 30 cupsaccept "$printer"
                fault "printer accepts jobs again"
                ;;
        esac
    done
) &
helpers+=($!)

# Watch for a hang: no new "Processing:" line for $stall_limit s (a file that takes longer
# than every deadline of its steps together).
stalled=0
seen=0
last_change=$SECONDS
while kill -0 "$tpid" 2>/dev/null; do
    sleep 1
    now=$(file_in_hand)
    if [[ $now != "$seen" ]]; then
        seen=$now
        last_change=$SECONDS
    elif [[ $stalled -eq 0 ]] && ((SECONDS - last_change > stall_limit)); then
        stalled=1
        fault "no new file for $stall_limit s: the soak stops deckrun (SIGTERM)"
        kill -TERM "$dpid" 2>/dev/null || true
        term_time=$SECONDS
    elif [[ $stalled -eq 1 ]] && ((SECONDS - term_time > 30)); then
        stalled=2
        fault "deckrun still runs 30 s after SIGTERM: SIGKILL"
        kill -KILL "$dpid" 2>/dev/null || true
    fi
done
status=0
wait "$tpid" || status=$?
run_seconds=$(elapsed "$run_start")
for pid in "${helpers[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
done
helpers=()
as_root timeout 30 cupsaccept "$printer"
[[ $status -eq 124 || $status -eq 137 ]] && stalled=3
# Offices that outlive Deckrun (a moment's grace for one that is just ending).
sleep 2
mapfile -t left < <(offices)
left_detail=""
for pid in "${left[@]}"; do
    left_detail+="    pid $pid, state $(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null): $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | cut -c1-160)"$'\n'
    kill -CONT "$pid" 2>/dev/null || true
    kill -KILL "$pid" 2>/dev/null || true
done

# --- what came out ------------------------------------------------------------------------------

say "deckrun ended after $(minutes "$run_seconds"); waiting for the printer's last PDFs"
for _ in $(seq 1 240); do
    [[ -z $(lpstat -o "$printer" 2>/dev/null) ]] && break
    sleep 0.5
done
previous=""
for _ in $(seq 1 60); do # the folder holds still for a second
    listing=$(ls -l "$pdf_dir")
    [[ $listing == "$previous" ]] && break
    previous=$listing
    sleep 1
done

declare -A pdfs_of=() pdf_names=() logs_of=() outcome_of=() step_of=() description_of=()
stray_pdfs=()
short_pdfs=()
for pdf in "$pdf_dir"/*.pdf; do
    [[ -e $pdf ]] || continue
    name=${pdf##*/}
    i=0
    [[ $name =~ ^soak-([0-9]+)[^0-9] ]] && i=$((10#${BASH_REMATCH[1]}))
    # The number names the file; the rest of the name must be the file's too.
    if ((i >= 1 && i <= nfiles)) && [[ $name == "${pdf_prefix[$i]}"[._-]* ]]; then
        pdfs_of[$i]=$((${pdfs_of[$i]:-0} + 1))
        pdf_names[$i]+=" $name"
        if [[ -n ${pages_of[$i]:-} ]] && command -v pdfinfo >/dev/null; then
            pages=$(pdfinfo "$pdf" 2>/dev/null | awk '/^Pages:/ { print $2 }')
            [[ $pages == "${pages_of[$i]}" ]] || short_pdfs+=("$name: ${pages:-no} pages of ${pages_of[$i]}")
        fi
    else
        stray_pdfs+=("$name")
    fi
done

unknown_lines=0
no_step=()
if [[ -f $run_log ]]; then
    while IFS=$'\x1f' read -r path result step description; do
        i=${index_of[$path]:-}
        if [[ -z $i ]]; then
            unknown_lines=$((unknown_lines + 1))
            continue
        fi
        logs_of[$i]=$((${logs_of[$i]:-0} + 1))
        outcome_of[$i]=$result
        step_of[$i]=$step
        description_of[$i]=$description
        [[ $result == failed && -z $step ]] && no_step+=("$i")
    done < <(awk '{
        f = $0; sub(/^[^,]*,"file":"/, "", f); sub(/","printer":".*$/, "", f)
        o = ($0 ~ /"outcome":"printed"}$/) ? "printed" : "failed"
        s = ""; if (match($0, /"step":[0-9]+/)) s = substr($0, RSTART + 7, RLENGTH - 7)
        d = ""; if (match($0, /"description":".*"}$/)) d = substr($0, RSTART + 15, RLENGTH - 17)
        gsub(/\\"/, "\"", d)
        print f "\037" o "\037" s "\037" d }' "$run_log")
fi

once=0 failed_logged=0 twice=0 neither=0 no_pdf=0 pdf_failed=0 logged_twice=0 not_logged=0
declare -A by_kind=() by_step=() step_example=()
twice_list=() neither_list=() no_pdf_list=() pdf_failed_list=() logged_twice_list=() not_logged_list=()
for ((i = 1; i <= nfiles; i++)); do
    n=${pdfs_of[$i]:-0}
    l=${logs_of[$i]:-0}
    o=${outcome_of[$i]:-}
    what="soak-$(printf '%03d' "$i") (${kind_of[$i]})"
    ((l > 1)) && { logged_twice=$((logged_twice + 1)); logged_twice_list+=("$what: $l log lines"); }
    if ((n > 1)); then
        twice=$((twice + 1))
        twice_list+=("$what:${pdf_names[$i]}, log: ${o:-none}")
    elif ((n == 0 && l == 0)); then
        neither=$((neither + 1))
        neither_list+=("$what")
    elif ((n == 1 && l == 0)); then
        not_logged=$((not_logged + 1))
        not_logged_list+=("$what:${pdf_names[$i]}")
    elif ((n == 0)) && [[ $o == printed ]]; then
        no_pdf=$((no_pdf + 1))
        no_pdf_list+=("$what")
    elif ((n == 1)) && [[ $o == failed ]]; then
        pdf_failed=$((pdf_failed + 1))
        pdf_failed_list+=("$what: step ${step_of[$i]}: ${description_of[$i]}")
    elif ((n == 0)); then
        failed_logged=$((failed_logged + 1))
    else
        once=$((once + 1))
    fi
    k=${kind_of[$i]}
    result=$([[ $n -gt 0 ]] && echo printed || echo "not printed")
    by_kind["$k, $result"]=$((${by_kind["$k, $result"]:-0} + 1))
    if [[ $o == failed ]]; then
        by_step[${step_of[$i]:-none}]=$((${by_step[${step_of[$i]:-none}]:-0} + 1))
        # One description per step, with the deck's path taken out.
        [[ -n ${step_example[${step_of[$i]:-none}]:-} ]] ||
            step_example[${step_of[$i]:-none}]=${description_of[$i]//"$decks/"/}
    fi
done

failed_files=$((failed_logged + pdf_failed))
expected_status=$([[ $failed_files -gt 0 || $no_pdf -gt 0 || $neither -gt 0 ]] && echo 1 || echo 0)
say ""
say "files printed exactly once: $once"
say "files failed and logged with a step: $failed_logged"
say "files printed twice: $twice (must be 0)"
say "files neither printed nor logged: $neither (must be 0)"
say "files logged \"printed\" whose PDF never came: $no_pdf (must be 0)"
say "files with a PDF whose log says failed: $pdf_failed"
say "offices left: ${#left[@]} (must be 0)"
say "deckrun's exit status: $status (expected $expected_status)"
say "wall time: $(minutes "$run_seconds") for the run, $(minutes "$(elapsed "$soak_start")") for the whole soak"

say ""
say "Details"
say "  faults (time into the run, the file in hand, what), with what became of that file:"
while IFS= read -r line; do
    at=$(awk '{ print $4 }' <<<"$line")
    if [[ $at =~ ^[0-9]+$ ]] && ((at >= 1 && at <= nfiles)) && [[ $line == *SIG* || $line == *jobs* ]]; then
        o=${outcome_of[$at]:-no log line}
        [[ $o == failed ]] && o="failed at step ${step_of[$at]}"
        line+="  -> ${kind_of[$at]}, $o, ${pdfs_of[$at]:-0} PDF"
    fi
    say "    $line"
done <"$fault_log"
say "  by kind of file:"
for k in "${!by_kind[@]}"; do say "    $k: ${by_kind[$k]}"; done | sort
say "  failures by first failing step (one description each):"
for s in "${!by_step[@]}"; do say "    step $s: ${by_step[$s]} files, e.g. ${step_example[$s]}"; done | sort -n -k2
say "  Processing lines: $(file_in_hand) of $nfiles; \"Done.\" $(grep -qx 'Done.' "$out" && echo written || echo "not written")"
say "  error reports on standard error: $(grep -c ' at line [0-9]*$' "$err" || true)"
if grep -q '^deckrun:' "$err"; then
    say "  Deckrun's own messages on standard error (first 10):"
    grep '^deckrun:' "$err" | head -n 10 | sed 's/^/    /' || true
fi
command -v pdfinfo >/dev/null || say "  (pdfinfo is missing: page counts not checked; scripts/setup.sh --dev installs it)"
list() { # title, items...
    local title=$1
    shift
    [[ $# -gt 0 ]] || return 0
    say "  $title:"
    printf '    %s\n' "$@"
}
list "printed twice" "${twice_list[@]}"
list "neither printed nor logged" "${neither_list[@]}"
list "logged \"printed\", no PDF" "${no_pdf_list[@]}"
list "a PDF, logged failed" "${pdf_failed_list[@]}"
list "a PDF but no log line (must be 0)" "${not_logged_list[@]}"
list "more than one log line (must be 0)" "${logged_twice_list[@]}"
list "log lines without a step (must be 0)" "${no_step[@]}"
list "PDFs that match no file (must be 0)" "${stray_pdfs[@]}"
list "PDFs of sample copies with the wrong page count (must be 0)" "${short_pdfs[@]}"
((unknown_lines == 0)) || say "  run log lines for files the soak did not queue: $unknown_lines (must be 0)"
[[ ${#left[@]} -eq 0 ]] || { say "  offices left:"; printf '%s' "$left_detail"; }
case $stalled in
    1 | 2) say "  deckrun hung: no new file for $stall_limit s; the soak stopped it" ;;
    3) say "  deckrun hung: it was still running after $cap s; timeout stopped it" ;;
esac

bad=$((twice + neither + no_pdf + ${#left[@]} + not_logged + logged_twice + ${#no_step[@]} +
    ${#stray_pdfs[@]} + ${#short_pdfs[@]} + unknown_lines))
[[ $status -eq $expected_status ]] || bad=$((bad + 1))
((stalled == 0)) || bad=$((bad + 1))
if ((bad > 0)); then
    say "SOAK FAILED (seed $seed)"
    exit 1
fi
say "Soak passed (seed $seed)"
