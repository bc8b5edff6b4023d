// SPDX-License-Identifier: GPL-3.0-or-later
// What the bookkeeping of PowerPoint's processes remembers of the ones it has
// seen, without a PowerPoint: this test program stands in for one.

#include "platform/com/PowerPointProcesses.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace deckrun::com;

TEST(PowerPointProcesses, TellTheOnesDeckrunStartedFromTheOnesItFound)
{
    const unsigned long self = GetCurrentProcessId();
    PowerPointProcesses started({});
    EXPECT_FALSE(started.ours(self)); // not seen yet
    EXPECT_EQ(started.track(0, true, 0), nullptr);
    const auto seen = started.track(self, true, 0);
    ASSERT_NE(seen, nullptr);
    EXPECT_TRUE(seen->running());
    EXPECT_TRUE(started.ours(self));
    // Seen again (found running through another reference): still the one started.
    EXPECT_EQ(started.track(self, false, 0), seen);
    EXPECT_TRUE(started.ours(self));

    PowerPointProcesses found({});
    found.track(self, false, 0);
    EXPECT_FALSE(found.ours(self));
}
