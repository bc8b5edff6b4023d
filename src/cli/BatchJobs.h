// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The print jobs of `deckrun --print`, followed at the printer once the
// files are done (core/run/JobFollower.h): what became of each is said on
// standard error unless it completed, and counted for the exit status.

#include "core/run/JobFollower.h"

#include <map>
#include <optional>

namespace deckrun {

class ConsoleStop;
struct FileOutcome;
struct Platform;

class BatchJobs {
public:
    explicit BatchJobs(Platform &platform);

    /** Follows the job of a file the run printed, if it has one. */
    void follow(const FileOutcome &outcome);
    /**
     * Once the files are done: with `wait` until every job has ended or
     * stopped (or a stop is asked for), else one look at what already did.
     */
    void settle(bool wait, ConsoleStop &stop);
    /** The jobs whose last news was not that they completed. */
    int notCompleted() const;

private:
    std::optional<JobFollower> m_follower;
    std::map<int, JobOutcome> m_last;
};

} // namespace deckrun
