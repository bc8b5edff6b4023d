#!/usr/bin/env bash
# A print server's batch: `deckrun --print --fast` (one office) and
# `deckrun --print --fast --jobs 2` (two offices side by side, the printer
# still getting the files in queue order) against LibreOffice's own batch
# print `soffice --headless --pt PRINTER FILE...` (one office for all, on a
# profile of its own) on the same 20 good decks (the four samples, five
# times) and 3 damaged files, on the tests' own CUPS PDF printer. The three
# take turns, round after round, in one run; each is timed from start to end
# of its process. Prints the median of each, the ratios to soffice (target
# <= 1.0), and where the one-office run's time goes, from its office log
# (QT_LOGGING_RULES): office starts, opening, choosing the printer, printing
# until the job is confirmed, closing, and the rest (the program's own start,
# queueing, the end).
#
# Each round also checks that every side printed the 20 good decks (their PDFs
# came), that Deckrun named the 3 damaged files and ended with status 1, and
# that the printer got Deckrun's files in queue order (by their CUPS job ids).
#
# Two queues, taking turns too: the damaged files last, and spread through the
# queue (after the 6th, 12th and 18th good deck), where a damaged file's
# office restart falls between good files. Deckrun prints with the options a
# print server asks for (DECKRUN_BENCH_OPTIONS, default grayscale on two
# sides), which LibreOffice's own batch print cannot take. A fourth run per
# round prints the damaged-last queue with --fast as handouts of six a page:
# the sheets Deckrun makes from the office's pages (target <= 1.1 of the plain
# --fast run).
#
#   bench/run-batch.sh [ROUNDS]     (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${DECKRUN_BUILD_DIR:-build}
rounds=${1:-3}
source scripts/test-printer.sh
if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake --preset dev >/dev/null
fi
cmake --build "$build" -j2 --target deckrun deckrun_dist >/dev/null
program=$PWD/$build/program/deckrun
soffice=/usr/lib/libreoffice/program/soffice

