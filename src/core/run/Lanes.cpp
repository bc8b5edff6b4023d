// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/Lanes.h"

#include "core/run/KeptApplication.h"
#include "platform/EventLoop.h"
#include "platform/Logging.h"
#include "platform/PresentationAutomation.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <deque>
#include <exception>
#include <mutex>

namespace deckrun {

PrintersAsRunBegan::PrintersAsRunBegan(Printers &system)
    : m_default(system.defaultPrinterName()), m_names(system.printerNames())
{}

/**
 * One application on a thread of its own, so that it can open its next file
 * while another application prints. Its work runs there one piece after the
 * other; the run's thread waits for each piece it needs, handling its events.
 * The application starts on that thread and dies with it.
 */
class Lane {
public:
    Lane(std::unique_ptr<PresentationAutomation> office, FileSystem &files, EventLoop &events,
         int renewEvery)
        : m_office(std::move(office)), m_events(events),
          m_application(std::make_unique<KeptApplication>(*m_office, files, renewEvery, true))
    {
        m_context.moveToThread(&m_thread);
        m_thread.start();
    }

    ~Lane()
    {
        beginEnd();
        try {
            wait(m_ending);
        } catch (...) {
            qCDebug(lcOffice) << "an application side by side did not end cleanly";
        }
        wait(post([this] { m_context.moveToThread(QCoreApplication::instance()->thread()); }));
        m_thread.quit();
        m_thread.wait();
    }

    Lane(const Lane &) = delete;
    Lane &operator=(const Lane &) = delete;

    /**
     * Begins quitting the application there, so that several lanes end side
     * by side; the destructor waits for it.
     */
    void beginEnd()
    {
        if (m_ending)
            return;
        // An open ahead that is still under way is not waited for: the
        // application is stopped under it, so its call ends at once.
        if (m_opening && !m_opening->done)
            stopNow();
        m_ending = post([this] {
            m_opened.reset();
            m_application.reset(); // quits the application on the thread that started it
            m_office->shutdown();
        });
    }

    /**
     * The run ends: an open ahead still under way is not waited for (the
     * application is stopped under it), a file opened ahead is not printed,
     * and the application quits. The lane serves the next run with a fresh
     * one; finishRunEnd waits for this.
     */
    void beginRunEnd()
    {
        if (m_opening && !m_opening->done)
            stopNow();
        m_opening.reset();
        m_openingPath.clear();
        m_runEnding = post([this] {
            m_opened.reset();
            m_application->quit();
        });
    }

    void finishRunEnd()
    {
        try {
            wait(std::exchange(m_runEnding, nullptr));
        } catch (const std::exception &e) {
            qCDebug(lcOffice) << "an application side by side did not quit cleanly:" << e.what();
        }
    }

    /** Begins opening `path` there, after what the lane does now. */
    void beginOpen(const QString &path, double now)
    {
        m_openingPath = path;
        m_started = 0;
        m_opening =
            post([this, path, now] { m_opened = m_application->open(path, now, &m_started); });
    }

    /** Waits for the open of `path` (begun now when another was begun); throws its failure. */
    std::shared_ptr<PresentationApp> finishOpen(const QString &path, double now, double &started)
    {
        if (m_opening && m_openingPath != path)
            dropStaleOpen(now);
        if (!m_opening)
            beginOpen(path, now);
        wait(std::exchange(m_opening, nullptr));
        started = m_started;
        return std::exchange(m_opened, nullptr);
    }

    /** Runs `work` there and waits for it; throws its failure. */
    void call(const std::function<void()> &work) { wait(post(work)); }

    /**
     * The file's steps are over; what that means for the application happens
     * there, meanwhile. Returns whether the application goes on (after a
     * failed file it is asked there, which takes a moment).
     */
    bool fileDone(bool passed, double now)
    {
        bool goesOn = passed;
        if (!passed)
            call([this, &goesOn] { goesOn = m_application->goesOnAfter(false); });
        post([this, goesOn, now] { m_application->fileDone(goesOn, now); });
        return goesOn;
    }

    /** Starts the application there, meanwhile, so that a file given to this lane finds it. */
    void startAhead()
    {
        post([this] { m_application->startAhead(); });
    }

    /** Stops the application at once, from the run's thread, whatever the lane is doing. */
    void stopNow()
    {
        try {
            m_office->abort();
        } catch (...) {
            qCDebug(lcOffice) << "an application side by side could not be stopped";
        }
    }

private:
    struct Task {
        std::atomic<bool> done{false};
        std::exception_ptr error;
    };

    /**
     * The row opened ahead has changed since: that open ends first, and the
     * document it opened is closed there, so the office holds no file it will
     * not print.
     */
    void dropStaleOpen(double now)
    {
        try {
            wait(std::exchange(m_opening, nullptr));
        } catch (const std::exception &e) {
            qCDebug(lcOffice) << "a file opened ahead is not printed:" << e.what();
            return; // its failed open already cost nothing more than the open
        }
        const std::shared_ptr<PresentationApp> opened = std::exchange(m_opened, nullptr);
        post([this, opened, now] {
            bool closed = true;
            try {
                opened->activePresentation()->close();
            } catch (const std::exception &e) {
                qCDebug(lcOffice) << "a file opened ahead could not be closed:" << e.what();
                closed = false;
            }
            m_application->fileDone(closed, now);
        });
    }

