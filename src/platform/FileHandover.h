// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Handing files over between processes through a folder they share (the
// watched folder of `deckrun --watch`): a move that never replaces what is
// already there, and whether a file is still being written.

#include <QString>
#include <QStringList>

namespace deckrun {

/** How a move ended. */
enum class MoveOutcome {
    Moved,
    SourceGone,  // nothing at the source: another process moved it first
    TargetTaken, // a file of that name is already there; nothing was moved
    Failed,      // anything else (permissions, another file system)
};

/**
 * Moves `from` to `to` (on the same file system) in one step, so that of
 * several processes moving the same file exactly one succeeds, and never
 * replaces a file at `to`. `error` gets the system's words when it failed.
 */
MoveOutcome moveWithoutReplacing(const QString &from, const QString &to, QString *error = nullptr);

/**
 * Those of `paths` that a process on this machine holds open for writing, as
 * far as Deckrun may look (on Linux, the processes of its own user, or all of
 * them as root). A writer on another machine is not seen.
 */
QStringList filesOpenForWriting(const QStringList &paths);

} // namespace deckrun
