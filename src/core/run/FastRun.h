// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Printing many files through one presentation application: `deckrun --print
// --fast` and the watched folder (app/WatchFolder). The window's run starts and
// quits the application for every file and waits between the steps, as
// PowerPoint once needed; a print server pays for that on every file. Here the
// application is started once and each file is opened, printed in the
// foreground until the job is confirmed, and closed, with the window's step
// numbers and reports. A file whose steps fail costs its application: the next
// file gets a fresh one, so one bad deck never spoils the next.

#include "core/run/PrintRun.h"

#include <QString>

#include <functional>
#include <memory>

namespace deckrun {

class EventLoop;
class PresentationApp;
class PresentationAutomation;
class Printers;
class StepRunner;

/** How a fast run differs from the window's run, beyond leaving out the fixed waits. */
struct FastRunOptions {
    /** Wait the pause text's seconds (its digit, not one more) after each file; false: no pause. */
    bool pauses = false;
    /** The application is quit and a fresh one started after this many files. */
    int renewEvery = 100;
    /**
     * Applications side by side (`--jobs`), each on a thread and a profile of
     * its own, made by `makeOffice` (given the printers as the run began):
     * each opens its next file while another prints, and the printer still
     * gets the files in queue order. With 1, the one application is made by
     * `makeOffice` too, on the run's thread; without `makeOffice`, the
     * platform's own application prints.
     */
    int jobs = 1;
    std::function<std::unique_ptr<PresentationAutomation>(Printers &printers)> makeOffice = {};
};

/**
 * One presentation application kept from file to file. It is started when a
 * file needs it, stopped when a file's step fails, and renewed after
 * `renewEvery` files; the destructor quits it. One that waited a while (a
 * watched folder between drops) is asked whether it still answers before the
 * next file, so an application that ended meanwhile costs no file.
 */
class FastPrinter {
public:
    /** `clock` tells how long the application has waited for its next file. */
    FastPrinter(PresentationAutomation &office, EventLoop &clock, int renewEvery = 100);
    ~FastPrinter();
    FastPrinter(const FastPrinter &) = delete;
    FastPrinter &operator=(const FastPrinter &) = delete;

    /**
     * Prints `path` through the steps it shares with the window's run: open
     * (120, the application started when none is kept), the active
     * presentation (122), the printer of `choices` (126), foreground printing
     * (128), print (130), close (132), release (136, 138). Each failure is
     * reported by `steps`; the steps after it run as in the window's run.
     * Fills `outcome.printer`; true when every step passed.
     */
    bool printFile(StepRunner &steps, const QString &path, const PrintChoices &choices,
                   FileOutcome &outcome);

    /** Quits the application kept, if any; the next file starts a fresh one. */
    void quit();

    // printFile in parts, for a run that drives the application from a thread of its own.

    /**
     * Step 120's work: the application kept (started when there is none, and
     * replaced when it waited and no longer answers) opens `path`; returns
     * it. `now` is the time of day in seconds; `started` gets the seconds a
     * start took (untouched when the application was kept).
     */
    std::shared_ptr<PresentationApp> open(const QString &path, double now,
                                          double *started = nullptr);
    /** A file's steps are over: a failed file costs the application; it is renewed in time. */
    void fileDone(bool passed, double now);

private:
    void stop();
    bool stillAnswers();

    PresentationAutomation &m_office;
    EventLoop &m_clock;
    int m_renewEvery;
    std::shared_ptr<PresentationApp> m_application;
    int m_filesOnApplication = 0;
    double m_lastUsed = 0; // seconds since midnight when its last file ended
};

/**
 * `PrintQueue` through one application (FastPrinter): the same steps 100 to
 * 154, messages, progress and run log, without the fixed waits; the pause
 * only when `options.pauses`.
 */
void PrintQueueFast(Platform &platform, const QueueModel &queue, const PrintChoices &choices,
                    PrintProgress &progress, bool &printing, const FastRunOptions &options);

} // namespace deckrun
