// SPDX-License-Identifier: GPL-3.0-or-later
#include "queue/QueueModel.h"
#include "platform/Failure.h"

#include <gtest/gtest.h>

using namespace deckrun;

TEST(QueueModel, ListContainsFollowsEveryChange)
{
    QueueModel q;
    EXPECT_FALSE(ListContains(q, QString()));
    q.Append(QStringLiteral("/a"));
    EXPECT_TRUE(ListContains(q, QStringLiteral("/a")));
    EXPECT_FALSE(ListContains(q, QStringLiteral("/A"))); // letter case counts
    q.Append(QStringList{QStringLiteral("/b"), QStringLiteral("/a")});
    q.RemoveAt(1);
    EXPECT_TRUE(ListContains(q, QStringLiteral("/a"))); // the second copy is still there
    q.RemoveAt(2);
    EXPECT_FALSE(ListContains(q, QStringLiteral("/a")));
    q.SetTextAt(1, QStringLiteral("/c"));
    EXPECT_FALSE(ListContains(q, QStringLiteral("/b")));
    EXPECT_TRUE(ListContains(q, QStringLiteral("/c")));
    q.InsertAt(1, QStringLiteral("/d"));
    EXPECT_TRUE(ListContains(q, QStringLiteral("/d")));
    q.Clear();
    EXPECT_FALSE(ListContains(q, QStringLiteral("/d")));
    q.Append(QStringLiteral("/e"));
    EXPECT_TRUE(ListContains(q, QStringLiteral("/e")));
    EXPECT_EQ(q.Count(), 1);
}

TEST(QueueModel, PositionsAreCheckedOneBased)
{
    QueueModel q;
    EXPECT_THROW(q.TextAt(1), Failure);
    EXPECT_THROW(q.RemoveAt(0), Failure);
    q.InsertAt(1, QStringLiteral("/x")); // Count + 1 appends
    EXPECT_THROW(q.InsertAt(3, QStringLiteral("/y")), Failure);
    EXPECT_EQ(q.TextAt(1), QStringLiteral("/x"));
}
