// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ConsoleFrontEnd.h"

#include "cli/TerminalOutput.h"
#include "platform/Logging.h"
#include "platform/StopSignals.h"

#include <cstdio>

namespace deckrun {

Answer ConsoleDialogs::messageBox(const QString &text, const QString &title, Buttons buttons, Icon)
{
    if (buttons == Buttons::YesNo && m_whenRunning == WhenRunning::GoOnQuietly) {
        qCDebug(lcOffice) << "the application already runs; this watcher starts its own";
        return Answer::Yes;
    }
    const QString shown = plainText(withNamesEscaped(text));
    if (title == QLatin1String("Application Error")) {
        ++m_errorReports;
        m_reports << shown;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n\n", qUtf8Printable(shown));
    std::fflush(stderr);
    if (buttons != Buttons::YesNo)
        return Answer::Ok;
    if (m_whenRunning == WhenRunning::GoOn) {
        sayError(QStringLiteral("going on, as --yes was given."));
        return Answer::Yes;
    }
    sayError(QStringLiteral("nothing was printed; give --yes to print all the same."));
    return Answer::No;
}

void ConsoleDialogs::setFileInHand(const QString &path, const QString &shownAs)
{
    m_inHand = path;
    m_inHandShownAs = shownAs;
}

QString ConsoleDialogs::withNamesEscaped(QString text) const
{
    // The reports quote the path the application was given; a line break in
    // a name would read as a line of the report, or of the journal.
    if (!m_inHand.isEmpty())
        text.replace(m_inHand, oneLine(m_inHandShownAs.isEmpty() ? m_inHand : m_inHandShownAs));
    return text;
}

ConsoleStop::ConsoleStop(std::function<void()> stopNowOutsideARun, QString laterText)
    : m_stopNowOutsideARun(std::move(stopNowOutsideARun)), m_laterText(std::move(laterText)),
      m_signals(new StopSignals(this))
{
    connect(m_signals, &StopSignals::stopAsked, this,
            [this](int signal, const QString &name) { onSignal(signal, name); });
}

ConsoleStop::~ConsoleStop() = default;

void ConsoleStop::setIdle(std::function<bool()> idle, std::function<void()> stopIdle)
{
    m_idle = std::move(idle);
    m_stopIdle = std::move(stopIdle);
}

void ConsoleStop::onSignal(int signal, const QString &name)
{
    if (!m_stop.requested()) {
        m_signal = signal;
        m_name = name;
        m_stop.request();
        if (m_idle && m_idle()) {
            sayError(QStringLiteral("%1: stopping.").arg(name));
            m_stopIdle();
            return;
        }
        sayError(QStringLiteral("%1: stopping once the file in hand has ended (again to stop at "
                                "once).")
                     .arg(name));
        return;
    }
    sayError(QStringLiteral("%1 again: stopping now%2.").arg(name, m_laterText));
    // A run in progress stops the applications it prints through; the
    // platform's own goes too, in case no run prints.
    m_stop.request();
    if (m_stopNowOutsideARun)
        m_stopNowOutsideARun();
    StopSignals::endBy(signal);
}

void ConsoleStop::endIfAsked() const
{
    if (m_signal != 0)
        StopSignals::endBy(m_signal);
}

QString ConsoleRun::pauseText() const
{
    return QString::number(m_pause) + QStringLiteral(" seconds");
}

void ConsoleRun::fileStarted(int position, int count, const QString &path)
{
    if (m_lines != ConsoleLines::EachFileAndDone)
        return;
    m_dialogs.setFileInHand(path);
    sayOut(QStringLiteral("Processing: %1 (%2 of %3)")
               .arg(oneLine(FileNameFromPath(path)))
               .arg(position)
               .arg(count));
}

void ConsoleRun::fileEnded(const FileOutcome &outcome)
{
    if (outcome.printed())
        ++m_printed;
    // Printed, but not all of what was asked for (slides not in the deck, an outline).
    if (!outcome.notice.isEmpty())
        sayError(outcome.notice);
    m_outcome = outcome;
    if (m_onFileEnded)
        m_onFileEnded(outcome);
}

bool ConsoleRun::announceDone()
{
    if (m_lines == ConsoleLines::None)
        return true; // the run's end is no news to whoever reads a watcher's lines
    if (m_stop.requested())
        sayError(QStringLiteral("stopped by %1; the files not begun were not printed.")
                     .arg(m_stop.signalName()));
    else
        sayOut(QStringLiteral("Done."));
    return true;
}

} // namespace deckrun
