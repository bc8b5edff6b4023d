// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/SimPresentation.h"

#include "platform/Failure.h"

#include <atomic>

namespace deckrun {

struct SimAutomation::State {
    /** Logs a call and tells the test's hook of it. */
    void log(const QString &word, const QString &argument = QString())
    {
        calls << (argument.isNull() ? word : word + argument);
        if (onCall)
            onCall(word, argument);
    }

    QStringList calls;
    QHash<QString, QString> failures;
    QHash<QString, int> failureCodes;
    QHash<QString, QString> openFailures;
    bool running = false;
    bool someoneElses = false;
    QString runningName = QStringLiteral("Microsoft PowerPoint");
    QString openPath; // the active presentation, empty when none
    QString activePrinter;
    QStringList printed;
    int shutdowns = 0;
    std::atomic<int> aborts{0};
    PrintSettings lastAsked;
    QStringList jobNames;
    int nextJob = 1;
    std::shared_ptr<SimAutomation::Printer> printer;
    std::function<void(const QString &, const QString &)> onCall;

    void call(const QString &word, const QString &argument = QString())
    {
        log(word, argument);
        const auto failure = failures.constFind(word);
        if (failure != failures.constEnd())
            throw Failure(failure.value(), failureCodes.value(word));
    }
};

namespace {

class SimPresentationObject final : public Presentation {
public:
    explicit SimPresentationObject(std::shared_ptr<SimAutomation::State> s) : m_s(std::move(s)) {}
    ~SimPresentationObject() override { m_s->calls << QStringLiteral("ReleasePresentation"); }

    void setPrintInBackground(bool background) override
    {
        m_s->call(QStringLiteral("PrintInBackground"),
                  background ? QStringLiteral("=true") : QStringLiteral("=false"));
    }
    PrintedJob printOut(const PrintSettings &asked, const QString &jobName) override
    {
        m_s->call(QStringLiteral("PrintOut"));
        m_s->lastAsked = asked;
        m_s->jobNames << jobName;
        m_s->printed << m_s->openPath + QStringLiteral(" -> ") + m_s->activePrinter;
        if (m_s->printer) {
            const std::lock_guard lock(m_s->printer->lock);
            m_s->printer->printed << m_s->openPath;
        }
        return PrintedJob{m_s->nextJob++, asked, {}};
    }
    void close() override
    {
        m_s->call(QStringLiteral("Close"));
        m_s->openPath.clear();
    }

private:
    std::shared_ptr<SimAutomation::State> m_s;
};

class SimApp final : public PresentationApp {
public:
    explicit SimApp(std::shared_ptr<SimAutomation::State> s) : m_s(std::move(s)) {}
    ~SimApp() override { m_s->calls << QStringLiteral("ReleaseApp"); }

    QString name() override
    {
        m_s->call(QStringLiteral("Name"));
        return m_s->runningName;
    }
    void setVisible(bool visible) override
    {
        m_s->call(QStringLiteral("Visible"),
                  visible ? QStringLiteral("=true") : QStringLiteral("=false"));
    }
    void open(const QString &fileName) override
    {
        m_s->call(QStringLiteral("Open"), QStringLiteral(":") + fileName);
        opened(fileName);
    }
    void openHidden(const QString &fileName) override
    {
        // Recorded apart from a plain open; it fails where "Open" is made to.
        m_s->log(QStringLiteral("OpenHidden"), QStringLiteral(":") + fileName);
        if (const auto failure = m_s->failures.constFind(QStringLiteral("Open"));
            failure != m_s->failures.constEnd())
            throw Failure(failure.value());
        opened(fileName);
    }
    std::shared_ptr<Presentation> activePresentation() override
    {
        m_s->call(QStringLiteral("ActivePresentation"));
        if (m_s->openPath.isEmpty())
            throw Failure(QStringLiteral(
                "ActivePresentation : Invalid request.  There is no active presentation."));
        return std::make_shared<SimPresentationObject>(m_s);
    }
    void setActivePrinter(const QString &printerName) override
    {
        m_s->call(QStringLiteral("ActivePrinter"), QStringLiteral("=") + printerName);
        if (m_s->openPath.isEmpty())
            throw Failure(QStringLiteral(
                "ActivePresentation : Invalid request.  There is no active presentation."));
        if (printerName.isEmpty())
            throw Failure(QStringLiteral(
                "PrintOptions.ActivePrinter : Invalid request.  Printer name is empty."));
        m_s->activePrinter = printerName;
    }
    void quit() override
    {
        m_s->call(QStringLiteral("Quit"));
        m_s->running = false;
        m_s->openPath.clear();
        m_s->activePrinter.clear();
    }

private:
    void opened(const QString &fileName)
    {
        const auto failure = m_s->openFailures.constFind(fileName);
        if (failure != m_s->openFailures.constEnd())
            throw Failure(failure.value());
        m_s->openPath = fileName;
    }

    std::shared_ptr<SimAutomation::State> m_s;
};

} // namespace

SimAutomation::SimAutomation() : m_state(std::make_shared<State>()) {}
SimAutomation::~SimAutomation() = default;

QStringList SimAutomation::calls() const
{
    return m_state->calls;
}
void SimAutomation::clearCalls()
{
    m_state->calls.clear();
}

void SimAutomation::failAt(const QString &operation, const QString &description, int code)
{
    m_state->failures.insert(operation, description);
    m_state->failureCodes.insert(operation, code);
}

void SimAutomation::failOpenFor(const QString &path, const QString &description)
{
    m_state->openFailures.insert(path, description);
}

void SimAutomation::setAlreadyRunning(const QString &name)
{
    m_state->running = true;
    m_state->runningName = name;
}

void SimAutomation::setSomeoneElsesRunning(bool running)
{
    m_state->someoneElses = running;
}

bool SimAutomation::someoneElsesRunning()
{
    return m_state->someoneElses;
}

bool SimAutomation::isRunning() const
{
    return m_state->running;
}
QStringList SimAutomation::printed() const
{
    return m_state->printed;
}
int SimAutomation::shutdowns() const
{
    return m_state->shutdowns;
}

std::shared_ptr<PresentationApp> SimAutomation::create()
{
    m_state->call(QStringLiteral("Create"));
    m_state->running = true;
    return std::make_shared<SimApp>(m_state);
}

std::shared_ptr<PresentationApp> SimAutomation::getRunning()
{
    m_state->call(QStringLiteral("GetRunning"));
    if (!m_state->running)
        throw Failure(QStringLiteral("ActiveX component can't create object"), 429);
    return std::make_shared<SimApp>(m_state);
}

void SimAutomation::printTo(std::shared_ptr<Printer> printer)
{
    m_state->printer = std::move(printer);
}

void SimAutomation::onCall(std::function<void(const QString &, const QString &)> hook)
{
    m_state->onCall = std::move(hook);
}

PrintSettings SimAutomation::lastAsked() const
{
    return m_state->lastAsked;
}

int SimAutomation::aborts() const
{
    return m_state->aborts;
}

void SimAutomation::abort()
{
    ++m_state->aborts; // from any thread: nothing else of the state is touched
}

void SimAutomation::shutdown()
{
    ++m_state->shutdowns;
    m_state->running = false;
}

} // namespace deckrun
