// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Failure.h"

#include <QString>

#include <exception>
#include <functional>
#include <utility>

namespace deckrun {

class Dialogs;

/** The support address that ends every report (the build option DECKRUN_SUPPORT_EMAIL). */
inline constexpr auto SupportAddress = DECKRUN_SUPPORT_EMAIL;

/**
 * The location an error report of the window's handler `handler`
 * ("PushButton3_Click") names, byte for byte as the reports have always
 * spelt it, trailing space included.
 */
QString FormLocation(const char *handler);

/** The text of the one error report, assembled exactly as the user reads it. */
QString ErrorReportText(const QString &description, const QString &location, int step);

/** Shows the error report: title "Application Error", warning icon, OK. Never throws. */
void ShowErrorReport(Dialogs &dialogs, const QString &description, const QString &location,
                     int step);

/**
 * Runs a handler's numbered steps under its error report. A failing step is
 * reported with the handler's location and the step number, and the handler
 * goes on with its next step. A test step whose evaluation fails counts as
 * passed: the step that the test guards, the one after it in the handler's
 * order, runs next, exactly as if the test had held.
 *
 *     StepRunner r(dialogs, "in ...Form1.PushButton4_Click ");
 *     if (!r.passes(100, [&] { return !busy(); })) return; // "if busy, end"
 *     if (r.passes(118, [&] { return oneFile; })) { r.step(120, ...); ... }
 */
class StepRunner {
public:
    StepRunner(Dialogs &dialogs, QString location)
        : m_dialogs(dialogs), m_location(std::move(location))
    {}

    /** Runs one step; returns false when it failed (and was reported). */
    template <typename F> bool step(int number, F &&body)
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

    /**
     * A test step whose `condition` says whether the step it guards (the next
     * one in the handler's order) runs. Returns the condition; a failed
     * evaluation is reported and counts as passed, so it returns true.
     */
    template <typename F> bool passes(int number, F &&condition)
    {
        bool result = true;
        step(number, [&] { result = std::forward<F>(condition)(); });
        return result;
    }

    /**
     * The same test phrased the other way round: `condition` says whether the
     * handler leaves its order here (ends, or jumps past the next step).
     * Returns the condition; a failed evaluation is reported and counts as
     * passed, so it returns false and the next step runs.
     */
    template <typename F> bool test(int number, F &&condition)
    {
        return !passes(number, [&] { return !std::forward<F>(condition)(); });
    }

    int reportsShown() const { return m_reports; }
    /** Called with the step number and description of every report, after it was shown. */
    void setReportListener(std::function<void(int step, const QString &description)> listener)
    {
        m_listener = std::move(listener);
    }
    const QString &location() const { return m_location; }

private:
    void report(int number, const QString &description);

    Dialogs &m_dialogs;
    QString m_location;
    int m_reports = 0;
    std::function<void(int, const QString &)> m_listener;
};

} // namespace deckrun
