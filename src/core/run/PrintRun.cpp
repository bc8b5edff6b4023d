// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/PrintRun.h"

#include "core/common/ErrorReport.h"
#include "core/queue/QueueModel.h"
#include "core/run/PowerPoint1.h"
#include "core/run/PrintStrategy.h"
#include "core/run/PrinterNeeds.h"
#include "core/run/RunRecorder.h"
#include "core/run/RunStop.h"
#include "platform/EventLoop.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"

#include <algorithm>

namespace deckrun {

namespace {

constexpr double SecondsPerDay = 86400.0;

double elapsedSince(double start, double now)
{
    // The clock restarts at midnight: a smaller reading means a new day began.
    return now >= start ? now - start : now + SecondsPerDay - start;
}

/** Clears the printing flag however the run is left, also when the program is being ended. */
class PrintingFlag {
public:
    explicit PrintingFlag(bool &printing) : m_printing(printing) {}
    ~PrintingFlag() { m_printing = false; }
    PrintingFlag(const PrintingFlag &) = delete;
    PrintingFlag &operator=(const PrintingFlag &) = delete;

private:
    bool &m_printing;
};

/** While a run prints, a second request to stop stops its strategy's applications. */
class StopNowWhilePrinting {
public:
    StopNowWhilePrinting(RunStop *stop, PrintStrategy &strategy) : m_stop(stop)
    {
        if (m_stop)
            m_stop->setStopNow([&strategy] { strategy.stopNow(); });
    }
    ~StopNowWhilePrinting()
    {
        if (m_stop)
            m_stop->setStopNow({});
    }
    StopNowWhilePrinting(const StopNowWhilePrinting &) = delete;
    StopNowWhilePrinting &operator=(const StopNowWhilePrinting &) = delete;

private:
    RunStop *m_stop;
};

/** One run of the queue, step by step. */
class Run {
public:
    Run(const RunSetup &setup, const QueueModel &queue, bool &printing)
        : m_setup(setup), m_platform(setup.platform), m_events(*setup.platform.events),
          m_queue(queue), m_printing(printing),
          m_steps(*setup.platform.dialogs, printRunLocation()),
          m_recorder(setup.platform, setup.progress, setup.logsEachFile)
    {
        m_steps.setReportListener([this](int step, const QString &description) {
            m_recorder.stepFailed(step, description);
        });
    }

    void run()
    {
        if (m_steps.test(100, [&] { return m_printing; }))
            return;
        m_steps.step(102, [&] { m_printing = true; });
        const PrintingFlag clearOnExit(m_printing);
        if (mayGoOn()) {
            const StopNowWhilePrinting stopNow(m_setup.stop, m_setup.strategy);
            printRows();
            finish();
        }
        m_steps.step(154, [&] { m_printing = false; });
    }

private:
    bool stopping() const { return m_setup.stop && m_setup.stop->requested(); }

    /** Steps 104 and 106: no files ("No files added.", 152), or the application running and the
     * user not going on. */
    bool mayGoOn()
    {
        if (m_steps.test(104, [&] { return m_queue.count() == 0; })) {
            m_steps.step(152, [&] {
                m_platform.dialogs->messageBox(QStringLiteral("No files added."), QString(),
                                               Buttons::Ok, Icon::None);
            });
            return false;
        }
        return !m_steps.test(106, [&] {
            return AbortForRunningPowerPoint(*m_platform.office, *m_platform.dialogs);
        });
    }

    void printRows()
    {
        m_steps.step(108, [&] {
            m_rows = m_queue.count();
            m_row = 1;
        });
        m_setup.strategy.runStarts(
            RowsAhead{.pathAt = [this](std::int32_t row) -> std::optional<QString> {
                          if (row < 1 || row > m_queue.count())
                              return std::nullopt;
                          return m_queue.textAt(row);
                      },
                      .rows = m_rows,
                      .stopping = [this] { return stopping(); }});
        while (m_row <= m_rows && !stopping())
            printRow();
        m_setup.strategy.runEnds();
    }

    /** Steps 110 to 142 for the row in hand. */
    void printRow()
    {
        PrintProgress &progress = m_setup.progress;
        m_steps.step(110, [&] { progress.showBusy(true); });
        // A row that is gone (the list was emptied meanwhile) is reported and
        // skipped: printing the path in hand again would print a file twice.
        if (!m_steps.step(112, [&] { m_path = m_queue.textAt(m_row); })) {
            ++m_row;
            return;
        }
        m_recorder.fileStarts(m_row, m_rows, m_path);
        m_steps.step(114, [&] { progress.showPercent(progressPercent(m_row, m_queue.count())); });
        m_steps.step(116, [&] {
            progress.showText(QStringLiteral("Processing: ") + FileNameFromPath(m_path));
        });
        m_steps.step(118, [&] { m_events.pumpEvents(); });
        RunFile file(*this);
        m_setup.strategy.printFile(file);
        // A file that never reached the printer is recorded once its steps
        // are done, before the pause.
        m_recorder.fileDone();
        pause();
        m_steps.step(142, [&] { ++m_row; });
    }

