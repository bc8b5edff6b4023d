// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/UnoAutomation.h"

#include "platform/Display.h"
#include "platform/Failure.h"
#include "platform/Platform.h"
#include "platform/uno/OfficeProcess.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/drawing/XDrawPages.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/task/PasswordRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/task/XInteractionRequest.hpp>
#include <com/sun/star/uno/RuntimeException.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/view/PrintJobEvent.hpp>
#include <com/sun/star/view/PrintableState.hpp>
#include <com/sun/star/view/XPrintJobBroadcaster.hpp>
#include <com/sun/star/view/XPrintJobListener.hpp>
#include <com/sun/star/view/XPrintable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>
#include <rtl/ustring.hxx>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <exception>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <thread>

namespace css = com::sun::star;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

namespace deckrun::uno {

using SteadyClock = std::chrono::steady_clock;

double officeDeadline(OfficeCall call)
{
    double seconds = 60.0;
    switch (call) {
    case OfficeCall::Start:
        seconds = 120.0;
        break;
    case OfficeCall::RunningCheck:
        seconds = 20.0;
        break;
    case OfficeCall::Load:
        seconds = 600.0; // a deck of thousands of slides on a slow machine
        break;
    case OfficeCall::Printer:
        seconds = 60.0;
        break;
    case OfficeCall::Print:
        seconds = 600.0; // until the job is confirmed
        break;
    case OfficeCall::Quit:
        seconds = 60.0;
        break;
    }
    bool ok = false;
    const double cap = qEnvironmentVariable("DECKRUN_OFFICE_DEADLINE").trimmed().toDouble(&ok);
    if (ok && cap > 0)
        seconds = std::min(seconds, cap);
    return seconds;
}

namespace {

const QString Product = QStringLiteral("LibreOffice Impress");

OUString ou(const QString &s)
{
    return OUString(reinterpret_cast<const sal_Unicode *>(s.utf16()),
                    static_cast<sal_Int32>(s.size()));
}

QString qs(const OUString &s)
{
    return QString(reinterpret_cast<const QChar *>(s.getStr()), s.getLength());
}

template <typename T> css::uno::Sequence<T> sequence(std::initializer_list<T> items)
{
    css::uno::Sequence<T> s(static_cast<sal_Int32>(items.size()));
    std::copy(items.begin(), items.end(), s.getArray());
    return s;
}

css::beans::PropertyValue property(const char *name, const css::uno::Any &value)
{
    css::beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

/** The office's own words for a failure, or a plain statement when it gave none. */
QString describe(const css::uno::Exception &e)
{
    const QString message = qs(e.Message).trimmed();
    return message.isEmpty() ? QStringLiteral("LibreOffice did not answer.") : message;
}

QString secondsText(double seconds)
{
    return QString::number(seconds, 'g', 6);
}

QString notAnswering(double seconds)
{
    return QStringLiteral("%1 did not answer within %2 seconds and was stopped.")
        .arg(Product, secondsText(seconds));
}

QString stoppedUnexpectedly(const QString &doing)
{
    return doing.isEmpty()
               ? Product + QStringLiteral(" stopped unexpectedly.")
               : QStringLiteral("%1 stopped unexpectedly while %2.").arg(Product, doing);
}

/**
 * Something another thread completes while the calling thread waits for it.
 * On the window's thread the wait handles window events, so the window
 * repaints, answers clicks and can be closed meanwhile.
 */
class Completion {
public:
    void complete()
    {
        const std::lock_guard lock(m_mutex);
        m_done = true;
        m_changed.notify_all();
        if (m_waker)
            m_waker->wakeUp();
    }

    /** Waits until completed or `deadline`; true when completed. */
    bool wait(SteadyClock::time_point deadline)
    {
        QAbstractEventDispatcher *dispatcher = windowDispatcher();
        if (!dispatcher) {
            std::unique_lock lock(m_mutex);
            return m_changed.wait_until(lock, deadline, [this] { return m_done; });
        }
        {
            const std::lock_guard lock(m_mutex);
            if (m_done)
                return true;
            m_waker = dispatcher;
        }
        bool done = false;
        for (;;) {
            {
                const std::lock_guard lock(m_mutex);
                done = m_done;
            }
            if (done || !handleEventsUntil(deadline, std::chrono::milliseconds(100)))
                break;
        }
        const std::lock_guard lock(m_mutex);
        m_waker = nullptr; // never woken once this wait is over
        return m_done;
    }

    /** The event dispatcher when called on the window's thread; null elsewhere. */
    static QAbstractEventDispatcher *windowDispatcher()
    {
        const QCoreApplication *app = QCoreApplication::instance();
        if (!app || QThread::currentThread() != app->thread())
            return nullptr;
        return QAbstractEventDispatcher::instance();
    }

    /**
     * Handles window events for at most `slice` (or until an event or a wake-up
     * arrives), never past `deadline`; false once the deadline has passed.
     */
    static bool handleEventsUntil(SteadyClock::time_point deadline, std::chrono::milliseconds slice)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0)
            return false;
        QTimer wake;
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        wake.start(static_cast<int>(std::min(left, slice).count()) + 1);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        return true;
    }

