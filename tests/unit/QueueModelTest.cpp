// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/queue/QueueModel.h"
#include "platform/Failure.h"

#include <gtest/gtest.h>

using namespace deckrun;

TEST(QueueModel, ListContainsFollowsEveryChange)
{
    QueueModel q;
    EXPECT_FALSE(ListContains(q, QString()));
    q.append(QStringLiteral("/a"));
    EXPECT_TRUE(ListContains(q, QStringLiteral("/a")));
    EXPECT_FALSE(ListContains(q, QStringLiteral("/A"))); // letter case counts
    q.append(QStringList{QStringLiteral("/b"), QStringLiteral("/a")});
    q.removeAt(1);
    EXPECT_TRUE(ListContains(q, QStringLiteral("/a"))); // the second copy is still there
    q.removeAt(2);
    EXPECT_FALSE(ListContains(q, QStringLiteral("/a")));
    q.setTextAt(1, QStringLiteral("/c"));
    EXPECT_FALSE(ListContains(q, QStringLiteral("/b")));
    EXPECT_TRUE(ListContains(q, QStringLiteral("/c")));
    q.insertAt(1, QStringLiteral("/d"));
    EXPECT_TRUE(ListContains(q, QStringLiteral("/d")));
    q.clear();
    EXPECT_FALSE(ListContains(q, QStringLiteral("/d")));
    q.append(QStringLiteral("/e"));
    EXPECT_TRUE(ListContains(q, QStringLiteral("/e")));
    EXPECT_EQ(q.count(), 1);
}

TEST(QueueModel, PositionsAreCheckedOneBased)
{
    QueueModel q;
    EXPECT_THROW(q.textAt(1), Failure);
    EXPECT_THROW(q.removeAt(0), Failure);
    q.insertAt(1, QStringLiteral("/x")); // Count + 1 appends
    EXPECT_THROW(q.insertAt(3, QStringLiteral("/y")), Failure);
    EXPECT_EQ(q.textAt(1), QStringLiteral("/x"));
}
