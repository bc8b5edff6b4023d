// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// `deckrun --watch FOLDER`: the session around a hot folder
// (core/hotfolder): it notices what is dropped (the system's change
// notices, and a look every ten seconds on a network file system), waits
// for each file to settle, claims it, prints it through the one print run on
// a one-file queue, moves it out and says so on standard output, until
// SIGINT or SIGTERM.

#include <QString>

namespace deckrun {

class ConsoleDialogs;
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
 * Watches `options.folder` until SIGINT or SIGTERM, which end it once the
 * file in hand is done (a second one at once). `dialogs` are the platform's:
 * the session files a failed file's reports from them. Gives the exit
 * status: 0 when ended by a signal, 1 when the folder cannot be watched.
 */
int runWatch(Platform &platform, ConsoleDialogs &dialogs, const WatchOptions &options);

} // namespace deckrun
