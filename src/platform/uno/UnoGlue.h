// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The glue between Deckrun and the office's UNO runtime, shared by the office
// backend's files: text and property conversion, the wording of failures,
// calls run off the calling thread under a deadline, and OfficeInstance, one
// running office with its connection. Only the files of platform/uno/
// include it.

#include "platform/uno/UnoAutomation.h"

#include "platform/Display.h"
#include "platform/Failure.h"
#include "platform/Logging.h"
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

inline const QString Product = QStringLiteral("LibreOffice Impress");

inline OUString ou(const QString &s)
{
    return OUString(reinterpret_cast<const sal_Unicode *>(s.utf16()),
                    static_cast<sal_Int32>(s.size()));
}

inline QString qs(const OUString &s)
{
    return QString(reinterpret_cast<const QChar *>(s.getStr()), s.getLength());
}

template <typename T> css::uno::Sequence<T> sequence(std::initializer_list<T> items)
{
    css::uno::Sequence<T> s(static_cast<sal_Int32>(items.size()));
    std::copy(items.begin(), items.end(), s.getArray());
    return s;
}

inline css::beans::PropertyValue property(const char *name, const css::uno::Any &value)
{
    css::beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

/** The office's own words for a failure, or a plain statement when it gave none. */
inline QString describe(const css::uno::Exception &e)
{
    const QString message = qs(e.Message).trimmed();
    return message.isEmpty() ? QStringLiteral("LibreOffice did not answer.") : message;
}

inline QString secondsText(double seconds)
{
    return QString::number(seconds, 'g', 6);
}

inline QString notAnswering(double seconds)
{
    return QStringLiteral("%1 did not answer within %2 seconds and was stopped.")
        .arg(Product, secondsText(seconds));
}

inline QString stoppedUnexpectedly(const QString &doing)
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
        const auto until = deadlineAfter(seconds);
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
inline Reference<css::uno::XComponentContext> localContext(const QString &programDir)
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
            qCDebug(lcOffice) << "releasing the office's references failed";
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
        const auto deadline = until.value_or(deadlineAfter(seconds));
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

} // namespace deckrun::uno
