// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Waiting on a thread that must keep handling its window messages (the
// window's thread, where Qt's events come through them): for a call in an
// apartment (ComApartment.h), and for a process to end.

#include <windows.h>

#include <chrono>

namespace deckrun::com {

/** An event handle, closed when dropped; throws ComError when the system has none to give. */
class Event {
public:
    enum class Reset { Manual, Automatic };

    explicit Event(Reset reset = Reset::Manual);
    ~Event() { CloseHandle(m_h); }
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;
    HANDLE get() const { return m_h; }
    void set() const { SetEvent(m_h); }

private:
    HANDLE m_h;
};

/**
 * Waits until `done` is signalled or `deadline` passes, handling the calling
 * thread's messages meanwhile (the window's events, Qt's among them) and
 * never past the deadline. True when `done` was signalled. A WM_QUIT taken
 * from the queue is posted again when the wait is over. Throws ComError when
 * the system cannot wait (an invalid handle): waiting on would spin.
 */
bool waitHandlingMessages(HANDLE done, std::chrono::steady_clock::time_point deadline);

/**
 * An idle apartment's wait: until `wake` is signalled or a message arrives,
 * then handles the thread's messages (what COM posts to the apartment).
 * Throws ComError when the system cannot wait.
 */
void waitForWork(HANDLE wake);

} // namespace deckrun::com
