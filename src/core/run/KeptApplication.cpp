// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/KeptApplication.h"

#include "core/common/ErrorReport.h"
#include "core/run/PowerPoint1.h"
#include "core/run/PrintRun.h"
#include "platform/EventLoop.h"
#include "platform/Logging.h"
#include "platform/PresentationAutomation.h"

#include <QElapsedTimer>

#include <algorithm>
#include <utility>

namespace deckrun {

// An application that waited this long is asked whether it still answers.
constexpr double IdleSeconds = 5;

KeptApplication::KeptApplication(PresentationAutomation &office, FileSystem &files, int renewEvery,
                                 bool restartAhead)
    : m_office(office), m_files(files), m_renewEvery(renewEvery > 0 ? renewEvery : 1),
      m_restartAhead(restartAhead)
{}

KeptApplication::~KeptApplication()
{
    quit();
}

std::shared_ptr<PresentationApp> KeptApplication::open(const QString &path, double now,
                                                       double *started)
{
    // A pipe would hold the application until its deadline: it is never
    // asked, and so holds nothing of such a file.
    m_neverAsked = true;
    checkPresentationFile(m_files, m_office, path);
    m_neverAsked = false;
    m_openRefused = false;
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
    try {
        m_application->openHidden(path);
    } catch (const Failure &) {
        m_openRefused = true;
        throw;
    }
    return m_application;
}

bool KeptApplication::goesOnAfter(bool passed)
{
    const bool refusedOnly = std::exchange(m_openRefused, false);
    if (std::exchange(m_neverAsked, false))
        return true;
    return passed || (refusedOnly && m_application && stillAnswers());
}

void KeptApplication::fileDone(bool goesOn, double now)
{
    m_lastUsed = now;
    if (!goesOn)
        stop();
    else if (m_filesOnApplication >= m_renewEvery)
        quit();
    if (m_restartAhead && !m_application)
        startAhead();
}

void KeptApplication::startAhead()
{
    if (m_application)
        return;
    try {
        m_application = m_office.create();
        m_filesOnApplication = 0;
    } catch (const std::exception &e) {
        // The next file's open starts it again, and reports what stops it.
        qCDebug(lcOffice) << "the application could not be started ahead:" << e.what();
    }
}

bool KeptApplication::stillAnswers()
{
    try {
        m_application->name();
        return true;
    } catch (const std::exception &e) {
        qCDebug(lcOffice) << "the application kept ended while it waited:" << e.what();
        return false;
    }
}

void KeptApplication::quit()
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

void KeptApplication::stop()
{
    m_application.reset();
    try {
        m_office.shutdown();
    } catch (const std::exception &e) {
        qCDebug(lcOffice) << "the application could not be stopped:" << e.what();
    }
}

void KeptApplication::stopNow()
{
    try {
        m_office.abort();
    } catch (const std::exception &e) {
        qCDebug(lcOffice) << "the application could not be stopped:" << e.what();
    }
}

namespace {

/** Where a file's time goes, for the office's debug log (QT_LOGGING_RULES). */
class Laps {
public:
    Laps() { m_clock.start(); }
    double next()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const double seconds = static_cast<double>(now - m_lap) / 1e9;
        m_lap = now;
        return seconds;
    }

private:
    QElapsedTimer m_clock;
    qint64 m_lap = 0;
};

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 3);
}

} // namespace

bool printOnKeptApplication(FileInHand &file,
                            const std::function<std::shared_ptr<PresentationApp>()> &open,
                            const double &started, const OnApplication &on)
{
    StepRunner &steps = file.steps;
    Laps laps;
    // This file's references: empty when a step before failed, as in the window's run.
    std::shared_ptr<PresentationApp> application;
    std::shared_ptr<Presentation> presentation;
    bool passed = steps.step(120, [&] { application = open(); });
    const double opening = laps.next();
    passed &= steps.step(
        122, [&] { on([&] { presentation = requiredObject(application).activePresentation(); }); });
    passed &= file.choosePrinter([&](const QString &printer) {
        on([&] { requiredObject(application).setActivePrinter(printer); });
    });
    const double printer = laps.next();
    passed &= steps.step(
        128, [&] { on([&] { requiredObject(presentation).setPrintInBackground(false); }); });
    passed &= file.print([&](const PrintSettings &asked, const QString &jobName) {
        PrintedJob job;
        on([&] { job = requiredObject(presentation).printOut(asked, jobName); });
        return job;
    });
    const double print = laps.next();
    passed &= steps.step(132, [&] { on([&] { requiredObject(presentation).close(); }); });
    // Released where the application lives.
    passed &= steps.step(136, [&] { on([&] { presentation.reset(); }); });
    passed &= steps.step(138, [&] { on([&] { application.reset(); }); });
    qCDebug(lcOffice).noquote() << QStringLiteral("seconds: start %1 open %2 printer %3 print %4 "
                                                  "close %5 %6")
                                       .arg(secondsText(started),
                                            secondsText(std::max(0.0, opening - started)),
                                            secondsText(printer), secondsText(print),
                                            secondsText(laps.next()), file.path);
    return passed;
}

OneApplication::OneApplication(PresentationAutomation &office, FileSystem &files, int renewEvery,
                               bool keptAfterRun)
    : m_application(office, files, renewEvery), m_keptAfterRun(keptAfterRun)
{}

void OneApplication::printFile(FileInHand &file)
{
    double started = 0;
    const bool passed = printOnKeptApplication(
        file,
        [&] { return m_application.open(file.path, file.events.secondsSinceMidnight(), &started); },
        started, [](const std::function<void()> &work) { work(); });
    m_application.fileDone(m_application.goesOnAfter(passed), file.events.secondsSinceMidnight());
}

void OneApplication::runEnds()
{
    if (!m_keptAfterRun)
        m_application.quit();
}

void OneApplication::stopNow()
{
    m_application.stopNow();
}

} // namespace deckrun
