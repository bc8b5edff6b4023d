// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace deckrun {

/**
 * Where every print run, from the window or from `deckrun --print`, records
 * how each file ended: one line per file, appended as the file ends, so that
 * a run that is killed loses nothing it already recorded.
 */
class RunLog {
public:
    virtual ~RunLog() = default;
    /**
     * Appends `line` (without its line break) and hands it to the system
     * before returning. Throws Failure when it could not be written.
     */
    virtual void append(const QByteArray &line) = 0;
    /** Where the lines go, as messages name it. */
    virtual QString location() const = 0;
};

/**
 * The run log in the user's state folder: "run-log.jsonl" in
 * $XDG_STATE_HOME/Orvanta/Deckrun (~/.local/state/Orvanta/Deckrun when
 * XDG_STATE_HOME is not set) on Linux, in the local application data folder's
 * "State" on Windows.
 */
QString DefaultRunLogPath();

/**
 * Appends `bytes` to the file at `path` (made when missing) whole or not at
 * all: under a lock on the file against other writers that lock it, and cut
 * back to its former end when the write stops short (a full disk), so that
 * no fragment is left for the next line to be glued to. A file that does
 * not end with a line break (a fragment left by an older program) gets one
 * first. Throws Failure naming the system's own cause ("No space left on
 * device").
 */
void appendWhole(const QString &path, const QByteArray &bytes);

} // namespace deckrun
