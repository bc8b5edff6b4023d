// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// `deckrun --print` and `deckrun --watch`: runs without a window, for scripts
// and print servers. `--print` queues the files as given and walks folders as
// "Add All File(s) In Folder" walks them; then the one print run prints them,
// with its error reports on standard error and its progress on standard
// output. `--watch` hands over to the watch session (cli/WatchSession.h).

#include "core/run/Lanes.h"
#include "core/run/PrintRun.h"
#include "core/run/PrintStrategy.h"
#include "platform/PresentationAutomation.h"

#include <QString>

#include <memory>
#include <optional>

namespace deckrun {

class SettingsStore;
struct CommandLine;
struct Platform;

/**
 * The printer a run without a window prints on: the one asked for, matched
 * to the installed name whatever its letter case; else the one the window
 * starts with; else, when the window has none that is usable (nothing
 * stored, -1, an index it would refuse), the system's default. None, with a
 * message on standard error, when there is none of these.
 */
std::optional<QString> batchPrinter(Platform &platform, const std::optional<QString> &asked);

/** The pause digit (0 to 9) asked for, else the one chosen in the window, else 5. */
int batchPause(SettingsStore &settings, const std::optional<int> &asked);

/** How a run without a window prints each file, with the applications it made for that. */
struct PrintWay {
    std::unique_ptr<PrintersAsRunBegan> printers = {};
    std::unique_ptr<PresentationAutomation> office = {}; // the one application of a kept run
    std::unique_ptr<PrintStrategy> strategy = {};        // goes first: it may use the office
    PauseRule pause = PauseRule::DigitAndOneSecond;
    int pauseDigit = 0; // the pause entry, 0 to 9
};

/**
 * The one choice of `--print` and `--watch`: without --fast the window's way
 * (a fresh application per file, on the platform's own) and its pause, the
 * one asked for or chosen in the window; with --fast applications of the
 * run's own made by `makeOffice`, which pause only when asked to: side by
 * side in lanes (--jobs N, else one and a spare) where they run so, else one
 * kept application. A watcher's runs are of one file each: its application
 * is kept from run to run.
 */
PrintWay printWay(Platform &platform, const CommandLine &line, const MakeOffice &makeOffice);

/** What a run without a window did, as its exit status counts it. */
struct BatchTally {
    int queued = 0;
    int printed = 0;
    int reports = 0;      // error reports given
    int leftOut = 0;      // files and folders the walk passed over and named
    int notCompleted = 0; // jobs the printer canceled, aborted or stopped, or that were lost
};

/**
 * 0 when every file queued printed, without a report, with nothing left
 * out and no job known not to have completed; 1 otherwise, also when
 * nothing was queued (or the running application's warning was declined):
 * nothing was printed.
 */
int batchStatus(const BatchTally &tally);

/**
 * Runs `deckrun --print ...` or `deckrun --watch ...` to its end and gives
 * the exit status: for --print 0 when every file printed, 1 when any failed
 * (or nothing was printed, or a job did not complete at the printer), 2 for
 * a printer that is not installed or cannot print what the run asks, or
 * HOME unset. Needs no display. SIGINT, SIGTERM or SIGHUP ends the run once the file in
 * hand has ended, and the process then ends by that signal; a second one
 * ends it at once.
 */
int runWithoutWindow(int argc, char **argv, const CommandLine &line);

} // namespace deckrun
