// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window's side of following print jobs (core/run/JobFollower.h): the
// job of each file the window printed is asked about every few seconds while
// the window is open, and one that the printer cancels, aborts or stops is
// reported in the window's error report for that file, at step 130 with the
// printer's words. A run under way goes on meanwhile.

#include "core/run/JobFollower.h"

#include <QObject>
#include <QTimer>

#include <optional>

namespace deckrun {

struct FileOutcome;
struct Platform;

class JobReports final : public QObject {
public:
    explicit JobReports(Platform &platform, QObject *parent = nullptr);

    /** Follows the job of a file the run printed, if it has one. */
    void follow(const FileOutcome &outcome);
    /** Asks about the jobs now (the timer does every few seconds while any is followed). */
    void look();

private:
    Platform &m_platform;
    std::optional<JobFollower> m_follower;
    QTimer m_timer;
};

} // namespace deckrun