tmp=$(mktemp -d /tmp/deckrun-runbatch.XXXXXX)
token=runbatch$$
cleanup() {
    local pid file
    # An office of either side that outlived its run (it should not).
    for file in $(grep -laF -- "$tmp/" /proc/[0-9]*/cmdline 2>/dev/null || true); do
        pid=${file#/proc/}
        pid=${pid%/cmdline}
        [[ $(cat "/proc/$pid/comm" 2>/dev/null) == soffice* ]] && kill -KILL "$pid" 2>/dev/null
    done
    # The benchmark's PDFs are of no use afterwards.
    sleep 1
    find "$DECKRUN_TEST_PDF_DIR" -maxdepth 1 -type f -name "*$token*" -delete 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

decks=$tmp/decks
mkdir -p "$decks" "$tmp/home/runtime"
chmod 700 "$tmp/home/runtime"
n=0
for copy in 1 2 3 4 5; do
    for sample in "$build"/program/Samples/*; do
        n=$((n + 1))
        cp "$sample" "$decks/$(printf '%s-%02d %s' "$token" "$n" "$(basename "$sample")")"
    done
done
# The same decks, the damaged files spread through the queue.
spread=$tmp/spread
mkdir -p "$spread"
cp "$decks"/* "$spread/"
damage() { # FOLDER NAME...: the three damaged files under these names
    printf 'PK\003\004 not a deck' >"$1/$2"
    head -c 3000 "$build/program/Samples/Quarterly Review.pptx" >"$1/$3"
    echo "plain text, not a presentation" >"$1/$4"
}
damage "$decks" "$token-21 damaged.pptx" "$token-22 truncated.pptx" "$token-23 text.ppt"
damage "$spread" "$token-06x damaged.pptx" "$token-12x truncated.pptx" "$token-18x text.ppt"
last_files=("$decks"/*)
spread_files=("$spread"/*)
files=("${last_files[@]}")
good=20
options=(${DECKRUN_BENCH_OPTIONS---color gray --sides long-edge})

# Deckrun with a home of its own: its settings, office profiles and run log.
# $1: how many offices side by side; the rest: more options.
run_deckrun() {
    local jobs=$1
    shift
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$tmp/home" \
        XDG_CONFIG_HOME="$tmp/home/config" XDG_CACHE_HOME="$tmp/home/cache" \
        XDG_STATE_HOME="$tmp/home/state" XDG_RUNTIME_DIR="$tmp/home/runtime" \
        QT_LOGGING_RULES="deckrun.office.debug=true" \
        "$program" --print --fast --jobs "$jobs" --printer "$DECKRUN_TEST_PRINTER" "${options[@]}" \
        "$@" "${files[@]}" \
        >"$tmp/deckrun.out" 2>"$tmp/deckrun.err"
}
run_soffice() {
    "$soffice" -env:UserInstallation="file://$tmp/peer" --headless --norestore \
        --pt "$DECKRUN_TEST_PRINTER" "${files[@]}" >/dev/null 2>&1
}

pdfs() { find "$DECKRUN_TEST_PDF_DIR" -maxdepth 1 -type f -name "*$token*.pdf" | wc -l; }
# Waits (a minute at most) for the PDFs of one run: cups-pdf writes each a moment after its job.
expect_pdfs() {
    local want=$1 who=$2 k
    for k in $(seq 1 300); do
        (($(pdfs) >= want)) && return 0
        sleep 0.2
    done
    echo "run-batch: $who printed $(($(pdfs) - want + good)) of the $good good decks" >&2
    exit 1
}
seconds_since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }'; }
median() { tr ' ' '\n' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

pdf_names() { find "$DECKRUN_TEST_PDF_DIR" -maxdepth 1 -type f -name "*$token*.pdf" -printf '%f\n' | sort; }
# The deck numbers of the PDFs not listed in $1, in the order CUPS took their jobs.
job_order() {
    comm -13 "$1" <(pdf_names) |
        sed -n "s/^$token-\([0-9]*\)[_x].*job_\([0-9]*\)\.pdf$/\2 \1/p" | sort -n | awk '{ printf "%s ", $2 }'
}
expected_order=$(seq -f '%02g' -s ' ' 1 $good)
# One timed Deckrun run with $1 offices (and the options after it); its time in $took.
time_deckrun() {
    local status=0 start mark=$tmp/before
    pdf_names >"$mark"
    start=$EPOCHREALTIME
    run_deckrun "$@" || status=$?
    took=$(seconds_since "$start")
    if [[ $status -ne 1 || $(grep -c 'at line 120$' "$tmp/deckrun.err") -ne 3 ]]; then
        echo "run-batch: Deckrun (--jobs $1) ended with status $status (expected 1, three damaged files named at step 120):" >&2
        grep -v '^deckrun.office' "$tmp/deckrun.err" >&2
        exit 1
    fi
    printed=$((printed + good))
    expect_pdfs $printed "Deckrun (--jobs $1)"
    if [[ "$(job_order "$mark")" != "$expected_order " ]]; then
        echo "run-batch: Deckrun (--jobs $1) printed out of queue order: $(job_order "$mark")" >&2
        exit 1
    fi
}

# First runs fill each side's profiles; they are not timed.
printed=0
for jobs in 1 2; do
    run_deckrun $jobs || true
    printed=$((printed + good))
    expect_pdfs $printed "Deckrun's first run"
done
run_soffice
printed=$((printed + good))
expect_pdfs $printed "soffice's first run"

one=() two=() theirs=() breakdown=() one_spread=() two_spread=() theirs_spread=() handouts=()
for round in $(seq 1 "$rounds"); do
    files=("${last_files[@]}")
    time_deckrun 1
    one+=("$took")
    # "deckrun.office: seconds: start S open O printer P print R close C PATH", one line per file.
    breakdown+=("$(awk '/ seconds: start / {
            if ($4 > 0) starts++; s += $4; o += $6; p += $8; r += $10; c += $12 }
        END { printf "%d %.3f %.3f %.3f %.3f %.3f", starts, s, o, p, r, c }' "$tmp/deckrun.err")")
    time_deckrun 2
    two+=("$took")
    time_deckrun 1 --layout handouts-6
    handouts+=("$took")
    start=$EPOCHREALTIME
    run_soffice
    theirs+=("$(seconds_since "$start")")
    printed=$((printed + good))
    expect_pdfs $printed "soffice"

    files=("${spread_files[@]}")
    time_deckrun 1
    one_spread+=("$took")
    time_deckrun 2
    two_spread+=("$took")
    start=$EPOCHREALTIME
    run_soffice
    theirs_spread+=("$(seconds_since "$start")")
    printed=$((printed + good))
    expect_pdfs $printed "soffice"
    echo "round $round: damaged last: deckrun --fast ${one[-1]} s, --jobs 2 ${two[-1]} s, soffice ${theirs[-1]} s;" \
        "spread: ${one_spread[-1]} s, ${two_spread[-1]} s, ${theirs_spread[-1]} s;" \
        "handouts-6 ${handouts[-1]} s"
done

as=$(echo "${one_spread[*]}" | median)
a2s=$(echo "${two_spread[*]}" | median)
bs=$(echo "${theirs_spread[*]}" | median)
a=$(echo "${one[*]}" | median)
a2=$(echo "${two[*]}" | median)
b=$(echo "${theirs[*]}" | median)
h=$(echo "${handouts[*]}" | median)
echo
echo "$good good decks and 3 damaged files on $DECKRUN_TEST_PRINTER, median of $rounds rounds taking turns"
echo "Deckrun with ${options[*]:-no options}; soffice takes none"
echo "                                    damaged last   damaged spread"
echo "  deckrun --print --fast            $a s        $as s"
echo "  deckrun --print --fast --jobs 2   $a2 s        $a2s s"
echo "  soffice --headless --pt           $b s        $bs s"
echo "  deckrun --print --fast, handouts-6 $h s"
awk -v a="$a" -v a2="$a2" -v b="$b" -v as="$as" -v a2s="$a2s" -v bs="$bs" -v h="$h" 'BEGIN {
    printf "  ratio --fast / soffice           %.2f           %.2f   (target <= 0.65)\n", a / b, as / bs
    printf "  ratio --jobs 2 / soffice         %.2f           %.2f   (target <= 0.60)\n", a2 / b, a2s / bs
    printf "  ratio handouts-6 / --fast        %.2f                  (target <= 1.10)\n", h / a }'
echo
echo "Where the one-office run's time goes (mean of the rounds; from its office log):"
printf '%s\n' "${breakdown[@]}" | awk -v wall="$(echo "${one[*]}" | tr ' ' '\n' | awk '{ t += $1 } END { print t / NR }')" '
    { n++; starts += $1; s += $2; o += $3; p += $4; r += $5; c += $6 }
    END {
        s /= n; o /= n; p /= n; r /= n; c /= n
        rest = wall - s - o - p - r - c
        printf "  office starts        %5.3f s  (%.0f starts: the office that printed; the spare starts beside it)\n", s, starts / n
        printf "  opening              %5.3f s\n", o
        printf "  choosing the printer %5.3f s\n", p
        printf "  printing, confirmed  %5.3f s\n", r
        printf "  closing              %5.3f s\n", c
        printf "  the rest             %5.3f s  (the program starting, queueing, the office ending)\n", rest
        printf "  whole run            %5.3f s\n", wall
    }'
echo "With --jobs 2 the second office opens each next file while the first prints. An"
echo "office that only refused a damaged file and still answers goes on; the spare, and"
echo "with --jobs 2 the other office, take over from one that failed otherwise."