    /** Waits `seconds`, handling window events on the window's thread. */
    static void pause(double seconds)
    {
        const auto until = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                                    std::chrono::duration<double>(seconds));
        if (!windowDispatcher()) {
            std::this_thread::sleep_until(until);
            return;
        }
        while (handleEventsUntil(until, std::chrono::milliseconds(100))) {
        }
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_done = false;
    QAbstractEventDispatcher *m_waker = nullptr;
};

template <typename R> struct Outcome {
    std::optional<R> value;
    std::exception_ptr error;
    Completion done;
};

/**
 * Runs `work` on a thread of its own and waits for it (see Completion) until
 * `deadline`. Returns its result, rethrows what it threw, and returns nothing
 * when the deadline passed first: the work is then left to end by itself, so it
 * must hold nothing of the caller's but what it captured by value.
 */
template <typename F>
std::optional<std::invoke_result_t<F>> runOffThread(F work, SteadyClock::time_point deadline)
{
    using R = std::invoke_result_t<F>;
    auto outcome = std::make_shared<Outcome<R>>();
    try {
        std::thread([outcome, work = std::move(work)]() mutable {
            try {
                outcome->value.emplace(work());
            } catch (...) {
                outcome->error = std::current_exception();
            }
            outcome->done.complete();
        }).detach();
    } catch (const std::system_error &e) {
        throw Failure(QStringLiteral("%1 could not be called: %2")
                          .arg(Product, QString::fromLocal8Bit(e.what())));
    }
    if (!outcome->done.wait(deadline))
        return std::nullopt;
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    return std::move(outcome->value);
}

/**
 * The process's UNO runtime, made once. The bootstrap file must be known
 * before the first UNO call, or the first call into the office crashes.
 */
Reference<css::uno::XComponentContext> localContext(const QString &programDir)
{
    static std::mutex guard;
    static Reference<css::uno::XComponentContext> context;
    const std::lock_guard lock(guard);
    if (!context.is()) {
        // A write to the pipe of an office that has just died must fail, not end Deckrun.
        std::signal(SIGPIPE, SIG_IGN);
        const QString rc =
            QUrl::fromLocalFile(programDir + QStringLiteral("/fundamentalrc")).toLocalFile();
        qputenv("URE_BOOTSTRAP", (QStringLiteral("vnd.sun.star.pathname:") + rc).toUtf8());
        try {
            context = cppu::defaultBootstrap_InitialComponentContext();
        } catch (const css::uno::Exception &e) {
            throw Failure(QStringLiteral("LibreOffice's UNO runtime could not be started: ") +
                          describe(e));
        }
    }
    return context;
}

/**
 * Answers every question the office asks while loading with "abort": no
 * dialog ever waits for a user. It remembers whether a password was asked for.
 */
class AbortingInteractionHandler final
    : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
public:
    void SAL_CALL handle(const Reference<css::task::XInteractionRequest> &request) override
    {
        if (!request.is())
            return;
        css::task::PasswordRequest password;
        if (request->getRequest() >>= password)
            m_passwordAsked = true;
        const auto continuations = request->getContinuations();
        for (const auto &c : continuations) {
            const Reference<css::task::XInteractionAbort> abort(c, UNO_QUERY);
            if (abort.is()) {
                abort->select();
                return;
            }
        }
    }
    bool passwordAsked() const { return m_passwordAsked; }

private:
    std::atomic<bool> m_passwordAsked{false};
};

