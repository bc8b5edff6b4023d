// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// `deckrun --watch FOLDER`: a print server's hot folder. People and systems
// drop presentation files into FOLDER; each one is printed once it is
// complete, then moved to FOLDER/Printed/, or to FOLDER/Failed/ with its error
// report beside it. Several watchers, on one machine or on several sharing the
// folder over the network, can watch one folder: a file is claimed by moving
// it into the watcher's own folder under FOLDER/Processing/ first, and a move
// succeeds for one watcher only.
//
// Started by RunBatch (app/BatchRun.cpp) once the printer is chosen; prints
// each file through the window's print run, or with --fast through one
// application kept from file to file (printing/FastRun.h).

#include <QString>

namespace deckrun {

struct Platform;

struct WatchOptions {
    QString folder;
    QString printer;
    /** Files are those whose names match "*." followed by this, as a folder walk matches them. */
    QString extension = QStringLiteral("ppt");
    /** One application for every file (the fast run), rather than the window's run per file. */
    bool fast = false;
    /** The pause entry (0 to 9); the fast run waits it only when `pauses`. */
    int pause = 0;
    bool pauses = false;
    /** A file is taken once it has not changed for this long and nobody here writes it. */
    int settleMilliseconds = 2000;
};

/**
 * Watches `options.folder` until SIGINT or SIGTERM, which end it once the file
 * in hand is done (a second one at once). Gives the exit status: 0 when ended
 * by a signal, 1 when the folder cannot be watched.
 */
int RunWatch(Platform &platform, const WatchOptions &options);

/** `name` as the `n`th candidate for a free name: "a.pptx", "a (2).pptx", "a (3).pptx" ... */
QString NumberedName(const QString &name, int n);

/** A watcher's name under Processing/: its host and process ("printhost-4711"). */
QString WatcherName(const QString &host, qint64 pid);

} // namespace deckrun
