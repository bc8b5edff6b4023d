// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Printing many files through one presentation application (`deckrun --print
// --fast`, and the watched folder with --fast). The window's run starts and
// quits the application for every file and waits between the steps, as
// PowerPoint once needed; a print server pays for that on every file. Here the
// application is started once and each file is opened, printed in the
// foreground until the job is confirmed, and closed, with the window's step
// numbers and reports. A file whose steps fail costs its application: the next
// file gets a fresh one, so one bad deck never spoils the next.

#include "core/run/PrintStrategy.h"

#include <QString>

#include <functional>
#include <memory>

namespace deckrun {

class EventLoop;
class FileSystem;
class PresentationApp;
class PresentationAutomation;

/**
 * One presentation application kept from file to file. It is started when a
 * file needs it, stopped when a file's step fails, and renewed after
 * `renewEvery` files; the destructor quits it. One that waited a while (a
 * watched folder between drops) is asked whether it still answers before the
 * next file, so an application that ended meanwhile costs no file.
 */
class KeptApplication {
public:
    /**
     * `restartAhead`: an application stopped after a failed file (or renewed)
     * is started again at once, not when the next file needs it; for one that
     * lives on a thread of its own, whose start then overlaps other work.
     */
    KeptApplication(PresentationAutomation &office, FileSystem &files, int renewEvery = 100,
                    bool restartAhead = false);
    ~KeptApplication();
    KeptApplication(const KeptApplication &) = delete;
    KeptApplication &operator=(const KeptApplication &) = delete;

    /**
     * Step 120's work: the application kept (started when there is none, and
     * replaced when it waited and no longer answers) opens `path`, hidden and
     * read-only; returns it. A path that is no file the application could read
     * (a pipe, a folder, a file this user may not read) fails first, without
     * asking the application. `now` is the time of day in seconds; `started`
     * gets the seconds a start took (untouched when the application was kept).
     */
    std::shared_ptr<PresentationApp> open(const QString &path, double now,
                                          double *started = nullptr);
    /**
     * Whether the application goes on after a file's steps: when they passed,
     * when the file was refused before the application was asked (a pipe, a
     * folder, an unreadable file), or when all that failed was the open of a
     * file the application refused (damaged, not a presentation, protected)
     * and it still answers: it then holds nothing of that file.
     */
    bool goesOnAfter(bool passed);
    /**
     * A file's steps are over and `goesOn` is what goesOnAfter said: an
     * application that does not go on is stopped, since whatever went wrong
     * may have left it in a state of its own (a dialog, a half-open document,
     * a printer it holds on to). It is renewed in time.
     */
    void fileDone(bool goesOn, double now);
    /** Starts the application now when none is kept, so that the next file finds it running. */
    void startAhead();
    /** Quits the application kept, if any; the next file starts a fresh one. */
    void quit();
    /** Stops the application at once (from any thread, while a call may be under way). */
    void stopNow();

private:
    void stop();
    bool stillAnswers();

    PresentationAutomation &m_office;
    FileSystem &m_files;
    int m_renewEvery;
    bool m_restartAhead;
    std::shared_ptr<PresentationApp> m_application;
    int m_filesOnApplication = 0;
    bool m_openRefused = false; // the last open failed with the application in hand
    bool m_neverAsked = false;  // the last file was refused before the application saw it
    double m_lastUsed = 0;      // seconds since midnight when its last file ended
};

/** Runs one piece of a file's work where the application lives: here, or on a lane's thread. */
using OnApplication = std::function<void(const std::function<void()> &work)>;

/**
 * Steps 120 to 138 of one file on a kept application, as the window's run
 * numbers them, without its waits: `open` is step 120's work (giving the
 * application, and the seconds a start took in `started`), `on` runs each
 * later piece of work where the application lives; the presentation is
 * closed (132), not the application. True when every step passed.
 */
bool printOnKeptApplication(FileInHand &file,
                            const std::function<std::shared_ptr<PresentationApp>()> &open,
                            const double &started, const OnApplication &on);

/** Every file through one kept application, on the run's thread. */
class OneApplication final : public PrintStrategy {
public:
    /**
     * `keptAfterRun`: the application outlives the run (a watched folder
     * prints one file a run); otherwise it is quit as the run ends.
     */
    OneApplication(PresentationAutomation &office, FileSystem &files, int renewEvery = 100,
                   bool keptAfterRun = false);

    void printFile(FileInHand &file) override;
    void runEnds() override;
    void stopNow() override;

private:
    KeptApplication m_application;
    bool m_keptAfterRun;
};

} // namespace deckrun