/** Collects the states of one print job, reported by the office on a bridge thread. */
class PrintJobWatcher final : public cppu::WeakImplHelper1<css::view::XPrintJobListener> {
public:
    void SAL_CALL printJobEvent(const css::view::PrintJobEvent &event) override
    {
        if (event.State == css::view::PrintableState_JOB_SPOOLED ||
            event.State == css::view::PrintableState_JOB_COMPLETED ||
            event.State == css::view::PrintableState_JOB_ABORTED ||
            event.State == css::view::PrintableState_JOB_FAILED ||
            event.State == css::view::PrintableState_JOB_SPOOLING_FAILED) {
            {
                const std::lock_guard lock(m_mutex);
                if (m_final)
                    return;
                m_final = event.State;
            }
            m_arrived.complete();
        }
    }
    void SAL_CALL disposing(const css::lang::EventObject &) override {}

    /** The job's final state, waiting until `deadline` for it; none when the office reported none.
     */
    std::optional<css::view::PrintableState> finalState(SteadyClock::time_point deadline)
    {
        m_arrived.wait(deadline);
        const std::lock_guard lock(m_mutex);
        return m_final;
    }

private:
    std::mutex m_mutex;
    std::optional<css::view::PrintableState> m_final;
    Completion m_arrived;
};

/** Whether the system's print service says the printer takes no jobs now. */
bool printerRefusesJobs(const QString &printer)
{
    QProcess lpstat;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    lpstat.setProcessEnvironment(environment);
    lpstat.start(QStringLiteral("lpstat"), {QStringLiteral("-a"), printer});
    if (!lpstat.waitForFinished(3000)) {
        lpstat.kill();
        lpstat.waitForFinished(1000);
        return false;
    }
    return QString::fromLocal8Bit(lpstat.readAllStandardOutput())
        .contains(QLatin1String("not accepting"));
}

/** The slides to print as a page range ("1-3,5"); empty when every slide is visible. */
QString visiblePageRange(const std::vector<bool> &visible)
{
    if (std::all_of(visible.begin(), visible.end(), [](bool v) { return v; }))
        return QString();
    QStringList ranges;
    for (std::size_t k = 0; k < visible.size();) {
        if (!visible[k]) {
            ++k;
            continue;
        }
        std::size_t end = k;
        while (end + 1 < visible.size() && visible[end + 1])
            ++end;
        ranges << (end == k ? QString::number(k + 1)
                            : QStringLiteral("%1-%2").arg(k + 1).arg(end + 1));
        k = end + 1;
    }
    return ranges.join(QLatin1Char(','));
}

} // namespace

// One running office: the process Deckrun started (or found on its own pipe),
// the connection to it and its active presentation. Every application
// reference shares it; the last one dropped without Quit stops the process.
struct OfficeInstance {
    std::unique_ptr<OfficeProfile> profile; // held while the office runs on it
    std::unique_ptr<OfficeChild> child;     // null when found running rather than started
    Reference<css::uno::XComponentContext> remote;
    Reference<css::frame::XDesktop2> desktop;
    Reference<css::lang::XComponent> document;
    QString documentPath;
    QString printer;                       // the printer set for the active presentation
    std::optional<QString> refusedPrinter; // asked for and refused: nothing may print elsewhere
    std::function<QStringList()> printerNames;
    std::function<void(const QString &, long)> beforeCall;
    bool headless = true;
    bool visible = false;
    bool ended = false;

    ~OfficeInstance() { stop(); }

    void releaseReferences()
    {
        try {
            document.clear();
            desktop.clear();
            remote.clear();
        } catch (...) {
        }
    }

    long pid() { return child && child->running() ? child->pid() : -1; }

    /**
     * Ends the office: a failed open, or Deckrun ending mid-run. It is asked
     * to end for a moment, then killed, so that closing the window ends
     * Deckrun and its office within half a second.
     */
    void stop(double grace = 0.2)
    {
        if (child)
            child->stop(grace);
        ended = true;
        releaseReferences();
        profile.reset();
    }

    /** Stops an office that misbehaves: its whole process group, at once. */
    void abandon() { stop(0); }

    void requireDocument() const
    {
        if (ended)
            throw Failure(Product + QStringLiteral(" is no longer running."));
        if (!document.is())
            throw Failure(QStringLiteral(
                "ActivePresentation : Invalid request.  There is no active presentation."));
    }

