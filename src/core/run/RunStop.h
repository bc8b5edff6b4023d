// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <utility>

namespace deckrun {

/**
 * Requests to stop a run from outside (a signal, the console closing). The
 * first lets the file in hand end, with its waits cut short, and no further
 * file begin; a second stops the applications the run prints through at
 * once. The run in progress tells what stopping at once means for it.
 */
class RunStop {
public:
    /** Takes one more request; returns how many there have been, this one included. */
    int request()
    {
        if (++m_requests > 1 && m_stopNow)
            m_stopNow();
        return m_requests;
    }
    bool requested() const { return m_requests > 0; }

    /** What a second request does while a run prints; empty once it ended. */
    void setStopNow(std::function<void()> stopNow) { m_stopNow = std::move(stopNow); }

private:
    int m_requests = 0;
    std::function<void()> m_stopNow;
};

} // namespace deckrun
