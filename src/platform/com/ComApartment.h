// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A single-threaded apartment of its own: one worker thread that makes every
// call into an automation server and holds every object of it, while the
// calling (window) thread waits for each call, handling its window messages,
// until the call returns or its deadline passes. The apartment only reports
// that a deadline passed (Overdue): what to stop then, and whether to give
// the apartment up, is its user's choice (PowerPointAutomation.cpp). It knows
// no application and no process.

#include "platform/com/ComDispatch.h"
#include "platform/com/MessageWait.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>

namespace deckrun::com {

/**
 * What the apartment's message filter answers when the server refuses a call
 * as busy (IMessageFilter::RetryRejectedCall): try again after this many
 * milliseconds (100 or more) while `deadline` has not passed, -1 (give up)
 * once it has.
 */
long retryAfterBusy(std::chrono::steady_clock::time_point now,
                    std::chrono::steady_clock::time_point deadline);

class Apartment;

/**
 * A piece of work for an apartment's thread, and what to do when it never
 * runs: `cancel` gets why (null: the apartment was given up).
 */
struct Task {
    std::function<void(Apartment &)> run;
    std::function<void(const std::exception_ptr &why)> cancel;
};

/** A call whose deadline passed before it returned, as the waiting thread learns it. */
struct Overdue {
    long busyAnswer = S_OK; // the last busy answer it got; S_OK when there was none
};

/**
 * One single-threaded apartment: a thread of its own that makes every call
 * and holds every automation object (the caller holds only their numbers).
 * It is abandoned, never joined, when a call in it does not return: once
 * that call comes back (its server stopped), the thread releases what it
 * holds and ends by itself.
 */
class Apartment {
public:
    /**
     * A new apartment, its thread running and COM set up on it. `log` hears
     * of what fails on that thread without a caller to tell (may be empty).
     */
    static std::shared_ptr<Apartment> start(std::function<void(const std::string &)> log = {});

    Apartment() = default;
    Apartment(const Apartment &) = delete;
    Apartment &operator=(const Apartment &) = delete;

    /**
     * Runs `work(apartment)` on the apartment's thread under `deadline` (the
     * call in hand's there), while the calling thread waits handling its
     * messages. Returns what `work` returned, rethrows what it threw, and
     * throws `whenGone` when the apartment takes no more work (or why its
     * thread ended, when it could not go on). Overdue when
     * the deadline passed first, or when the server refused the call as busy
     * until then.
     */
    template <typename R, typename F>
    std::variant<R, Overdue> call(std::chrono::steady_clock::time_point deadline, F work,
                                  const ComError &whenGone)
    {
        auto value = std::make_shared<std::optional<R>>();
        const std::optional<Overdue> overdue = callUntil(
            deadline,
            [value, work = std::move(work)](Apartment &a) mutable { value->emplace(work(a)); },
            whenGone);
        if (overdue)
            return *overdue;
        return std::move(**value);
    }

    /** Queues `task` for the apartment's thread; cancels it when the apartment is over. */
    void post(Task task);
    /** Releases the object on the apartment's thread, without waiting for it. */
    void releaseLater(std::uint64_t id);
    /** Gives the apartment up: queued work is cancelled, the call in hand left to return. */
    void abandon();
    /** Ends the apartment once the queued work is done; its objects are released then. */
    void finish();
    bool abandoned() const;

    // On the apartment's thread only.
    std::uint64_t keep(Dispatch object);
    const Dispatch &object(std::uint64_t id) const;
    void release(std::uint64_t id) { m_objects.erase(id); }

private:
    std::optional<Overdue> callUntil(std::chrono::steady_clock::time_point deadline,
                                     std::function<void(Apartment &)> work,
                                     const ComError &whenGone);
    /** The apartment's thread: COM and the message filter set up, the work served, all let go. */
    void run(const Event &ready, HRESULT &started);
    /** Runs the queued work as it comes, until the apartment is over and its work done. */
    void serve();
    /** The thread cannot go on: the work queued and to come fails with `why`. */
    void breakDown(const ComError &why);
    void log(const std::string &text) const;

    mutable std::mutex m_mutex;
    std::deque<Task> m_tasks;
    bool m_over = false;           // takes no more work
    bool m_abandoned = false;      // a call in it did not return in time
    std::exception_ptr m_brokenBy; // why its thread ended before it was over; null if it did not
    std::function<void(const std::string &)> m_log;
    Event m_wake{Event::Reset::Automatic};
    // The apartment's thread's own.
    std::unordered_map<std::uint64_t, Dispatch> m_objects;
    std::uint64_t m_nextId = 1;
};

} // namespace deckrun::com