    /**
     * Whether the office is gone after an exception ended a call: one that
     * says the connection broke (`bridgeLost`, `disposed`) while the process ended.
     */
    bool goneAfter(bool bridgeLost, bool disposed)
    {
        if (ended)
            return true;
        if (!bridgeLost)
            return false;
        if (!child)
            return disposed;
        // The connection breaks a moment before the process has fully ended.
        return child->waitForExit(0.5);
    }

    void failIfGone(bool bridgeLost, bool disposed, const QString &doing)
    {
        if (goneAfter(bridgeLost, disposed)) {
            abandon();
            throw Failure(stoppedUnexpectedly(doing));
        }
    }

    /**
     * Runs one call into the office with the deadline of `kind`, off the
     * calling thread. A call that does not return in time stops the office
     * and fails; an office that dies during the call fails as stopped; any
     * other UNO exception reaches the caller to be worded there.
     */
    template <typename F>
    std::invoke_result_t<F> call(OfficeCall kind, const char *name, const QString &doing, F work,
                                 std::optional<SteadyClock::time_point> until = std::nullopt)
    {
        if (ended)
            throw Failure(Product + QStringLiteral(" is no longer running."));
        if (beforeCall)
            beforeCall(QString::fromLatin1(name), pid());
        const double seconds = officeDeadline(kind);
        const auto deadline =
            until.value_or(SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                                    std::chrono::duration<double>(seconds)));
        try {
            auto result = runOffThread(std::move(work), deadline);
            if (!result) {
                abandon();
                throw Failure(notAnswering(seconds));
            }
            return std::move(*result);
        } catch (const css::lang::DisposedException &) {
            failIfGone(true, true, doing);
            throw;
        } catch (const css::uno::RuntimeException &) {
            failIfGone(true, false, doing);
            throw;
        } catch (const css::uno::Exception &) {
            failIfGone(false, false, doing);
            throw;
        }
    }
};

namespace {

/**
 * The adapter's edge: whatever `body` throws reaches the caller as a Failure.
 * UNO exceptions that no step worded are prefixed with `context`.
 */
template <typename F> auto edge(const QString &context, F body) -> decltype(body())
{
    try {
        return body();
    } catch (const Failure &) {
        throw;
    } catch (const css::uno::Exception &e) {
        throw Failure(context + describe(e));
    } catch (const std::exception &e) {
        throw Failure(context + QString::fromLocal8Bit(e.what()));
    } catch (...) {
        throw Failure(context + QStringLiteral("an unknown error."));
    }
}

class UnoPresentationObject final : public Presentation {
public:
    UnoPresentationObject(std::shared_ptr<OfficeInstance> office,
                          Reference<css::lang::XComponent> document)
        : m_office(std::move(office)), m_document(std::move(document))
    {}

    // The office always prints in the foreground (Wait): the application is quit right after
    // printing.
    void setPrintInBackground(bool) override {}