    std::shared_ptr<Task> post(std::function<void()> work)
    {
        auto task = std::make_shared<Task>();
        {
            const std::lock_guard lock(m_queueLock);
            m_queue.emplace_back(task, std::move(work));
        }
        QMetaObject::invokeMethod(
            &m_context, [this] { drain(); }, Qt::QueuedConnection);
        return task;
    }

    /**
     * Runs the work posted, one piece after the other, on the lane's thread.
     * A call into the office waits in an event loop of its own, where this is
     * called again: the next piece then waits for the one under way, never
     * runs inside it.
     */
    void drain()
    {
        if (m_draining)
            return;
        m_draining = true;
        for (;;) {
            std::pair<std::shared_ptr<Task>, std::function<void()>> next;
            {
                const std::lock_guard lock(m_queueLock);
                if (m_queue.empty())
                    break;
                next = std::move(m_queue.front());
                m_queue.pop_front();
            }
            try {
                next.second();
            } catch (...) {
                next.first->error = std::current_exception();
            }
            next.first->done = true;
            // Wakes the run's thread, asleep in its event loop.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
        }
        m_draining = false;
    }

    void wait(const std::shared_ptr<Task> &task)
    {
        while (!task->done)
            m_events.sleepForEvents(0.1);
        if (task->error)
            std::rethrow_exception(task->error);
    }

    std::unique_ptr<PresentationAutomation> m_office;
    EventLoop &m_events;
    std::unique_ptr<KeptApplication> m_application; // used on the lane's thread only
    QThread m_thread;
    QObject m_context; // lives on m_thread: the work posted to it runs there
    std::mutex m_queueLock;
    std::deque<std::pair<std::shared_ptr<Task>, std::function<void()>>> m_queue;
    bool m_draining = false; // on m_thread only
    std::shared_ptr<Task> m_opening;
    std::shared_ptr<Task> m_ending;
    std::shared_ptr<Task> m_runEnding;
    QString m_openingPath;
    std::shared_ptr<PresentationApp> m_opened;
    double m_started = 0;
};

Lanes::Lanes(const MakeOffice &makeOffice, Printers &printers, FileSystem &files, EventLoop &events,
             int jobs, int renewEvery)
    : m_printers(printers), m_events(events), m_spare(jobs == 1)
{
    for (int k = 0; k < (m_spare ? 2 : jobs); ++k)
        m_lanes.push_back(
            std::make_unique<Lane>(makeOffice(m_printers), files, events, renewEvery));
}

Lanes::~Lanes()
{
    // Several lanes end side by side.
    for (const auto &lane : m_lanes)
        lane->beginEnd();
    m_lanes.clear();
}

Lane &Lanes::laneOf(std::int32_t row)
{
    if (m_spare)
        return *m_lanes[m_inUse];
    // Each lane opens the file after its current one ahead; file i is its lane's in turn.
    return *m_lanes[static_cast<std::size_t>(row - 1) % m_lanes.size()];
}

void Lanes::openAhead(std::int32_t row)
{
    if (row > m_ahead.rows || m_ahead.stopping())
        return;
    const std::optional<QString> path = m_ahead.pathAt(row);
    if (!path) {
        qCDebug(lcOffice) << "row" << row << "is gone; it is not opened ahead";
        return;
    }
    laneOf(row).beginOpen(*path, m_events.secondsSinceMidnight());
}

void Lanes::runStarts(const RowsAhead &ahead)
{
    m_ahead = ahead;
    if (m_spare) {
        openAhead(1);
        m_lanes[1 - m_inUse]->startAhead();
        return;
    }
    for (std::int32_t row = 1; row <= static_cast<std::int32_t>(m_lanes.size()); ++row)
        openAhead(row);
}

void Lanes::printFile(FileInHand &file)
{
    Lane &lane = laneOf(file.row);
    double started = 0;
    const bool passed = printOnKeptApplication(
        file, [&] { return lane.finishOpen(file.path, m_events.secondsSinceMidnight(), started); },
        started, [&](const std::function<void()> &work) { lane.call(work); });
    const bool goesOn = lane.fileDone(passed, m_events.secondsSinceMidnight());
    if (!m_spare) {
        openAhead(file.row + static_cast<std::int32_t>(m_lanes.size()));
        return;
    }
    // When a failed file cost this lane its application, the spare, started
    // ahead, goes on while this lane starts its application again.
    if (!goesOn)
        m_inUse = 1 - m_inUse;
    openAhead(file.row + 1);
}

void Lanes::runEnds()
{
    // The lanes stay for the next run; their applications quit side by side.
    for (const auto &lane : m_lanes)
        lane->beginRunEnd();
    for (const auto &lane : m_lanes)
        lane->finishRunEnd();
}

void Lanes::stopNow()
{
    for (const auto &lane : m_lanes)
        lane->stopNow();
}

} // namespace deckrun
