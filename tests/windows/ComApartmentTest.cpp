// SPDX-License-Identifier: GPL-3.0-or-later
// The apartment's answers to a busy server, without a server.

#include "platform/com/ComApartment.h"

#include <gtest/gtest.h>

#include <chrono>

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