    void printOut() override
    {
        OfficeInstance &o = *m_office;
        if (o.ended)
            throw Failure(Product + QStringLiteral(" is no longer running."));
        const QString file = QFileInfo(o.documentPath).fileName();
        edge(QStringLiteral("%1 could not print \"%2\": ").arg(Product, file),
             [&] { print(o, file); });
    }

private:
    void print(OfficeInstance &o, const QString &file)
    {
        if (o.refusedPrinter)
            throw Failure(
                o.refusedPrinter->isEmpty()
                    ? QStringLiteral("\"%1\" was not printed: no printer was chosen.").arg(file)
                    : QStringLiteral("\"%1\" was not printed: the printer \"%2\" is not known to "
                                     "this system.")
                          .arg(file, *o.refusedPrinter));
        const rtl::Reference<PrintJobWatcher> watcher(new PrintJobWatcher);
        const Reference<css::view::XPrintJobListener> listener(watcher.get());
        const auto deadline = SteadyClock::now() +
                              std::chrono::duration_cast<SteadyClock::duration>(
                                  std::chrono::duration<double>(officeDeadline(OfficeCall::Print)));
        // Hidden slides are left out, as a plain PrintOut does: only the visible ones are named.
        const bool printed = o.call(
            OfficeCall::Print, "print", QStringLiteral("printing \"%1\"").arg(file),
            [document = m_document, listener]() {
                const Reference<css::view::XPrintable> printable(document, UNO_QUERY_THROW);
                const Reference<css::view::XPrintJobBroadcaster> broadcaster(document, UNO_QUERY);
                std::vector<bool> visible;
                const Reference<css::drawing::XDrawPagesSupplier> pages(document, UNO_QUERY);
                if (pages.is()) {
                    const Reference<css::container::XIndexAccess> slides(pages->getDrawPages(),
                                                                         UNO_QUERY_THROW);
                    for (sal_Int32 k = 0, n = slides->getCount(); k < n; ++k) {
                        const Reference<css::beans::XPropertySet> slide(slides->getByIndex(k),
                                                                        UNO_QUERY);
                        bool shown = true;
                        if (slide.is())
                            slide->getPropertyValue("Visible") >>= shown;
                        visible.push_back(shown);
                    }
                }
                if (!visible.empty() &&
                    std::none_of(visible.begin(), visible.end(), [](bool v) { return v; }))
                    return false;
                if (broadcaster.is())
                    broadcaster->addPrintJobListener(listener);
                const QString range = visiblePageRange(visible);
                if (range.isEmpty())
                    printable->print(sequence({property("Wait", css::uno::Any(true))}));
                else
                    printable->print(sequence({property("Wait", css::uno::Any(true)),
                                               property("Pages", css::uno::Any(ou(range)))}));
                return true;
            },
            deadline);
        if (!printed)
            throw Failure(QStringLiteral("%1 could not print \"%2\": every slide in it is hidden.")
                              .arg(Product, file));
        const auto state = watcher->finalState(deadline);
        if (state == css::view::PrintableState_JOB_SPOOLED ||
            state == css::view::PrintableState_JOB_COMPLETED)
            return;
        if (printerRefusesJobs(o.printer))
            throw Failure(QStringLiteral("%1 could not print \"%2\": the printer \"%3\" refused "
                                         "the job.")
                              .arg(Product, file, o.printer));
        if (!state) {
            o.abandon();
            throw Failure(
                QStringLiteral("%1 did not confirm that \"%2\" was printed on the printer \"%3\" "
                               "within %4 seconds and was stopped.")
                    .arg(Product, file, o.printer, secondsText(officeDeadline(OfficeCall::Print))));
        }
        throw Failure(QStringLiteral("%1 could not print \"%2\" on the printer \"%3\".")
                          .arg(Product, file, o.printer));
    }

    std::shared_ptr<OfficeInstance> m_office;
    Reference<css::lang::XComponent> m_document;
};

class UnoApp final : public PresentationApp {
public:
    explicit UnoApp(std::shared_ptr<OfficeInstance> office) : m_office(std::move(office)) {}

    QString name() override
    {
        alive();
        return edge(QString(), [&] {
            return m_office->call(OfficeCall::RunningCheck, "name", QString(),
                                  [remote = m_office->remote]() {
                                      const Reference<css::lang::XMultiServiceFactory> provider =
                                          css::configuration::theDefaultProvider::get(remote);
                                      css::beans::NamedValue path;
                                      path.Name = "nodepath";
                                      path.Value <<= OUString("/org.openoffice.Setup/Product");
                                      const Reference<css::container::XNameAccess> product(
                                          provider->createInstanceWithArguments(
                                              "com.sun.star.configuration.ConfigurationAccess",
                                              sequence({css::uno::Any(path)})),
                                          UNO_QUERY_THROW);
                                      OUString name;
                                      product->getByName("ooName") >>= name;
                                      return qs(name);
                                  });
        });
    }

    void setVisible(bool visible) override
    {
        alive();
        m_office->visible = visible;
    }

    void open(const QString &fileName) override
    {
        alive();
        edge(QStringLiteral("%1 could not open \"%2\": ").arg(Product, fileName),
             [&] { load(fileName); });
    }

    std::shared_ptr<Presentation> activePresentation() override
    {
        m_office->requireDocument();
        return std::make_shared<UnoPresentationObject>(m_office, m_office->document);
    }

