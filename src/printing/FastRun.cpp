// SPDX-License-Identifier: GPL-3.0-or-later
#include "printing/FastRun.h"

#include "common/ErrorReport.h"
#include "platform/EventLoop.h"
#include "platform/Failure.h"
#include "platform/Logging.h"
#include "platform/Platform.h"
#include "printing/PowerPoint1.h"
#include "printing/RunRecorder.h"
#include "queue/QueueModel.h"

#include <QElapsedTimer>

#include <optional>

namespace deckrun {

namespace {

/** A reference a step needs, or the failure the window's run meets when an earlier step failed. */
template <typename T> T &required(const std::shared_ptr<T> &reference)
{
    if (!reference)
        throw Failure(QStringLiteral("Object variable or With block variable not set"),
                      code::ObjectNotSet);
    return *reference;
}

} // namespace

// An application that waited this long is asked whether it still answers.
constexpr double IdleSeconds = 5;

FastPrinter::FastPrinter(PresentationAutomation &office, EventLoop &clock, int renewEvery)
    : m_office(office), m_clock(clock), m_renewEvery(renewEvery > 0 ? renewEvery : 1)
{}

FastPrinter::~FastPrinter()
{
    quit();
}

bool FastPrinter::printFile(StepRunner &steps, const QString &path, const PrintChoices &choices,
                            FileOutcome &outcome)
{
    // Where a file's time goes, for the office's debug log (QT_LOGGING_RULES).
    QElapsedTimer clock;
    clock.start();
    qint64 lap = 0;
    const auto took = [&] {
        const qint64 now = clock.nsecsElapsed();
        const double seconds = static_cast<double>(now - lap) / 1e9;
        lap = now;
        return QString::number(seconds, 'f', 3);
    };
    QString start = QStringLiteral("0.000");

    // This file's references: empty when a step before failed, as in the window's run.
    std::shared_ptr<PresentationApp> application;
    std::shared_ptr<Presentation> presentation;
    bool passed = steps.step(120, [&] {
        if (m_application) {
            double idle = m_clock.secondsSinceMidnight() - m_lastUsed;
            if (idle < 0)
                idle += 86400; // midnight passed
            if (idle >= IdleSeconds && !stillAnswers())
                stop();
        }
        if (!m_application) {
            m_application = m_office.create();
            m_filesOnApplication = 0;
            start = took();
        }
        ++m_filesOnApplication;
        m_application->open(path);
        application = m_application;
    });
    const QString open = took();
    passed &= steps.step(122, [&] { presentation = required(application).activePresentation(); });
    passed &= steps.step(126, [&] {
        outcome.printer = choices.printerName();
        required(application).setActivePrinter(outcome.printer);
    });
    const QString printer = took();
    passed &= steps.step(128, [&] { required(presentation).setPrintInBackground(false); });
    passed &= steps.step(130, [&] { required(presentation).printOut(); });
    const QString print = took();
    passed &= steps.step(132, [&] { required(presentation).close(); });
    passed &= steps.step(136, [&] { presentation.reset(); });
    passed &= steps.step(138, [&] { application.reset(); });
    const QString close = took();
    qCDebug(lcOffice).noquote() << QStringLiteral("seconds: start %1 open %2 printer %3 print %4 "
                                                  "close %5 %6")
                                       .arg(start, open, printer, print, close, path);
    m_lastUsed = m_clock.secondsSinceMidnight();
    // Whatever went wrong may have left the application in a state of its
    // own (a dialog, a half-open document, a printer it holds on to).
    if (!passed)
        stop();
    else if (m_filesOnApplication >= m_renewEvery)
        quit();
    return passed;
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

void PrintQueueFast(Platform &platform, const QueueModel &queue, const PrintChoices &choices,
                    PrintProgress &progress, bool &printing, const FastRunOptions &options)
{
    EventLoop &events = *platform.events;
    StepRunner r(*platform.dialogs, PrintRunLocation());

    if (r.test(100, [&] { return printing; }))
        return;
    r.step(102, [&] { printing = true; });
    struct ClearOnExit {
        bool &flag;
        ~ClearOnExit() { flag = false; }
    } clearOnExit{printing};
    const auto finish = [&] { r.step(154, [&] { printing = false; }); };

    if (r.test(104, [&] { return queue.count() == 0; })) {
        r.step(152, [&] {
            platform.dialogs->messageBox(QStringLiteral("No files added."), QString(), Buttons::Ok,
                                         Icon::None);
        });
        finish();
        return;
    }
    if (r.test(106,
               [&] { return AbortForRunningPowerPoint(*platform.office, *platform.dialogs); })) {
        finish();
        return;
    }

    FastPrinter printer(*platform.office, events, options.renewEvery);
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
        printer.printFile(r, path, choices, *outcome);
        recorder.fileEnded(*outcome);
        outcome.reset();
        if (options.pauses)
            r.step(140, [&] { WaitSeconds(events, PauseDigit(choices.pauseText()), stopping); });
        r.step(142, [&] { ++i; });
    }
    printer.quit();

    r.step(144, [&] { progress.showBusy(false); });
    r.step(146, [&] { progress.showPercent(0); });
    r.step(148, [&] { progress.showText(QStringLiteral("Progress Bar")); });
    r.step(150, [&] {
        platform.dialogs->messageBox(QStringLiteral("Done."), QString(), Buttons::Ok, Icon::None);
    });
    finish();
}

} // namespace deckrun
