// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/UnoGlue.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <cppuhelper/bootstrap.hxx>

#include <climits>
#include <csignal>
#include <mutex>

namespace deckrun::uno {

namespace {

/** Milliseconds from now until `deadline`, none when it has passed. */
int millisecondsUntil(SteadyClock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
}

} // namespace

bool runOnOwnThread(std::function<void()> job, SteadyClock::time_point deadline,
                    const std::function<void()> &expired)
{
    // What the job captured goes on its own thread as soon as it is done.
    std::unique_ptr<QThread> thread(QThread::create([job = std::move(job)]() mutable {
        job();
        job = nullptr;
    }));
    QEventLoop loop;
    bool ended = false;
    bool passed = false;
    // The end is told on this thread, in its event loop, after the job's last step.
    QObject::connect(
        thread.get(), &QThread::finished, &loop,
        [&] {
            ended = true;
            loop.quit();
        },
        Qt::QueuedConnection);
    // A timer fires in any event loop of this thread, a modal dialog's too: the
    // office is stopped on time even when this loop only resumes later.
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        if (ended)
            return;
        passed = true;
        if (expired)
            expired();
        loop.quit();
    });
    thread->start();
    if (!thread->isRunning() && !thread->isFinished())
        throw Failure(Product +
                      QStringLiteral(" could not be called: no thread could be started."));
    timer.start(millisecondsUntil(deadline));
    while (!ended && !passed) {
        if (loop.exec() >= 0)
            continue;
        // This thread's event loops are told to end (the application is
        // quitting): wait for the job without one.
        if (thread->wait(QDeadlineTimer(millisecondsUntil(deadline)))) {
            ended = true;
        } else {
            passed = true;
            if (expired)
                expired();
        }
    }
    if (!passed) {
        thread->wait(); // past its last step already
        return true;
    }
    // Late is too late, even when the job ended after the office was stopped.
    // A hung call holds its thread until it returns, perhaps never. The
    // thread object goes once the thread has ended (deleted while it runs, it
    // would end the process), by this thread's event loop; where none runs
    // again it is left, on purpose.
    QThread *left = thread.release();
    QObject::connect(left, &QThread::finished, left, &QObject::deleteLater);
    if (left->isFinished()) {
        left->wait();
        delete left;
    }
    return false;
}

bool waitUntil(const std::function<bool()> &done, SteadyClock::time_point deadline,
               const std::function<void()> &expired)
{
    if (done())
        return true;
    QEventLoop loop;
    bool ended = false;
    bool passed = false;
    const auto look = [&] {
        if (ended || passed)
            return;
        if (done()) {
            ended = true;
        } else if (SteadyClock::now() >= deadline) {
            passed = true;
            if (expired)
                expired();
        } else {
            return;
        }
        loop.quit();
    };
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, look);
    poll.start(5);
    while (!ended && !passed) {
        if (loop.exec() < 0) {
            // No event loop may run now: look without one.
            QThread::msleep(5);
            look();
        }
    }
    return ended;
}

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

} // namespace deckrun::uno