    void setActivePrinter(const QString &printerName) override
    {
        OfficeInstance &o = *m_office;
        o.requireDocument();
        // The office takes any name and prints an unknown one on its default
        // printer; a printer the system does not know is refused here instead.
        const QStringList known = o.printerNames ? o.printerNames() : QStringList();
        if (printerName.isEmpty() || !known.contains(printerName)) {
            o.refusedPrinter = printerName;
            throw Failure(
                printerName.isEmpty()
                    ? QStringLiteral("PrintOptions.ActivePrinter : No printer was chosen.")
                    : QStringLiteral(
                          "PrintOptions.ActivePrinter : The printer \"%1\" is not known to "
                          "this system.")
                          .arg(printerName));
        }
        o.refusedPrinter = printerName; // until the office has taken it
        const QString now = edge(QStringLiteral("PrintOptions.ActivePrinter : "), [&] {
            return o.call(
                OfficeCall::Printer, "printer",
                QStringLiteral("setting the printer \"%1\"").arg(printerName),
                [document = o.document, name = ou(printerName)]() {
                    const Reference<css::view::XPrintable> printable(document, UNO_QUERY_THROW);
                    printable->setPrinter(sequence({property("Name", css::uno::Any(name))}));
                    OUString now;
                    for (const auto &p : printable->getPrinter())
                        if (p.Name == "Name")
                            p.Value >>= now;
                    return qs(now);
                });
        });
        if (now != printerName)
            throw Failure(
                QStringLiteral("PrintOptions.ActivePrinter : %1 refused the printer \"%2\".")
                    .arg(Product, printerName));
        o.printer = printerName;
        o.refusedPrinter.reset();
    }

    void quit() override
    {
        OfficeInstance &o = *m_office;
        if (o.ended)
            return;
        const auto deadline = SteadyClock::now() +
                              std::chrono::duration_cast<SteadyClock::duration>(
                                  std::chrono::duration<double>(officeDeadline(OfficeCall::Quit)));
        try {
            o.call(
                OfficeCall::Quit, "quit", QString(),
                [desktop = o.desktop]() {
                    try {
                        if (desktop.is())
                            desktop->terminate();
                    } catch (const css::uno::Exception &) {
                        // The office may end before it answers.
                    }
                    return true;
                },
                deadline);
        } catch (const Failure &) {
            o.abandon(); // already stopped when it did not answer
            throw;
        }
        o.ended = true;
        o.releaseReferences();
        if (o.child) {
            while (o.child->running() &&
                   Completion::handleEventsUntil(deadline, std::chrono::milliseconds(5))) {
                if (!Completion::windowDispatcher())
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            o.child->stop(0);
        }
        o.profile.reset();
    }

private:
    void alive() const
    {
        if (m_office->ended)
            throw Failure(Product + QStringLiteral(" is no longer running."));
    }

    void load(const QString &fileName)
    {
        OfficeInstance &o = *m_office;
        const QFileInfo info(fileName);
        if (!info.isFile())
            throw Failure(QStringLiteral("%1 could not open \"%2\": the file does not exist.")
                              .arg(Product, fileName));
        const QString url =
            QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded);
        const rtl::Reference<AbortingInteractionHandler> handler(new AbortingInteractionHandler);
        const auto arguments = sequence(
            {property("Hidden", css::uno::Any(o.headless || !o.visible)),
             property("ReadOnly", css::uno::Any(true)),
             property("MacroExecutionMode",
                      css::uno::Any(css::document::MacroExecMode::NEVER_EXECUTE)),
             property("UpdateDocMode", css::uno::Any(css::document::UpdateDocMode::NO_UPDATE)),
             property("InteractionHandler",
                      css::uno::Any(Reference<css::task::XInteractionHandler>(handler.get())))});
        struct Loaded {
            Reference<css::lang::XComponent> document;
            bool presentation = false;
        };
        Loaded loaded;
        try {
            loaded = o.call(
                OfficeCall::Load, "load", QStringLiteral("opening \"%1\"").arg(fileName),
                [desktop = o.desktop, url = ou(url), arguments]() {
                    const Reference<css::frame::XComponentLoader> loader(desktop, UNO_QUERY_THROW);
                    Loaded l;
                    l.document = loader->loadComponentFromURL(url, "_blank", 0, arguments);
                    const Reference<css::lang::XServiceInfo> service(l.document, UNO_QUERY);
                    l.presentation =
                        service.is() &&
                        service->supportsService("com.sun.star.presentation.PresentationDocument");
                    return l;
                });
        } catch (const css::uno::Exception &) {
            if (handler->passwordAsked())
                throw Failure(passwordProtected(fileName));
            throw;
        }
        // A damaged or unknown file gives no document and no exception.
        if (!loaded.document.is())
            throw Failure(handler->passwordAsked()
                              ? passwordProtected(fileName)
                              : QStringLiteral("%1 could not open \"%2\": the file is damaged or "
                                               "is not a presentation.")
                                    .arg(Product, fileName));
        if (!loaded.presentation) {
            close(loaded.document);
            throw Failure(
                QStringLiteral("%1 could not open \"%2\": the file is not a presentation.")
                    .arg(Product, fileName));
        }
        if (o.document.is())
            close(o.document);
        o.document = loaded.document;
        o.documentPath = fileName;
        o.printer.clear();
        o.refusedPrinter.reset();
    }

