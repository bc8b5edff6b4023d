// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/JobFollower.h"

#include "core/run/PrintRun.h"
#include "core/run/RunLogLine.h"
#include "platform/Failure.h"
#include "platform/Logging.h"
#include "platform/RunLog.h"

#include <algorithm>

namespace deckrun {

namespace {

using State = SpooledJob::State;

/** Whether the job or its printer says something went wrong. */
bool anyError(const JobStatus &status)
{
    return status.printerStopped ||
           std::any_of(status.reasons.begin(), status.reasons.end(), [](const QString &reason) {
               return reason.endsWith(QLatin1String("-error")) ||
                      reason.endsWith(QLatin1String("-errors")) ||
                      reason == QLatin1String("printer-stopped");
           });
}

/** Whether the job waits for someone: stopped, held, or on a stopped printer. */
bool waitsForSomeone(const JobStatus &status)
{
    return status.state == State::Stopped || status.held ||
           (status.printerStopped &&
            (status.state == State::Waiting || status.state == State::Processing));
}

/** Reasons worth a person's reading: not "none", nor what every job goes through. */
QStringList telling(const QStringList &reasons)
{
    static const QStringList routine = {QStringLiteral("none"), QStringLiteral("job-printing"),
                                        QStringLiteral("processing-to-stop-point"),
                                        QStringLiteral("job-incoming")};
    QStringList kept;
    for (const QString &reason : reasons)
        if (!routine.contains(reason))
            kept << reason;
    return kept;
}

/**
 * The printer's words about the job (with its reasons: "Filter failed
 * (media-jam-error)"), and the service's; else the job's reasons.
 */
QString wordsOf(const JobStatus &status)
{
    QStringList words;
    if (!status.printerMessage.isEmpty()) {
        const QStringList why = telling(status.printerReasons);
        words << (why.isEmpty() ? status.printerMessage
                                : QStringLiteral("%1 (%2)").arg(status.printerMessage,
                                                                why.join(QStringLiteral(", "))));
    }
    if (!status.jobMessage.isEmpty() && status.jobMessage != status.printerMessage)
        words << status.jobMessage;
    if (words.isEmpty())
        words = telling(status.reasons + status.printerReasons);
    if (words.isEmpty() && status.printerStopped)
        words << QStringLiteral("printer-stopped");
    words.removeDuplicates();
    return words.join(QStringLiteral("; "));
}

QString stateWords(const std::optional<JobStatus> &status)
{
    if (!status)
        return QStringLiteral("it was never seen");
    switch (status->state) {
    case State::Processing:
        return anyError(*status) ? QStringLiteral("it was last seen printing, with an error (%1)")
                                       .arg(wordsOf(*status))
                                 : QStringLiteral("it was last seen printing, without an error");
    case State::Stopped:
        return QStringLiteral("it was last seen stopped");
    default:
        return QStringLiteral("it was last seen waiting to print");
    }
}

std::optional<JobOutcome> endOf(State state)
{
    switch (state) {
    case State::Completed:
        return JobOutcome::Completed;
    case State::Cancelled:
        return JobOutcome::Canceled;
    case State::Aborted:
        return JobOutcome::Aborted;
    default:
        return std::nullopt;
    }
}

} // namespace

QString jobOutcomeName(JobOutcome outcome)
{
    switch (outcome) {
    case JobOutcome::Completed:
        return QStringLiteral("completed");
    case JobOutcome::Canceled:
        return QStringLiteral("canceled");
    case JobOutcome::Aborted:
        return QStringLiteral("aborted");
    case JobOutcome::Stopped:
        return QStringLiteral("stopped");
    case JobOutcome::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString jobNewsText(const JobNews &news)
{
    QString what;
    switch (news.outcome) {
    case JobOutcome::Completed:
        what = QStringLiteral("completed at the printer");
        break;
    case JobOutcome::Canceled:
        what = QStringLiteral("was canceled at the printer");
        break;
    case JobOutcome::Aborted:
        what = QStringLiteral("was aborted at the printer");
        break;
    case JobOutcome::Stopped:
        what = QStringLiteral("stopped at the printer");
        break;
    case JobOutcome::Unknown:
        what = QStringLiteral("may not have printed");
        break;
    }
    const QString text = QStringLiteral("\"%1\" (job %2 on \"%3\") %4")
                             .arg(FileNameFromPath(news.job.file))
                             .arg(news.job.id)
                             .arg(news.job.printer, what);
    return news.message.isEmpty() ? text + QLatin1Char('.')
                                  : text + QStringLiteral(": ") + news.message;
}

JobFollower::JobFollower(PrintSpooler &spooler, EventLoop &clock, RunLog *log)
    : m_spooler(spooler), m_clock(clock), m_log(log)
{}

void JobFollower::follow(const FollowedJob &job)
{
    if (job.id > 0)
        m_jobs.push_back(Followed{job, std::nullopt, false, false});
}

void JobFollower::addListener(std::function<void(const JobNews &)> listener)
{
    m_listeners.push_back(std::move(listener));
}

std::optional<JobNews> JobFollower::judge(Followed &followed,
                                          const std::optional<JobStatus> &status) const
{
    const auto news = [&](JobOutcome outcome, const QString &message) {
        return JobNews{followed.job, outcome, message, QDateTime::currentDateTime()};
    };
    if (!status) {
        const bool printedClean = followed.lastSeen &&
                                  followed.lastSeen->state == State::Processing &&
                                  !anyError(*followed.lastSeen);
        return news(printedClean ? JobOutcome::Completed : JobOutcome::Unknown,
                    QStringLiteral("the print service no longer knows the job; %1")
                        .arg(stateWords(followed.lastSeen)));
    }
    followed.lastSeen = status;
    if (const std::optional<JobOutcome> end = endOf(status->state))
        return news(*end, wordsOf(*status));
    followed.stoppedNow = waitsForSomeone(*status);
    if (!followed.stoppedNow || followed.saidStopped)
        return std::nullopt;
    followed.saidStopped = true;
    return news(JobOutcome::Stopped, wordsOf(*status));
}

void JobFollower::look()
{
    // A listener that shows a message handles events meanwhile, and a timer
    // may ask for another look then: the look under way answers for both.
    if (m_looking)
        return;
    m_looking = true;
    std::vector<JobNews> told;
    for (auto followed = m_jobs.begin(); followed != m_jobs.end();) {
        std::optional<JobStatus> status;
        try {
            status = m_spooler.jobStatus(followed->job.id);
        } catch (const Failure &f) {
            qCDebug(lcPrinter) << "job" << followed->job.id
                               << "could not be asked about now:" << f.description();
            ++followed;
            continue;
        }
        const std::optional<JobNews> news = judge(*followed, status);
        if (news)
            told.push_back(*news);
        if (news && news->outcome != JobOutcome::Stopped)
            followed = m_jobs.erase(followed);
        else
            ++followed;
    }
    for (const JobNews &news : told)
        tell(news);
    m_looking = false;
}

void JobFollower::tell(const JobNews &news)
{
    if (m_log) {
        try {
            m_log->append(jobLogLine(news));
        } catch (const std::exception &e) {
            qCWarning(lcPrinter) << "the run log cannot be written:" << e.what();
        }
    }
    for (const auto &listener : m_listeners)
        listener(news);
}

bool JobFollower::settled() const
{
    return std::all_of(m_jobs.begin(), m_jobs.end(),
                       [](const Followed &followed) { return followed.stoppedNow; });
}

void JobFollower::waitUntilSettled(const std::function<bool()> &endEarly)
{
    for (;;) {
        look();
        if (settled() || (endEarly && endEarly()))
            return;
        WaitSeconds(m_clock, 1, endEarly);
    }
}

} // namespace deckrun
