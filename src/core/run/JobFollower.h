// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Each print job followed to its end. Step 130 passes once the print service
// has the whole job; whether paper came out is known only later, and a print
// run does not wait for it: the next file goes on. The follower asks the
// service about the jobs it was given, whenever its owner says (a timer in
// the window, the end of `--print`, once a second with `--wait`), and tells
// what it finds: a job that ended (completed, canceled, aborted), or that
// stopped and waits for someone (a jam, a stopped printer, a job held),
// gets one more line in the run log, after its file's own, and goes to the
// listeners (the exit status, the window's report, the watcher).

#include "platform/PrintSpooler.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace deckrun {

class EventLoop;
class RunLog;

/** A job the print service has, with the file and the printer its run-log line names. */
struct FollowedJob {
    QString file;
    QString printer;
    int id = 0;
};

/** How a job ended, or that it stopped to wait for someone. */
enum class JobOutcome { Completed, Canceled, Aborted, Stopped, Unknown };

/** "completed", "canceled", "aborted", "stopped", "unknown". */
QString jobOutcomeName(JobOutcome outcome);

/** What the follower found out about one job. */
struct JobNews {
    FollowedJob job;
    JobOutcome outcome = JobOutcome::Unknown;
    QString message; // the printer's words, or the service's
    QDateTime time;
};

/**
 * The news as people read it: "a.pptx" (job 12 on "Laser") stopped at the
 * printer: Paper jam in tray 1
 */
QString jobNewsText(const JobNews &news);

class JobFollower {
public:
    /** `log`: where each piece of news gets its line; none: nowhere. */
    JobFollower(PrintSpooler &spooler, EventLoop &clock, RunLog *log = nullptr);

    /** Follows `job` from the next look on. */
    void follow(const FollowedJob &job);
    /** Called with each piece of news, after its line was written. */
    void addListener(std::function<void(const JobNews &)> listener);

    /**
     * Asks the print service once about every job that has not ended. A job
     * that ended is told and followed no longer; one that stopped is told
     * once and still followed. A job the service no longer knows counts as
     * completed only when it was last seen printing without an error;
     * otherwise its outcome is unknown. A question the service does not
     * answer changes nothing: the job is asked about again next time.
     */
    void look();
    /**
     * Looks once a second until every job has ended or stopped, or until
     * `endEarly` says so (checked whenever events were handled).
     */
    void waitUntilSettled(const std::function<bool()> &endEarly);
    /** True when every job followed has ended or is stopped now. */
    bool settled() const;
    /** The jobs not ended yet. */
    std::size_t following() const { return m_jobs.size(); }

private:
    struct Followed {
        FollowedJob job;
        std::optional<JobStatus> lastSeen;
        bool stoppedNow = false;
        bool saidStopped = false;
    };

    /** What `status` (none: the service forgot the job) means for `followed`: news, if any. */
    std::optional<JobNews> judge(Followed &followed, const std::optional<JobStatus> &status) const;
    void tell(const JobNews &news);

    PrintSpooler &m_spooler;
    EventLoop &m_clock;
    RunLog *m_log;
    std::vector<Followed> m_jobs;
    std::vector<std::function<void(const JobNews &)>> m_listeners;
    bool m_looking = false;
};

} // namespace deckrun