    static QString passwordProtected(const QString &fileName)
    {
        return QStringLiteral("%1 could not open \"%2\": the file is protected by a password.")
            .arg(Product, fileName);
    }

    void close(const Reference<css::lang::XComponent> &document)
    {
        try {
            m_office->call(OfficeCall::Quit, "close", QString(), [document]() {
                const Reference<css::util::XCloseable> closeable(document, UNO_QUERY);
                if (closeable.is())
                    closeable->close(true);
                else
                    document->dispose();
                return true;
            });
        } catch (...) {
            // Closing is tidying up; the step's own outcome is what the user reads.
        }
    }

    std::shared_ptr<OfficeInstance> m_office;
};

} // namespace

UnoAutomation::UnoAutomation(Printers &printers, UnoOptions options)
    : m_printers(printers), m_options(std::move(options))
{
    if (m_options.programDir.isEmpty())
#ifdef DECKRUN_LO_PROGRAM_DIR
        m_options.programDir = QStringLiteral(DECKRUN_LO_PROGRAM_DIR);
#else
        m_options.programDir = QStringLiteral("/usr/lib/libreoffice/program");
#endif
    if (m_options.profileRoot.isEmpty())
        m_options.profileRoot =
            QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
            QStringLiteral("/deckrun/libreoffice");
    if (!m_options.headless)
        m_options.headless = !displayAvailable(); // no screen: the office runs headless
}

UnoAutomation::~UnoAutomation()
{
    shutdown();
}

bool UnoAutomation::isInstalled()
{
    return OfficeInstallation(m_options.programDir).usable();
}

QString UnoAutomation::expectedName() const
{
    return OfficeInstallation(m_options.programDir).productName();
}

long UnoAutomation::childPid() const
{
    const auto office = m_current.lock();
    return office && office->child && !office->ended && office->child->running()
               ? office->child->pid()
               : -1;
}

std::shared_ptr<OfficeInstance>
UnoAutomation::attach(const QString &pipeName, OfficeChild *child,
                      std::chrono::steady_clock::time_point deadline)
{
    const auto local = localContext(m_options.programDir);
    auto office = std::make_shared<OfficeInstance>();
    office->printerNames = [&printers = m_printers] { return printers.printerNames(); };
    office->beforeCall = m_options.beforeCall;
    office->headless = m_options.headless.value_or(true);
    if (m_options.beforeCall)
        m_options.beforeCall(QStringLiteral("connect"), child ? child->pid() : -1);
    struct Connection {
        Reference<css::uno::XComponentContext> remote;
        Reference<css::frame::XDesktop2> desktop;
    };
    const auto connection = runOffThread(
        [local,
         url = ou(
             QStringLiteral("uno:pipe,name=%1;urp;StarOffice.ComponentContext").arg(pipeName))]() {
            Connection c;
            const Reference<css::bridge::XUnoUrlResolver> resolver =
                css::bridge::UnoUrlResolver::create(local);
            try {
                c.remote =
                    Reference<css::uno::XComponentContext>(resolver->resolve(url), UNO_QUERY);
            } catch (const css::connection::NoConnectException &) {
                return c; // nothing answers there
            }
            if (c.remote.is())
                c.desktop = css::frame::Desktop::create(c.remote);
            return c;
        },
        deadline);
    if (!connection)
        throw OfficeNotAnswering();
    if (!connection->remote.is())
        return nullptr;
    office->remote = connection->remote;
    office->desktop = connection->desktop;
    return office;
}

std::shared_ptr<PresentationApp> UnoAutomation::create()
{
    return edge(Product + QStringLiteral(" could not be started: "),
                [&]() -> std::shared_ptr<PresentationApp> { return start(); });
}