    /** The file in hand as the strategy sees it: steps 126 and 130 stay the run's. */
    class RunFile final : public FileInHand {
    public:
        explicit RunFile(Run &run)
            : FileInHand(run.m_steps, run.m_row, run.m_path, run.m_events), m_run(run)
        {}
        bool choosePrinter(const SetPrinter &setPrinter) override
        {
            return m_run.m_steps.step(126, [&] {
                FileOutcome &outcome = m_run.m_recorder.outcome();
                outcome.printer = m_run.m_setup.choices.printerName();
                setPrinter(outcome.printer);
            });
        }
        bool print(const PrintOut &printOut) override
        {
            const RunSetup &setup = m_run.m_setup;
            const QString jobName = setup.jobName ? setup.jobName(path) : QString();
            // Once the job is confirmed the file's line goes to the log at
            // once, before the close and the waits: a run killed from here
            // on has recorded every file that reached the printer.
            if (!m_run.m_steps.step(130, [&] {
                    const PrintedJob job = printOut(setup.settings, jobName);
                    FileOutcome &outcome = m_run.m_recorder.outcome();
                    outcome.jobId = job.jobId;
                    outcome.settings = carried(job);
                    outcome.notice = job.notice;
                }))
                return false;
            m_run.m_recorder.handedOver();
            return true;
        }
        bool stopping() const override { return m_run.stopping(); }

    private:
        /** What the job carried in the end: the print service's defaults with what was asked. */
        PrintSettings carried(const PrintedJob &job) const
        {
            PrintSpooler *spooler = m_run.m_platform.spooler.get();
            if (job.jobId <= 0 || !spooler)
                return job.settings;
            return carriedSettings(job.settings, spooler->jobOptions(job.jobId));
        }

        Run &m_run;
    };

    void pause()
    {
        if (m_setup.pause == PauseRule::None)
            return;
        const int extra = m_setup.pause == PauseRule::DigitAndOneSecond ? 1 : 0;
        m_steps.step(140, [&] {
            WaitSeconds(m_events, pauseDigit(m_setup.choices.pauseText()) + extra,
                        [this] { return stopping(); });
        });
    }

    /** Steps 144 to 150: the window as it was before the run, and "Done.". */
    void finish()
    {
        PrintProgress &progress = m_setup.progress;
        m_steps.step(144, [&] { progress.showBusy(false); });
        m_steps.step(146, [&] { progress.showPercent(0); });
        m_steps.step(148, [&] { progress.showText(QStringLiteral("Progress Bar")); });
        m_steps.step(150, [&] {
            if (!progress.announceDone())
                m_platform.dialogs->messageBox(QStringLiteral("Done."), QString(), Buttons::Ok,
                                               Icon::None);
        });
    }

    const RunSetup &m_setup;
    Platform &m_platform;
    EventLoop &m_events;
    const QueueModel &m_queue;
    bool &m_printing;
    StepRunner m_steps;
    RunRecorder m_recorder;
    std::int32_t m_rows = 0;
    std::int32_t m_row = 1;
    QString m_path; // kept from one file to the next when a row cannot be read
};

} // namespace

void printQueue(const RunSetup &setup, const QueueModel &queue, bool &printing)
{
    Run(setup, queue, printing).run();
}

QString printRunLocation()
{
    return FormLocation("PushButton3_Click");
}

void WaitSeconds(EventLoop &events, double seconds)
{
    WaitSeconds(events, seconds, {});
}

void WaitSeconds(EventLoop &events, double seconds, const std::function<bool()> &endEarly)
{
    if (!(seconds > 0))
        return;
    const double start = events.secondsSinceMidnight();
    while (elapsedSince(start, events.secondsSinceMidnight()) < seconds) {
        events.pumpEvents();
        if (endEarly && endEarly())
            return;
        const double remaining = seconds - elapsedSince(start, events.secondsSinceMidnight());
        if (remaining > 0)
            events.sleepForEvents(remaining);
    }
}

QString FileNameFromPath(const QString &path)
{
    const qsizetype last = path.lastIndexOf(pathSeparator());
    return last < 0 ? path : path.mid(last + 1);
}

int progressPercent(std::int32_t i, std::int32_t count)
{
    if (count <= 0)
        return 100; // no rows left to count against: the file in hand is the last one
    const std::int64_t percent = static_cast<std::int64_t>(i) * 100 / count;
    return static_cast<int>(std::clamp<std::int64_t>(percent, 0, 100));
}

int pauseDigit(const QString &pauseText)
{
    if (pauseText.isEmpty() || pauseText.front() < QLatin1Char('0') ||
        pauseText.front() > QLatin1Char('9'))
        throw Failure(QStringLiteral("Type mismatch"), code::TypeMismatch);
    return pauseText.front().unicode() - u'0';
}

} // namespace deckrun
