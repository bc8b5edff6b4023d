// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace deckrun {

/**
 * The window thread's event pump and clock. Long operations pump through it,
 * and waits sleep through it, so tests can run them on a clock of their own.
 */
class EventLoop {
public:
    virtual ~EventLoop() = default;
    /** Handles the window events that are pending, then returns. */
    virtual void pumpEvents() = 0;
    /** Seconds since midnight, with fractions. */
    virtual double secondsSinceMidnight() = 0;
    /** Sleeps until an event arrives or `seconds` have passed, handling what arrives. */
    virtual void sleepForEvents(double seconds) = 0;
    /** A number in [0, 1) from a generator seeded from the time of day. */
    virtual double randomNumber() = 0;
};

} // namespace deckrun
