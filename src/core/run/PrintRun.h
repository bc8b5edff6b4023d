// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The print run: the one flow every way of printing goes through ("Start
// Printing" in the window, `deckrun --print`, each file of `deckrun --watch`).
// It owns what must hold whatever the front door and whatever the way a file
// is printed: the numbered steps 100 to 118 and 140 to 154 under the error
// report of "Start Printing", the file's outcome (recorded in the run log as
// soon as its print job is confirmed at step 130; a later failure is reported
// without changing it), the pause, the end ("Done.") and the stop. How one
// file is printed, steps 120 to 138, is a PrintStrategy
// (core/run/PrintStrategy.h): a fresh application per file, one kept
// application, or several side by side.
//
// The run needs no window: it works on the queue, reads the choices and shows
// its progress through the two interfaces below, and reaches the system
// through the platform.

#include "core/run/RunLogLine.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace deckrun {

class EventLoop;
class PrintStrategy;
class QueueModel;
class RunStop;
struct Platform;

/** The user's choices a print run reads; read again for every file, as they may change meanwhile.
 */
class PrintChoices {
public:
    virtual ~PrintChoices() = default;
    /** The printer every file goes to. */
    virtual QString printerName() const = 0;
    /** The pause after each file, as its text ("5 seconds"). */
    virtual QString pauseText() const = 0;
};

/** Where a print run shows how far it is. */
class PrintProgress {
public:
    virtual ~PrintProgress() = default;
    /** The hourglass while the files are handled (true); the arrow once the run is over (false). */
    virtual void showBusy(bool busy) = 0;
    /** The share of files begun, 0 to 100. */
    virtual void showPercent(int percent) = 0;
    /** The text over the progress ("Processing: a.ppt", "Progress Bar"). */
    virtual void showText(const QString &text) = 0;
    /** File `position` of the `count` the run began with is being handled. */
    virtual void fileStarted(int position, int count, const QString &path)
    {
        (void)position, (void)count, (void)path;
    }
    /**
     * That file's outcome is settled and the run log has its line: as soon as
     * its print job is confirmed (step 130), or else once its steps are done.
     */
    virtual void fileEnded(const FileOutcome &outcome) { (void)outcome; }
    /**
     * The run has gone through its files (step 150). True when this sink has
     * told the user itself; false, the default, has the run show "Done.".
     */
    virtual bool announceDone() { return false; }
};

/** The pause after each file (step 140), read from the pause text's first digit. */
enum class PauseRule {
    DigitAndOneSecond, // the window's run: 0 waits one second, 9 ten
    Digit,             // a run without fixed waits that was asked to pause: 0 waits none
    None,              // no pause at all
};

/** One print run's parts: who it answers to, how it prints each file, how it pauses. */
struct RunSetup {
    Platform &platform;
    const PrintChoices &choices;
    PrintProgress &progress;
    PrintStrategy &strategy;
    PauseRule pause = PauseRule::DigitAndOneSecond;
    /** What the run asks each deck to print with, over the deck's own settings. */
    PrintSettings settings = {};
    /** The print job's name for a file's path; none: the file's name. */
    std::function<QString(const QString &path)> jobName = {};
    /**
     * False: the run log's line is left to the front end (a watcher writes it
     * once the file is in its final place); the progress sink still hears.
     */
    bool logsEachFile = true;
    /** Where requests to stop arrive; none: the run is never asked to stop (the window). */
    RunStop *stop = nullptr;
};

/**
 * Prints every file of `queue`, in order, with its numbered steps under the
 * error report of "Start Printing". `printing` is set for the length of the
 * run and cleared however it is left; a run started while it is set does
 * nothing. As each file ends, its outcome goes to the platform's run log and
 * the progress sink.
 */
void printQueue(const RunSetup &setup, const QueueModel &queue, bool &printing);

/** The location the print run's error reports name. */
QString printRunLocation();

/**
 * Returns after `seconds` have passed on the loop's clock, handling window
 * events meanwhile. It sleeps in the event loop until the next event or the
 * deadline, so the window stays responsive without spinning a core. A pass over
 * midnight is counted; zero or fewer seconds return at once, without pumping.
 */
void WaitSeconds(EventLoop &events, double seconds);
/** The same, ending early once `endEarly` says so (checked whenever events were handled). */
void WaitSeconds(EventLoop &events, double seconds, const std::function<bool()> &endEarly);

/** The text after the path's last separator; the whole text when it holds none. */
QString FileNameFromPath(const QString &path);

/**
 * The share of files begun, including the one about to print, as a whole
 * percentage rounded down: row `i` of `count` rows. Exact integer arithmetic,
 * so 29 of 100 shows 29; kept within 0 to 100 when rows went missing.
 */
int progressPercent(std::int32_t i, std::int32_t count);

/**
 * The seconds of pause a pause text asks for: its first character as a digit.
 * Throws Failure "Type mismatch" (13) when the text does not begin with one.
 */
int pauseDigit(const QString &pauseText);

} // namespace deckrun
