// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The print run ("Start Printing", PushButton3_Click in
// printing/PrintingHandlers.h) and the helpers only it uses. The run itself
// needs no window: it works on the queue, reads the choices and shows its
// progress through the two interfaces below, and reaches the system through
// the platform.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>

namespace deckrun {

class EventLoop;
class QueueModel;
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
    /**
     * True once the run is asked to stop (the batch mode on SIGINT or
     * SIGTERM): the file in hand ends without its waits, no further file begins.
     */
    virtual bool stopRequested() const { return false; }
};

/** How one file of a run ended, as the run log records it. */
struct FileOutcome {
    QDateTime time; // when the run log's line was written
    QString file;
    QString printer;    // the printer the file was sent to
    int failedStep = 0; // the first step that failed; 0 when every step passed
    QString description;

    bool printed() const { return failedStep == 0; }
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

/**
 * Prints every file of `queue`, in order, with its numbered steps under the
 * error report of "Start Printing". `printing` is set for the length of the
 * run and cleared however it is left; a run started while it is set does
 * nothing. As each file ends, its outcome goes to the platform's run log.
 */
void PrintQueue(Platform &platform, const QueueModel &queue, const PrintChoices &choices,
                PrintProgress &progress, bool &printing);

/** The location the print run's error reports name. */
QString PrintRunLocation();

/**
 * Returns after `seconds` have passed on the loop's clock, handling window
 * events meanwhile. It sleeps in the event loop until the next event or the
 * deadline, so the window stays responsive without spinning a core. A pass over
 * midnight is counted; zero or fewer seconds return at once, without pumping.
 */
void WaitSeconds(EventLoop &events, double seconds);
/** The same, ending early once `endEarly` says so (checked whenever events were handled). */
void WaitSeconds(EventLoop &events, double seconds, const std::function<bool()> &endEarly);

/**
 * The run log's line for `outcome`: one JSON object with "time" (ISO 8601,
 * with the offset from UTC), "file", "printer" and "outcome" ("printed" or
 * "failed"); a failed file adds "step" and "description".
 */
QByteArray RunLogLine(const FileOutcome &outcome);

/** The text after the path's last separator; the whole text when it holds none. */
QString FileNameFromPath(const QString &path);

/**
 * The share of files begun, including the one about to print, as a whole
 * percentage rounded down: row `i` of `count` rows. Exact integer arithmetic,
 * so 29 of 100 shows 29; kept within 0 to 100 when rows went missing.
 */
int ProgressPercent(std::int32_t i, std::int32_t count);

/**
 * The seconds of pause a pause text asks for: its first character as a digit.
 * Throws Failure "Type mismatch" (13) when the text does not begin with one.
 */
int PauseDigit(const QString &pauseText);

} // namespace deckrun
