// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/FastRun.h"

#include "core/common/ErrorReport.h"
#include "core/queue/QueueModel.h"
#include "core/run/PowerPoint1.h"
#include "core/run/RunRecorder.h"
#include "platform/EventLoop.h"
#include "platform/Failure.h"
#include "platform/Logging.h"
#include "platform/Platform.h"
#include "platform/Printers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <optional>
#include <vector>

namespace deckrun {

// An application that waited this long is asked whether it still answers.
constexpr double IdleSeconds = 5;

FastPrinter::FastPrinter(PresentationAutomation &office, EventLoop &clock, int renewEvery)
    : m_office(office), m_clock(clock), m_renewEvery(renewEvery > 0 ? renewEvery : 1)
{}

FastPrinter::~FastPrinter()
{
    quit();
}

namespace {

/** Runs one piece of a file's work on the application: here, or where the application lives. */
using OnOffice = std::function<void(const std::function<void()> &work)>;

/**
 * Steps 120 to 138 of one file, as the window's run numbers them: `open` is
 * step 120's work (it gives the application, and the seconds a start took in
 * `started`), `on` runs each later piece of work on the application.
 */
bool fileSteps(StepRunner &steps, const QString &path, const PrintChoices &choices,
               FileOutcome &outcome, const std::function<std::shared_ptr<PresentationApp>()> &open,
               const double &started, const OnOffice &on)
{
    // Where a file's time goes, for the office's debug log (QT_LOGGING_RULES).
    QElapsedTimer clock;
    clock.start();
    qint64 lap = 0;
    const auto took = [&] {
        const qint64 now = clock.nsecsElapsed();
        const double seconds = static_cast<double>(now - lap) / 1e9;
        lap = now;
        return seconds;
    };

    // This file's references: empty when a step before failed, as in the window's run.
    std::shared_ptr<PresentationApp> application;
    std::shared_ptr<Presentation> presentation;
    bool passed = steps.step(120, [&] { application = open(); });
    const double opening = took();
    passed &= steps.step(
        122, [&] { on([&] { presentation = requiredObject(application).activePresentation(); }); });
    passed &= steps.step(126, [&] {
        outcome.printer = choices.printerName();
        on([&] { requiredObject(application).setActivePrinter(outcome.printer); });
    });
    const double printer = took();
    passed &= steps.step(
        128, [&] { on([&] { requiredObject(presentation).setPrintInBackground(false); }); });
    passed &= steps.step(130, [&] { on([&] { requiredObject(presentation).printOut(); }); });
    const double print = took();
    passed &= steps.step(132, [&] { on([&] { requiredObject(presentation).close(); }); });
    // Released where the application lives.
    passed &= steps.step(136, [&] { on([&] { presentation.reset(); }); });
    passed &= steps.step(138, [&] { on([&] { application.reset(); }); });
    const double close = took();
    const auto text = [](double seconds) { return QString::number(seconds, 'f', 3); };
    qCDebug(lcOffice).noquote() << QStringLiteral("seconds: start %1 open %2 printer %3 print %4 "
                                                  "close %5 %6")
                                       .arg(text(started), text(std::max(0.0, opening - started)),
                                            text(printer), text(print), text(close), path);
    return passed;
}

void direct(const std::function<void()> &work)
{
    work();
}

} // namespace

bool FastPrinter::printFile(StepRunner &steps, const QString &path, const PrintChoices &choices,
                            FileOutcome &outcome)
{
    double started = 0;
    const bool passed = fileSteps(
        steps, path, choices, outcome,
        [&] { return open(path, m_clock.secondsSinceMidnight(), &started); }, started, direct);
    fileDone(passed, m_clock.secondsSinceMidnight());
    return passed;
}

std::shared_ptr<PresentationApp> FastPrinter::open(const QString &path, double now, double *started)
{
    if (m_application) {
        double idle = now - m_lastUsed;
        if (idle < 0)
            idle += 86400; // midnight passed
        if (idle >= IdleSeconds && !stillAnswers())
            stop();
    }
    if (!m_application) {
        QElapsedTimer clock;
        clock.start();
        m_application = m_office.create();
        m_filesOnApplication = 0;
        if (started)
            *started = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    }
    ++m_filesOnApplication;
    m_application->openHidden(path);
    return m_application;
}

void FastPrinter::fileDone(bool passed, double now)
{
    m_lastUsed = now;
    // Whatever went wrong may have left the application in a state of its
    // own (a dialog, a half-open document, a printer it holds on to).
    if (!passed)
        stop();
    else if (m_filesOnApplication >= m_renewEvery)
        quit();
}

bool FastPrinter::stillAnswers()
{
    try {
        m_application->name();
        return true;
    } catch (const std::exception &e) {
        qCDebug(lcOffice) << "the application kept ended while it waited:" << e.what();
        return false;
    }
}

void FastPrinter::quit()
{
    if (!m_application)
        return;
    try {
        m_application->quit();
    } catch (const std::exception &e) {
        qCDebug(lcOffice) << "the application did not quit:" << e.what();
    }
    stop();
}

void FastPrinter::stop()
{
    m_application.reset();
    try {
        m_office.shutdown();
    } catch (const std::exception &e) {
        qCDebug(lcOffice) << "the application could not be stopped:" << e.what();
    }
}

namespace {

/** The printers as a run began: the threads of a run ask them, not the system, file after file. */
class FixedPrinters final : public Printers {
public:
    explicit FixedPrinters(Printers &system)
        : m_default(system.defaultPrinterName()), m_names(system.printerNames())
    {}
    QString defaultPrinterName() override { return m_default; }
    QStringList printerNames() override { return m_names; }

private:
    QString m_default;
    QStringList m_names;
};

/**
 * One application on a thread of its own, so that it can open its next file
 * while another application prints. Its work runs there one piece after the
 * other; the run's thread waits for each piece it needs, handling its events.
 * The application starts on that thread and dies with it.
 */
class Lane {
public:
    Lane(std::unique_ptr<PresentationAutomation> office, EventLoop &events, int renewEvery)
        : m_office(std::move(office)), m_events(events),
          m_printer(std::make_unique<FastPrinter>(*m_office, events, renewEvery))
    {
        m_context.moveToThread(&m_thread);
        m_thread.start();
    }

