// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the window benchmarks share: the window on one printer, a clock that
// jumps over every wait, and clicks posted on a button from another thread with the time each took
// to reach the button's handler.

#include "gui/Form1.h"
#include "platform/EventLoop.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace deckrun::bench {

/** Shows the window with `printer` as its one printer and "0 seconds" as its one pause. */
inline void showWindowOn(Form1 &form, const QString &printer)
{
    form.Combo1->addItem(printer);
    form.Combo1->setCurrentIndex(0);
    form.Combo2->addItem(QStringLiteral("0 seconds"));
    form.Combo2->setCurrentIndex(0);
    form.show();
    QCoreApplication::processEvents();
}

/** A clock that jumps over every wait at once; pumping handles the window's events. */
class JumpingClock final : public EventLoop {
public:
    void pumpEvents() override { QCoreApplication::processEvents(); }
    double secondsSinceMidnight() override { return m_now; }
    void sleepForEvents(double seconds) override
    {
        QCoreApplication::processEvents();
        m_now += seconds;
        waited += seconds;
    }
    double randomNumber() override { return 0.5; }
    /** Every wait jumped over, in seconds. */
    double waited = 0.0;

private:
    double m_now = 36000.0;
};

/**
 * Posts a press and release on the button at random moments (every
 * `minPauseMs` to `maxPauseMs`) from its own thread, as the window system
 * would deliver a user's click, and matches each to the moment the button's
 * click handler runs.
 */
class ClickPoster {
public:
    using Clock = std::chrono::steady_clock;

    /** What one phase of clicks gave: the latencies in ms, and the clicks never handled. */
    struct Phase {
        std::vector<double> latencies;
        int lost = 0;
    };

    ClickPoster(QPushButton &button, int minPauseMs, int maxPauseMs)
        : m_button(button), m_mouse(QPointingDevice::primaryPointingDevice()),
          m_minPauseMs(minPauseMs), m_maxPauseMs(maxPauseMs)
    {
        QObject::connect(&button, &QPushButton::clicked, &button, [this] { handled(); });
    }
    ClickPoster(const ClickPoster &) = delete;
    ClickPoster &operator=(const ClickPoster &) = delete;
    ~ClickPoster() { stop(); }

    void start(unsigned seed)
    {
        m_stop = false;
        m_thread = std::thread([this, seed] {
            std::mt19937 random(seed);
            std::uniform_int_distribution<int> pauseMs(m_minPauseMs, m_maxPauseMs);
            while (!m_stop) {
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(random)));
                if (m_stop)
                    break;
                post();
            }
        });
    }

    void stop()
    {
        m_stop = true;
        if (!m_thread.joinable())
            return;
        m_thread.join();
        // Let the last clicks arrive.
        const auto until = Clock::now() + std::chrono::milliseconds(200);
        while (Clock::now() < until)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    /** The phase since the last take; the next one starts afresh. */
    Phase take()
    {
        const std::lock_guard lock(m_mutex);
        Phase phase;
        phase.latencies.swap(m_latencies);
        phase.lost = static_cast<int>(m_posted.size());
        m_posted.clear();
        return phase;
    }

private:
    void post()
    {
        const QPointF at = QRectF(m_button.rect()).center();
        const QPointF global = m_button.mapToGlobal(at);
        {
            const std::lock_guard lock(m_mutex);
            m_posted.push_back(Clock::now());
        }
        QCoreApplication::postEvent(&m_button, new QMouseEvent(QEvent::MouseButtonPress, at, global,
                                                               Qt::LeftButton, Qt::LeftButton,
                                                               Qt::NoModifier, m_mouse));
        QCoreApplication::postEvent(&m_button, new QMouseEvent(QEvent::MouseButtonRelease, at,
                                                               global, Qt::LeftButton, Qt::NoButton,
                                                               Qt::NoModifier, m_mouse));
    }

    void handled()
    {
        const auto now = Clock::now();
        const std::lock_guard lock(m_mutex);
        if (m_posted.empty())
            return;
        m_latencies.push_back(
            std::chrono::duration<double, std::milli>(now - m_posted.front()).count());
        m_posted.pop_front();
    }

    QPushButton &m_button;
    const QPointingDevice *m_mouse;
    int m_minPauseMs, m_maxPauseMs;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::deque<Clock::time_point> m_posted;
    std::vector<double> m_latencies;
};

} // namespace deckrun::bench
