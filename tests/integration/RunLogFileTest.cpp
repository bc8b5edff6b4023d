// SPDX-License-Identifier: GPL-3.0-or-later
// The run log on a disk that fills up: a small file system of the test's own
// (tmpfs, mounted by the test as root), filled until a line no longer fits.

#include "platform/Failure.h"
#include "platform/qt/QtServices.h"
#include "support/RunLogLines.h"
#include "support/TempTree.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <sys/mount.h>
#include <unistd.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {

/** A tmpfs of `size` mounted on a folder of its own while it lives. */
class SmallDisk {
public:
    explicit SmallDisk(const char *size)
    {
        const QByteArray options = QByteArray("size=") + size;
        if (::geteuid() != 0)
            m_why = "mounting a small file system needs root";
        else if (::mount("tmpfs", QFile::encodeName(m_tree.path()).constData(), "tmpfs",
                         MS_NOSUID | MS_NODEV, options.constData()) != 0)
            m_why = "tmpfs could not be mounted: " + std::string(std::strerror(errno));
    }
    ~SmallDisk()
    {
        if (m_why.empty())
            ::umount2(QFile::encodeName(m_tree.path()).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    /** Why there is no disk; empty when it is mounted. */
    const std::string &why() const { return m_why; }
    QString at(const QString &name) const { return m_tree.at(name); }

private:
    TempTree m_tree;
    std::string m_why;
};

/** Fills the disk with one file up to its last free byte; returns that file's path. */
QString fill(const SmallDisk &disk)
{
    const QString path = disk.at(QStringLiteral("filler"));
    QFile filler(path);
    EXPECT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(512, 'x');
    while (filler.write(block) == block.size()) {
    }
    return path;
}

QByteArray line(int n)
{
    return QByteArray("{\"time\":\"2026-01-01T10:00:00.000+00:00\",\"file\":\"/decks/") +
           QByteArray(200, 'd') + QByteArray::number(n) +
           ".pptx\",\"printer\":\"PDF\",\"outcome\":\"printed\"}";
}

} // namespace

// The last line that does not fit leaves nothing behind, the warning names
// the cause, and once there is room again the next line reads as a line.
TEST(RunLogFile, AFullDiskLeavesWholeLinesOnly)
{
    SmallDisk disk("16k");
    if (!disk.why().empty())
        GTEST_SKIP() << disk.why();
    const QString logPath = disk.at(QStringLiteral("run-log.jsonl"));
    FileRunLog log(logPath);
    log.append(line(1)); // the log's first block is taken before the disk is full
    const QString filler = fill(disk);

    QString failure;
    qint64 sizeBefore = 0;
    int written = 1;
    for (int n = 2; n < 100 && failure.isEmpty(); ++n) {
        sizeBefore = QFileInfo(logPath).size();
        try {
            log.append(line(n));
            ++written;
        } catch (const Failure &f) {
            failure = f.description();
        }
    }
    ASSERT_FALSE(failure.isEmpty()) << "the disk never filled";
    EXPECT_EQ(failure, QStringLiteral("The run log %1 could not be written: No space left on "
                                      "device.")
                           .arg(logPath));
    EXPECT_EQ(QFileInfo(logPath).size(), sizeBefore) << "a fragment of the line stayed";
    ASSERT_GT(written, 1) << "no line filled the log's first block: the short write went untried";

    ASSERT_TRUE(QFile::remove(filler));
    log.append(line(1000));
    std::vector<QJsonObject> lines;
    ASSERT_NO_THROW(lines = readRunLog(logPath));
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(written + 1));
}

// What an older program left unfinished stays as it was, and the next line
// still starts a line of its own.
TEST(RunLogFile, ALineIsNeverGluedToAFragment)
{
    TempTree tree;
    const QString logPath = tree.file(QStringLiteral("run-log.jsonl"), line(1) + "\n{\"time\":");
    FileRunLog(logPath).append(line(2));
    QFile file(logPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_EQ(lines.size(), 4); // three lines and the empty text after the last break
    EXPECT_EQ(lines[0], line(1));
    EXPECT_EQ(lines[1], QByteArray("{\"time\":"));
    EXPECT_EQ(lines[2], line(2));
}
