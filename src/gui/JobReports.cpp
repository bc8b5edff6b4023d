// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/JobReports.h"

#include "core/common/ErrorReport.h"
#include "core/run/PrintRun.h"
#include "core/run/RunLogLine.h"
#include "platform/Platform.h"

namespace deckrun {

namespace {

// How often the jobs followed are asked about: a request each to the local
// print service, which a window can afford.
constexpr int LookMilliseconds = 3000;

} // namespace

JobReports::JobReports(Platform &platform, QObject *parent) : QObject(parent), m_platform(platform)
{
    if (!platform.spooler)
        return; // the application prints itself: there are no jobs to follow
    m_follower.emplace(*platform.spooler, *platform.events, platform.runLog.get());
    m_follower->addListener([this](const JobNews &news) {
        if (news.outcome != JobOutcome::Completed)
            ShowErrorReport(*m_platform.dialogs, jobNewsText(news), printRunLocation(), 130);
    });
    connect(&m_timer, &QTimer::timeout, this, [this] { look(); });
}

void JobReports::follow(const FileOutcome &outcome)
{
    if (!m_follower || outcome.jobId <= 0)
        return;
    m_follower->follow(FollowedJob{outcome.file, outcome.printer, outcome.jobId});
    if (!m_timer.isActive())
        m_timer.start(LookMilliseconds);
}

void JobReports::look()
{
    if (!m_follower)
        return;
    m_follower->look();
    // A stopped job is still followed, until it ends.
    if (m_follower->following() == 0)
        m_timer.stop();
}

} // namespace deckrun
