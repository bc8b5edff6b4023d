// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/PresentationAutomation.h"

#include <QHash>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace deckrun {

/**
 * A simulated presentation application. It records every call in order
 * ("Create", "GetRunning", "Name", "Visible=true", "Open:<path>", "OpenHidden:<path>",
 * "ActivePresentation", "ActivePrinter=<name>", "PrintInBackground=false",
 * "PrintOut", "Close", "Quit", "ReleasePresentation", "ReleaseApp") and fails any of
 * them on request with a given description.
 */
class SimAutomation final : public PresentationAutomation {
public:
    SimAutomation();
    ~SimAutomation() override;

    /** The call log, shared with the objects handed out. */
    QStringList calls() const;
    void clearCalls();

    /** Makes the operation (its log word without argument, e.g. "Open") fail, with `code`. */
    void failAt(const QString &operation, const QString &description, int code = 0);
    /** Makes the named operation fail only for this file (for "Open"). */
    void failOpenFor(const QString &path, const QString &description);
    /** Pretends an instance already runs and reports `name`. */
    void setAlreadyRunning(const QString &name);
    /** Pretends an instance runs that Deckrun did not start (someoneElsesRunning). */
    void setSomeoneElsesRunning(bool running);
    bool isRunning() const;
    /** Paths printed, in order, with the printer they went to. */
    QStringList printed() const;
    int shutdowns() const;

    /** What several simulated applications print, in the order the printer got it. */
    struct Printer {
        std::mutex lock;
        QStringList printed;
    };
    /** PrintOut also goes to `printer`, shared with other simulated applications (lanes). */
    void printTo(std::shared_ptr<Printer> printer);
    /**
     * Called at every call as it is logged (its word, e.g. "OpenHidden", and
     * its argument), on whatever thread makes it (a lane's): a test holds a
     * call there, or looks at what the run did up to it.
     */
    void onCall(std::function<void(const QString &word, const QString &argument)> hook);
    /** What the run asked the last print for; each print's job id counts up from 1. */
    PrintSettings lastAsked() const;
    /** Times abort() was called. */
    int aborts() const;

    std::shared_ptr<PresentationApp> create() override;
    std::shared_ptr<PresentationApp> getRunning() override;
    QString expectedName() const override { return QStringLiteral("Microsoft PowerPoint"); }
    QString productLabel() const override { return QStringLiteral("PowerPoint"); }
    QString processName() const override { return QStringLiteral("POWERPNT.EXE"); }
    void shutdown() override;
    void abort() override;
    bool someoneElsesRunning() override;
    QString refusal(const PrintSettings &asked) const override { return refuses(asked); }
    /** What the simulated system refuses to print, as refusal() says it. */
    std::function<QString(const PrintSettings &)> refuses = [](const PrintSettings &) {
        return QString();
    };

    struct State;

private:
    std::shared_ptr<State> m_state;
};

/**
 * A simulated application that a test shares with what it hands it to (a
 * run's lanes), so that it can read the calls after the run let go of it.
 */
class SharedSim final : public PresentationAutomation {
public:
    explicit SharedSim(std::shared_ptr<SimAutomation> sim) : m_sim(std::move(sim)) {}
    std::shared_ptr<PresentationApp> create() override { return m_sim->create(); }
    std::shared_ptr<PresentationApp> getRunning() override { return m_sim->getRunning(); }
    QString expectedName() const override { return m_sim->expectedName(); }
    QString productLabel() const override { return m_sim->productLabel(); }
    QString processName() const override { return m_sim->processName(); }
    void shutdown() override { m_sim->shutdown(); }
    void abort() override { m_sim->abort(); }

private:
    std::shared_ptr<SimAutomation> m_sim;
};

} // namespace deckrun