    ~Lane()
    {
        try {
            wait(post([this] {
                try {
                    m_opened.reset();
                    m_printer.reset(); // quits the application on the thread that started it
                    m_office->shutdown();
                } catch (const std::exception &e) {
                    qCDebug(lcOffice) << "an application side by side did not end:" << e.what();
                }
                m_context.moveToThread(QCoreApplication::instance()->thread());
            }));
        } catch (const std::exception &e) {
            qCDebug(lcOffice) << "an application side by side did not end:" << e.what();
        }
        m_thread.quit();
        m_thread.wait();
    }

    Lane(const Lane &) = delete;
    Lane &operator=(const Lane &) = delete;

    /** Begins opening `path` there, after what the lane does now. */
    void beginOpen(const QString &path, double now)
    {
        m_openingPath = path;
        m_started = 0;
        m_opening = post([this, path, now] { m_opened = m_printer->open(path, now, &m_started); });
    }

    /** Waits for the open of `path` (begun now when another was begun); throws its failure. */
    std::shared_ptr<PresentationApp> finishOpen(const QString &path, double now, double &started)
    {
        if (m_opening && m_openingPath != path) {
            // Opened ahead for a row that has changed since: let it end first.
            try {
                wait(std::exchange(m_opening, nullptr));
            } catch (const std::exception &e) {
                qCDebug(lcOffice) << "a file opened ahead is not printed:" << e.what();
            }
            m_opened.reset();
        }
        if (!m_opening)
            beginOpen(path, now);
        const auto opening = std::exchange(m_opening, nullptr);
        wait(opening);
        started = m_started;
        return std::exchange(m_opened, nullptr);
    }

    /** Runs `work` there and waits for it; throws its failure. */
    void call(const std::function<void()> &work) { wait(post(work)); }

    /** The file's steps are over; what that means for the application happens there, meanwhile. */
    void fileDone(bool passed, double now)
    {
        post([this, passed, now] { m_printer->fileDone(passed, now); });
    }

private:
    struct Task {
        std::atomic<bool> done{false};
        std::exception_ptr error;
    };

