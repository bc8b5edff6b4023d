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

} // namespace deckrun
