// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// `deckrun --watch FOLDER`: the session around a hot folder
// (core/hotfolder): it notices what is dropped (the system's change
// notices, and a look every ten seconds on a network file system), waits
// for each file to settle, claims it, prints it through the one print run on
// a one-file queue, moves it out and says so on standard output, until
// SIGINT, SIGTERM or SIGHUP. What it had claimed when it was killed, the
// next watcher takes over: printed again only when the print service has no
// job of it.

#include "cli/BatchRun.h"
#include "cli/ConsoleFrontEnd.h"
#include "core/hotfolder/HotFolder.h"
#include "core/hotfolder/Settling.h"
#include "platform/FileSystem.h"

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

namespace deckrun {

struct Platform;
struct PrivateCopy;

struct WatchOptions {
    QString folder;
    QString printer;
    /** Files are those whose names match "*." followed by this, as a folder walk matches them. */
    QString extension = QStringLiteral("ppt");
    /** A file is taken once it has not changed for this long and nobody here writes it. */
    int settleMilliseconds = 2000;
    /** How each file prints, over what its own print settings say. */
    PrintSettings settings = {};
    /** Files fail while the printer is stopped or refuses jobs, rather than wait for it. */
    bool failWhenPrinterDown = false;
    /** While someone else's application runs, whether it has ended is looked at this often. */
    int othersLookMilliseconds = 60 * 1000;
};

/** One watcher at work on its folder, on the program's event loop. */
class WatchSession final : public QObject {
public:
    /**
     * `dialogs` are the platform's: the session files a failed file's reports
     * from them. `way` prints each file (printWay()), as a run of its own.
     */
    WatchSession(Platform &platform, ConsoleDialogs &dialogs, WatchOptions options, PrintWay &way,
                 ConsoleStop &stop);
    ~WatchSession() override;
    WatchSession(const WatchSession &) = delete;
    WatchSession &operator=(const WatchSession &) = delete;

    /**
     * Checks and makes the folders, claims this watcher's name, takes over
     * what watchers that ended had claimed, and starts watching.
     */
    bool start();
    /** True while a file is in hand. */
    bool busy() const { return m_busy; }
    /** 0, or 1 once the watched folder went away. */
    int status() const { return m_status; }
    /** Claims the settled file `name`, prints it and moves it to Printed/ or Failed/. */
    void handle(const QString &name);

private:
    QString pattern() const { return QStringLiteral("*.") + m_options.extension; }
    QString pathOf(const QString &name) const { return m_options.folder + QLatin1Char('/') + name; }
    void lookEveryFewSeconds();
    /** The files in the folder now: new ones are watched until they settle, gone ones forgotten. */
    void rescan();
    /** Names, once each, what lies in the folder and is never taken (a folder, a broken link). */
    void sayLeftAlone(const FolderListing &listing);
    /** Ends the watch when the folder it watches is gone or another; true while it is there. */
    bool folderStillThere();
    /** Wakes the session when the next file may have settled. */
    void schedule();
    std::optional<QString> nextReady();
    /** False, said once, while the printer is stopped or refuses jobs: the files wait. */
    bool printerTakesJobs();
    /**
     * Takes and prints the settled files, oldest first, until none is left.
     * Printing handles events, so this is entered again meanwhile: that call
     * leaves the work to the one under way.
     */
    void work();
    void forget(const QString &name);
    /**
     * Whether this watcher may print now: not while an application runs that
     * Deckrun did not start and that printing would share (PowerPoint runs
     * once a session, and the run quits it after each file). Meanwhile the
     * settled files wait, and this is asked again every little while.
     */
    bool mayPrintNow();
    /**
     * Prints the private copy of the claimed file: the print run on a queue of
     * that file alone. None when the run ended before it began the file (a
     * stop, the folder gone): it was never tried.
     */
    std::optional<FileOutcome> print(const PrivateCopy &copy, const QString &claimed);
    /** The outcome of a claimed file that cannot be read: it fails at the open. */
    FileOutcome unreadable(const QString &claimed, const QString &why);
    /** Moves the file out, says where, and writes its run log line naming its final place. */
    void finish(const QString &claimed, const QString &name, FileOutcome outcome);
    /** A claim of a watcher that ended: moved out when printed, else put back. */
    void takeOver(const Claimed &claimed);
    /** Tells the service manager (if any) what the watcher has done and holds. */
    void tellStatus();
    QString reportText(const QString &name, const FileOutcome &outcome,
                       const QStringList &reports) const;

    Platform &m_platform;
    ConsoleDialogs &m_dialogs;
    WatchOptions m_options;
    ConsoleStop &m_stop;
    HotFolder m_hotFolder;
    Settling m_settling;
    PrintWay &m_way;
    ConsoleRun m_run;
    QFileSystemWatcher m_watcher;
    QTimer m_settle, m_heartbeat, m_networkLook, m_folderLook, m_watchdog, m_othersLook;
    QElapsedTimer m_clock;
    std::optional<FolderIdentity> m_identity; // the folder as the watch began
    QSet<QString> m_saidAlone;                // names said to be left alone, each once
    QString m_claimed;                        // the file in hand, in the claim folder
    int m_printedCount = 0, m_failedCount = 0;
    bool m_printerDown = false;
    bool m_busy = false;
    int m_status = 0;
    bool m_waitingForOthers = false;
};

/**
 * Watches `options.folder` until SIGINT, SIGTERM or SIGHUP, which end it once
 * the file in hand is done (a second one at once), printing each file `way`
 * says. `dialogs` are the platform's. Gives the exit status: 0 when ended by
 * a signal, 1 when the folder cannot be watched or went away.
 */
int runWatch(Platform &platform, ConsoleDialogs &dialogs, const WatchOptions &options,
             PrintWay way);

} // namespace deckrun