    std::shared_ptr<Task> post(std::function<void()> work)
    {
        auto task = std::make_shared<Task>();
        QMetaObject::invokeMethod(
            &m_context,
            [task, work = std::move(work)] {
                try {
                    work();
                } catch (...) {
                    task->error = std::current_exception();
                }
                task->done = true;
                // Wakes the run's thread, asleep in its event loop.
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
        return task;
    }

    void wait(const std::shared_ptr<Task> &task)
    {
        while (!task->done)
            m_events.sleepForEvents(0.1);
        if (task->error)
            std::rethrow_exception(task->error);
    }

    std::unique_ptr<PresentationAutomation> m_office;
    EventLoop &m_events;
    std::unique_ptr<FastPrinter> m_printer; // used on the lane's thread only, once it runs
    QThread m_thread;
    QObject m_context; // lives on m_thread: the work posted to it runs there
    std::shared_ptr<Task> m_opening;
    QString m_openingPath;
    std::shared_ptr<PresentationApp> m_opened;
    double m_started = 0;
};

} // namespace

void PrintQueueFast(Platform &platform, const QueueModel &queue, const PrintChoices &choices,
                    PrintProgress &progress, bool &printing, const FastRunOptions &options)
{
    EventLoop &events = *platform.events;
    StepRunner r(*platform.dialogs, PrintRunLocation());

    if (r.test(100, [&] { return printing; }))
        return;
    r.step(102, [&] { printing = true; });
    const PrintingFlag clearOnExit(printing);
    if (!RunMayGoOn(r, platform, queue, printing))
        return;
    const auto finish = [&] { r.step(154, [&] { printing = false; }); };

    // One application on this thread, or several side by side on threads of
    // their own; those made here ask the printers as the run began, not the
    // system for every file.
    std::optional<FixedPrinters> printers;
    std::unique_ptr<PresentationAutomation> ownOffice;
    std::optional<FastPrinter> printer;
    std::vector<std::unique_ptr<Lane>> lanes;
    if (options.makeOffice)
        printers.emplace(*platform.printers);
    if (options.jobs > 1 && options.makeOffice) {
        for (int k = 0; k < options.jobs; ++k)
            lanes.push_back(
                std::make_unique<Lane>(options.makeOffice(*printers), events, options.renewEvery));
    } else {
        if (options.makeOffice)
            ownOffice = options.makeOffice(*printers);
        printer.emplace(ownOffice ? *ownOffice : *platform.office, events, options.renewEvery);
    }
    RunRecorder recorder(platform, progress);
    std::optional<FileOutcome> outcome;
    r.setReportListener([&](int step, const QString &description) {
        if (outcome && outcome->printed()) {
            outcome->failedStep = step;
            outcome->description = description;
        }
    });
    const auto stopping = [&] { return choices.stopRequested(); };

    std::int32_t rowsToPrint = 0;
    std::int32_t i = 1;
    QString path;
    r.step(108, [&] {
        rowsToPrint = queue.count();
        i = 1;
    });
    // Each lane opens the file after its current one ahead; file i is its lane's in turn.
    const auto laneOf = [&](std::int32_t row) -> Lane & {
        return *lanes[static_cast<std::size_t>(row - 1) % lanes.size()];
    };
    const auto openAhead = [&](std::int32_t row) {
        if (row > rowsToPrint || stopping())
            return;
        try {
            laneOf(row).beginOpen(queue.textAt(row), events.secondsSinceMidnight());
        } catch (const std::exception &e) {
            qCDebug(lcOffice) << "row" << row << "is opened in its turn:" << e.what();
        }
    };
    for (std::int32_t row = 1; row <= static_cast<std::int32_t>(lanes.size()); ++row)
        openAhead(row);
    while (i <= rowsToPrint && !stopping()) {
        outcome.emplace();
        r.step(110, [&] { progress.showBusy(true); });
        if (!r.step(112, [&] { path = queue.textAt(i); })) {
            outcome.reset();
            ++i;
            continue;
        }
        outcome->file = path;
        recorder.fileStarted(i, rowsToPrint, path);
        r.step(114, [&] { progress.showPercent(ProgressPercent(i, queue.count())); });
        r.step(116,
               [&] { progress.showText(QStringLiteral("Processing: ") + FileNameFromPath(path)); });
        r.step(118, [&] { events.pumpEvents(); });
        if (printer) {
            printer->printFile(r, path, choices, *outcome);
        } else {
            Lane &lane = laneOf(i);
            double started = 0;
            const bool passed = fileSteps(
                r, path, choices, *outcome,
                [&] { return lane.finishOpen(path, events.secondsSinceMidnight(), started); },
                started, [&](const std::function<void()> &work) { lane.call(work); });
            lane.fileDone(passed, events.secondsSinceMidnight());
            openAhead(i + static_cast<std::int32_t>(lanes.size()));
        }
        recorder.fileEnded(*outcome);
        outcome.reset();
        if (options.pauses)
            r.step(140, [&] { WaitSeconds(events, PauseDigit(choices.pauseText()), stopping); });
        r.step(142, [&] { ++i; });
    }
    printer.reset(); // quits the application
    lanes.clear();

    r.step(144, [&] { progress.showBusy(false); });
    r.step(146, [&] { progress.showPercent(0); });
    r.step(148, [&] { progress.showText(QStringLiteral("Progress Bar")); });
    r.step(150, [&] {
        platform.dialogs->messageBox(QStringLiteral("Done."), QString(), Buttons::Ok, Icon::None);
    });
    finish();
}

} // namespace deckrun
