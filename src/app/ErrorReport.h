// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Failure.h"

#include <QString>

#include <exception>
#include <utility>

namespace deckrun {

class Dialogs;

inline constexpr auto SupportAddress = "support@deckrun.example";

/** The text of the one error report, assembled exactly as the user reads it. */
QString ErrorReportText(const QString &description, const QString &location, int step);

/** Shows the error report: title "Application Error", warning icon, OK. Never throws. */
void ShowErrorReport(Dialogs &dialogs, const QString &description, const QString &location,
                     int step);

/**
 * Runs a handler's numbered steps under its error report. A failing step is
 * reported with the handler's location and the step number, and the handler
 * goes on with its next step. A test step whose evaluation fails counts as
 * false, so the handler falls through into the step that follows it.
 *
 *     StepRunner r(dialogs, "in ...Form1.PushButton4_Click ");
 *     if (r.test(100, [&] { return busy(); })) return;
 *     r.step(102, [&] { ... });
 */
class StepRunner {
public:
    StepRunner(Dialogs &dialogs, QString location)
        : m_dialogs(dialogs), m_location(std::move(location))
    {
    }

    /** Runs one step; returns false when it failed (and was reported). */
    template<typename F>
    bool step(int number, F &&body)
    {
        try {
            std::forward<F>(body)();
            return true;
        } catch (const Failure &failure) {
            report(number, failure.description());
        } catch (const std::exception &e) {
            report(number, QString::fromLocal8Bit(e.what()));
        }
        return false;
    }

    /** Evaluates a test step; a failed evaluation is reported and counts as false. */
    template<typename F>
    bool test(int number, F &&condition)
    {
        bool result = false;
        step(number, [&] { result = std::forward<F>(condition)(); });
        return result;
    }

    int reportsShown() const { return m_reports; }
    const QString &location() const { return m_location; }

private:
    void report(int number, const QString &description);

    Dialogs &m_dialogs;
    QString m_location;
    int m_reports = 0;
};

} // namespace deckrun
