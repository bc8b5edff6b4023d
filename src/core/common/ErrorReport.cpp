// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/common/ErrorReport.h"

#include "platform/Dialogs.h"
#include "platform/Logging.h"

namespace deckrun {

QString FormLocation(const char *handler)
{
    return QStringLiteral("in Tamberlin2021/08/31.Form1.") + QLatin1String(handler) +
           QLatin1Char(' ');
}

QString ErrorReportText(const QString &description, const QString &location, int step)
{
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
           QString::number(step) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") +
           QLatin1String(SupportAddress);
}

void ShowErrorReport(Dialogs &dialogs, const QString &description, const QString &location,
                     int step)
{
    // The report is the last line of defence: a failing dialog must not escape.
    try {
        dialogs.messageBox(ErrorReportText(description, location, step),
                           QStringLiteral("Application Error"), Buttons::Ok, Icon::Warning);
    } catch (const std::exception &e) {
        qCDebug(lcApp) << "error report not shown:" << e.what() << location << step << description;
    }
}

void StepRunner::report(int number, const QString &description)
{
    ++m_reports;
    ShowErrorReport(m_dialogs, description, m_location, number);
    if (m_listener)
        m_listener(number, description);
}

} // namespace deckrun
