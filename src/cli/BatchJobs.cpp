// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/BatchJobs.h"

#include "cli/ConsoleFrontEnd.h"
#include "cli/TerminalOutput.h"
#include "core/run/RunLogLine.h"
#include "platform/Platform.h"

#include <algorithm>

namespace deckrun {

BatchJobs::BatchJobs(Platform &platform)
{
    if (!platform.spooler)
        return; // the application prints itself: there are no jobs to follow
    m_follower.emplace(*platform.spooler, *platform.events, platform.runLog.get());
    m_follower->addListener([this](const JobNews &news) {
        m_last[news.job.id] = news.outcome;
        if (news.outcome != JobOutcome::Completed)
            sayError(oneLine(jobNewsText(news)));
    });
}

void BatchJobs::follow(const FileOutcome &outcome)
{
    if (m_follower && outcome.jobId > 0)
        m_follower->follow(FollowedJob{outcome.file, outcome.printer, outcome.jobId});
}

void BatchJobs::settle(bool wait, ConsoleStop &stop)
{
    if (!m_follower)
        return;
    if (!wait) {
        m_follower->look();
        return;
    }
    // A signal now has no file in hand to wait for.
    stop.setIdle([] { return true; }, [] {});
    m_follower->waitUntilSettled([&stop] { return stop.requested(); });
}

int BatchJobs::notCompleted() const
{
    return static_cast<int>(std::count_if(m_last.begin(), m_last.end(), [](const auto &job) {
        return job.second != JobOutcome::Completed;
    }));
}

} // namespace deckrun
