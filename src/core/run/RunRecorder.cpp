// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/RunRecorder.h"

#include "core/run/PrintRun.h"
#include "platform/Dialogs.h"
#include "platform/Logging.h"
#include "platform/Platform.h"

namespace deckrun {

RunRecorder::RunRecorder(Platform &platform, PrintProgress &progress, bool logs)
    : m_platform(platform), m_progress(progress), m_logs(logs)
{}

void RunRecorder::fileStarts(int position, int count, const QString &path)
{
    m_outcome.emplace();
    m_outcome->file = path;
    m_written = false;
    try {
        m_progress.fileStarted(position, count, path);
    } catch (const std::exception &e) {
        qCDebug(lcApp) << "the start of a file could not be shown:" << e.what();
    }
}

void RunRecorder::stepFailed(int step, const QString &description)
{
    if (!m_outcome || m_written || !m_outcome->printed())
        return;
    m_outcome->failedStep = step;
    m_outcome->description = description;
}

void RunRecorder::handedOver()
{
    if (m_outcome && !m_written)
        write();
}

void RunRecorder::fileDone()
{
    if (m_outcome && !m_written)
        write();
    m_outcome.reset();
}

void RunRecorder::write()
{
    m_written = true;
    FileOutcome &outcome = *m_outcome;
    outcome.time = QDateTime::currentDateTime();
    if (m_logs && m_platform.runLog && !m_logFailed) {
        try {
            m_platform.runLog->append(runLogLine(outcome));
        } catch (const std::exception &e) {
            m_logFailed = true;
            say(QString::fromLocal8Bit(e.what()));
        }
    }
    try {
        m_progress.fileEnded(outcome);
    } catch (const std::exception &e) {
        qCDebug(lcApp) << "the end of a file could not be shown:" << e.what();
    }
}

void RunRecorder::say(const QString &why)
{
    const QString text = why + QStringLiteral("\r\r") +
                         QStringLiteral("The files go on printing; this run is not recorded.");
    try {
        m_platform.dialogs->messageBox(text, QString(), Buttons::Ok, Icon::Warning);
    } catch (const std::exception &e) {
        qCWarning(lcApp).noquote() << why << "(" << e.what() << ")";
    }
}

} // namespace deckrun
