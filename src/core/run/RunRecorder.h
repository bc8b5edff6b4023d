// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What every print run (the window's, the fast one) does as a file begins and
// ends: the progress sink is told, and the run log gets the file's line; and
// what a step meets when an earlier step left it nothing to work on.

#include "core/run/PrintRun.h"
#include "platform/Dialogs.h"
#include "platform/Failure.h"
#include "platform/Logging.h"
#include "platform/Platform.h"

#include <memory>

namespace deckrun {

class QueueModel;
class StepRunner;

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

/**
 * Steps 104 and 106 of a run, once the printing flag is set: no files ("No
 * files added.", step 152), or the application already running and the user
 * not going on; either ends the run with step 154. True when the run goes on.
 */
bool RunMayGoOn(StepRunner &r, Platform &platform, const QueueModel &queue, bool &printing);

/** A reference a step needs, or the failure a step meets when the open failed. */
template <typename T> T &requiredObject(const std::shared_ptr<T> &reference)
{
    if (!reference)
        throw Failure(QStringLiteral("Object variable or With block variable not set"),
                      code::ObjectNotSet);
    return *reference;
}

/**
 * Appends each file's outcome to the run log. A log that cannot be written
 * is said once per run; the files go on printing.
 */
class RunRecorder {
public:
    RunRecorder(Platform &platform, PrintProgress &progress)
        : m_platform(platform), m_progress(progress)
    {}

    void fileEnded(FileOutcome &outcome)
    {
        outcome.time = QDateTime::currentDateTime();
        if (m_platform.runLog && !m_failed) {
            try {
                m_platform.runLog->append(RunLogLine(outcome));
            } catch (const std::exception &e) {
                m_failed = true;
                say(QString::fromLocal8Bit(e.what()));
            }
        }
        try {
            m_progress.fileEnded(outcome);
        } catch (const std::exception &e) {
            qCDebug(lcApp) << "the end of a file could not be shown:" << e.what();
        }
    }

    void fileStarted(int position, int count, const QString &path)
    {
        try {
            m_progress.fileStarted(position, count, path);
        } catch (const std::exception &e) {
            qCDebug(lcApp) << "the start of a file could not be shown:" << e.what();
        }
    }

private:
    void say(const QString &why)
    {
        const QString text = why + QStringLiteral("\r\r") +
                             QStringLiteral("The files go on printing; this run is not recorded.");
        try {
            m_platform.dialogs->messageBox(text, QString(), Buttons::Ok, Icon::Warning);
        } catch (const std::exception &e) {
            qCWarning(lcApp).noquote() << why << "(" << e.what() << ")";
        }
    }

    Platform &m_platform;
    PrintProgress &m_progress;
    bool m_failed = false;
};

} // namespace deckrun
