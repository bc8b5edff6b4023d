// SPDX-License-Identifier: GPL-3.0-or-later
// What the watched folder builds on: the move that never replaces and that
// one process alone wins, the look for writers, and the names it gives.

#include "platform/FileHandover.h"
#include "core/hotfolder/HotFolder.h"
#include "support/TempTree.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace deckrun;
using deckrun::test::TempTree;

namespace {

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
}

} // namespace

TEST(FileHandover, AMoveNeverReplacesAndSaysWhyItDidNotMove)
{
    TempTree tree;
    const QString from = tree.file(QStringLiteral("in/a.pptx"), "dropped");
    const QString taken = tree.file(QStringLiteral("out/a.pptx"), "already there");
    EXPECT_EQ(moveWithoutReplacing(from, taken), MoveOutcome::TargetTaken);
    EXPECT_EQ(contentOf(taken), "already there");
    EXPECT_EQ(contentOf(from), "dropped") << "nothing moved";

    const QString free = tree.at(QStringLiteral("out/a (2).pptx"));
    EXPECT_EQ(moveWithoutReplacing(from, free), MoveOutcome::Moved);
    EXPECT_EQ(contentOf(free), "dropped");
    EXPECT_FALSE(QFile::exists(from));

    // The second of two takers finds the file gone: another process has it.
    EXPECT_EQ(moveWithoutReplacing(from, tree.at(QStringLiteral("out/b.pptx"))),
              MoveOutcome::SourceGone);
    // A folder that is not there is no taker's doing: a failure, with the reason.
    QString why;
    EXPECT_EQ(moveWithoutReplacing(free, tree.at(QStringLiteral("missing/a.pptx")), &why),
              MoveOutcome::Failed);
    EXPECT_FALSE(why.isEmpty());
    EXPECT_TRUE(QFile::exists(free));
}

TEST(FileHandover, OnlyFilesHeldOpenForWritingAreBeingWritten)
{
    TempTree tree;
    const QString writing = tree.file(QStringLiteral("writing.pptx"));
    const QString reading = tree.file(QStringLiteral("reading.pptx"));
    const QString closed = tree.file(QStringLiteral("closed.pptx"));
    QFile writer(writing), reader(reading);
    ASSERT_TRUE(writer.open(QIODevice::Append));
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    EXPECT_EQ(filesOpenForWriting({reading, writing, closed, tree.at(QStringLiteral("gone"))}),
              QStringList{writing});
    writer.close();
    EXPECT_EQ(filesOpenForWriting({writing}), QStringList());
}

TEST(FileHandover, NamesForTakenPlacesAndForWatchers)
{
    const struct {
        const char *name;
        int n;
        const char *numbered;
    } names[] = {
        {"a.pptx", 1, "a.pptx"},     {"a.pptx", 2, "a (2).pptx"}, {"a.b.ppt", 12, "a.b (12).ppt"},
        {"README", 3, "README (3)"}, {".pptx", 2, ".pptx (2)"},
    };
    for (const auto &c : names)
        EXPECT_EQ(numberedName(QString::fromUtf8(c.name), c.n), QString::fromUtf8(c.numbered))
            << c.name << " " << c.n;

    EXPECT_EQ(watcherName(QStringLiteral("print-1.example"), 4711),
              QStringLiteral("print-1.example-4711"));
    // A folder name of one level, whatever the host calls itself.
    EXPECT_EQ(watcherName(QStringLiteral("a/b c"), 7), QStringLiteral("a_b_c-7"));
    EXPECT_EQ(watcherName(QString(), 7), QStringLiteral("host-7"));
}
