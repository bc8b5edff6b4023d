// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the print run does as a file begins and ends: the progress sink is
// told, and the run log gets the file's one line, written once.

#include "core/run/RunLogLine.h"

#include <optional>

namespace deckrun {

class PrintProgress;
struct Platform;

/**
 * Records each file's outcome. A file's line is written the moment its print
 * job is confirmed (handedOver), so a run killed from then on keeps it, or
 * else once its steps are done; the first failing step before that is the
 * one the line names, and a failure after it no longer changes the line. A
 * run log that cannot be written is said once per run; the files go on
 * printing.
 */
class RunRecorder {
public:
    /** `logs`: the line goes to the platform's run log (else only to the progress sink). */
    RunRecorder(Platform &platform, PrintProgress &progress, bool logs = true);

    /** File `position` of `count` begins; the outcome in hand is its own. */
    void fileStarts(int position, int count, const QString &path);
    /** The outcome of the file in hand: the strategy fills in its printer. */
    FileOutcome &outcome() { return *m_outcome; }
    bool hasFile() const { return m_outcome.has_value(); }
    /** A step of the file in hand failed; the first one before the print counts. */
    void stepFailed(int step, const QString &description);
    /** The file's print job is confirmed: its line is written now. */
    void handedOver();
    /** The file's steps are done: its line is written unless it already was. */
    void fileDone();

private:
    void write();
    void say(const QString &why);

    Platform &m_platform;
    PrintProgress &m_progress;
    std::optional<FileOutcome> m_outcome;
    bool m_written = false;
    bool m_logs;
    bool m_logFailed = false;
};

} // namespace deckrun