std::shared_ptr<PresentationApp> UnoAutomation::start()
{
    if (auto office = m_current.lock();
        office && !office->ended && (!office->child || office->child->running()))
        return std::make_shared<UnoApp>(office);

    const OfficeInstallation installation(m_options.programDir);
    if (!installation.usable())
        throw Failure(Product + QStringLiteral(" is not installed in ") + m_options.programDir);
    auto profile = OfficeProfile::acquire(m_options.profileRoot);
    const QString pipe = profile->pipeName();
    // An office left on this free profile by an earlier Deckrun (answering or
    // hung) is stopped: Deckrun drives only an office it started itself, one
    // that ends with it.
    stopOfficesOnProfile(profile->url(), 5.0);

    profile->seed(installation.setupVersion());
    QStringList arguments{QStringLiteral("--accept=pipe,name=%1;urp;").arg(pipe),
                          QStringLiteral("-env:UserInstallation=") + profile->url(),
                          QStringLiteral("--norestore"),
                          QStringLiteral("--nologo"),
                          QStringLiteral("--nodefault"),
                          QStringLiteral("--nolockcheck")};
    if (m_options.headless.value_or(true))
        arguments << QStringLiteral("--headless");
    // The office process itself, without the launcher script and splash
    // helper in front of it; what they would do for it is done here.
    const QStringList environment{QStringLiteral("SAL_ENABLE_FILE_LOCKING=1")};
    // Started from this (the window's) thread: the office dies with the thread that starts it.
    if (m_options.beforeCall)
        m_options.beforeCall(QStringLiteral("start"), -1);
    auto child = std::make_unique<OfficeChild>(installation.officeBinary(), arguments, environment);
    int restarts = 0;

    const double seconds = officeDeadline(OfficeCall::Start);
    const auto deadline = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                                   std::chrono::duration<double>(seconds));
    for (;;) {
        std::shared_ptr<OfficeInstance> office;
        try {
            office = attach(pipe, child.get(), deadline);
        } catch (const OfficeNotAnswering &) {
            child->stop(0);
            throw Failure(notAnswering(seconds));
        } catch (const css::uno::Exception &) {
            // Answering but not ready yet.
        }
        if (office) {
            office->profile = std::move(profile);
            office->child = std::move(child);
            m_current = office;
            return std::make_shared<UnoApp>(office);
        }
        if (!child->running() && asksForRestart(child->exitStatus()) && ++restarts <= 2) {
            child =
                std::make_unique<OfficeChild>(installation.officeBinary(), arguments, environment);
            continue;
        }
        if (!child->running())
            throw Failure(QStringLiteral("%1 ended before it could be reached (exit status %2).")
                              .arg(Product)
                              .arg(child->exitStatus()));
        if (SteadyClock::now() >= deadline) {
            child->stop(0);
            throw Failure(notAnswering(seconds));
        }
        // The office takes 0.1 to 0.2 s to open its pipe; short, even polls find it soonest.
        Completion::pause(0.005);
    }
}

std::shared_ptr<PresentationApp> UnoAutomation::getRunning()
{
    return edge(
        Product + QStringLiteral(" could not be reached: "),
        [&]() -> std::shared_ptr<PresentationApp> {
            if (auto office = m_current.lock();
                office && !office->ended && (!office->child || office->child->running()))
                return std::make_shared<UnoApp>(office);
            // An office on Deckrun's first profile: left by an earlier
            // run, or another Deckrun printing. One that does not
            // answer in time counts as not running.
            if (OfficeInstallation(m_options.programDir).usable()) {
                const QString pipe =
                    OfficeProfile::pipeNameFor(OfficeProfile::slotFolder(m_options.profileRoot, 0));
                const auto deadline =
                    SteadyClock::now() +
                    std::chrono::duration_cast<SteadyClock::duration>(
                        std::chrono::duration<double>(officeDeadline(OfficeCall::RunningCheck)));
                try {
                    if (auto office = attach(pipe, nullptr, deadline))
                        return std::make_shared<UnoApp>(office);
                } catch (const OfficeNotAnswering &) {
                }
            }
            throw Failure(Product + QStringLiteral(" is not running."), code::CannotCreateObject);
        });
}

void UnoAutomation::shutdown()
{
    if (auto office = m_current.lock())
        office->stop();
}

} // namespace deckrun::uno

namespace deckrun {

std::unique_ptr<PresentationAutomation> makeSystemPresentationAutomation(Printers &printers)
{
    return std::make_unique<uno::UnoAutomation>(printers);
}

} // namespace deckrun
