// SPDX-License-Identifier: GPL-3.0-or-later
// The apartment without a server: its answers to a busy server, the waits
// the system refuses, and a task that throws.

#include "platform/com/ComApartment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

using namespace deckrun::com;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(BusyFilter, RetriesALittleLaterUntilTheDeadline)
{
    const auto now = Clock::now();
    EXPECT_EQ(retryAfterBusy(now, now + 5s), 250);
    EXPECT_EQ(retryAfterBusy(now, now + 150ms), 150);
    EXPECT_EQ(retryAfterBusy(now, now + 20ms), 100); // 0 to 99 would be "at once"
    EXPECT_EQ(retryAfterBusy(now, now), -1);
    EXPECT_EQ(retryAfterBusy(now + 1s, now), -1);
}

// A wait the system refuses (a handle that is none) fails at once,
// saying why, instead of spinning until its deadline. Kills a wait that goes
// round again when the system could not wait.
TEST(MessageWait, AWaitTheSystemRefusesFailsAtOnce)
{
    // Never a handle: one just closed may be taken again at once (by the thread's queue).
    const auto gone = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7ffffffc));
    const auto start = Clock::now();
    try {
        waitHandlingMessages(gone, start + 3s);
        ADD_FAILURE() << "the wait went on";
    } catch (const ComError &e) {
        EXPECT_EQ(e.description().rfind(L"Deckrun could not wait for PowerPoint: ", 0), 0u);
    }
    EXPECT_LT(Clock::now() - start, 1s);
}

// A task that throws on the apartment's thread (a release, a cancel) is told,
// and the apartment serves the next call. Kills a throw that ends the process.
TEST(Apartment, ATaskThatThrowsIsToldAndTheNextCallGoesThrough)
{
    std::mutex lock;
    std::vector<std::string> told;
    const auto apartment = Apartment::start([&](const std::string &text) {
        const std::lock_guard held(lock);
        told.push_back(text);
    });
    apartment->post(
        Task{[](Apartment &) { throw std::runtime_error("a release that threw"); }, nullptr});
    const auto answer = apartment->call<int>(
        Clock::now() + 5s, [](Apartment &) { return 7; }, ComError(L"gone", E_FAIL));
    ASSERT_TRUE(std::holds_alternative<int>(answer));
    EXPECT_EQ(std::get<int>(answer), 7);
    apartment->finish();
    const std::lock_guard held(lock);
    EXPECT_EQ(told, std::vector<std::string>{
                        "a task of the automation thread failed: a release that threw"});
}
