// SPDX-License-Identifier: GPL-3.0-or-later
// Deckrun's own office profiles and the child process, without starting the office.

#ifdef DECKRUN_HAS_UNO

#include "platform/uno/OfficeProcess.h"
#include "platform/Failure.h"
#include "support/TempTree.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace deckrun::uno;
using deckrun::test::TempTree;

namespace {
/** Processes of the group that still run (zombies waiting for their reaper do not count). */
int liveMembers(pid_t group)
{
    int live = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &pid : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[2].toInt() == group && fields[0] != "Z")
            ++live;
    }
    return live;
}
/** A socket bound at `path`, listening or not; its descriptor. */
int boundSocket(const QString &path, bool listening)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray file = QFile::encodeName(path);
    std::memcpy(address.sun_path, file.constData(), static_cast<size_t>(file.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        (listening && ::listen(fd, 1) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}
} // namespace

// An office stopped with its Deckrun leaves its socket files in the temporary
// folder: the next Deckrun on the profile removes them, never a live one.
TEST(OfficeProfile, TakingAProfileRemovesTheSocketsAStoppedOfficeLeft)
{
    TempTree tree;
    const QString root = tree.at(QStringLiteral("office"));
    const QStringList files = OfficeProfile::socketFilesFor(OfficeProfile::slotFolder(root, 0));
    ASSERT_EQ(files.size(), 2);
    const int dead = boundSocket(files[0], false);
    const int live = boundSocket(files[1], true);
    ASSERT_GE(dead, 0);
    ASSERT_GE(live, 0);
    ::close(dead);
    const auto profile = OfficeProfile::acquire(root);
    EXPECT_FALSE(QFile::exists(files[0]));
    EXPECT_TRUE(QFile::exists(files[1]));
    ::close(live);
    QFile::remove(files[1]);
}

TEST(OfficeProfile, TwoDeckrunsNeverShareAProfileOrPipe)
{
    TempTree tree;
    const QString root = tree.at(QStringLiteral("office"));
    QString firstFolder;
    {
        const auto first = OfficeProfile::acquire(root);
        const auto second = OfficeProfile::acquire(root);
        firstFolder = first->folder();
        EXPECT_EQ(first->folder(), OfficeProfile::slotFolder(root, 0));
        EXPECT_NE(first->folder(), second->folder());
        EXPECT_TRUE(first->url().startsWith(QLatin1String("file:///")));
    }
    // Released profiles are taken again, so no folder is made per run.
    EXPECT_EQ(OfficeProfile::acquire(root)->folder(), firstFolder);
    {
        // The cache cleared under a Deckrun whose office runs: its profile stays its own.
        const auto held = OfficeProfile::acquire(root);
        ASSERT_TRUE(QDir(root).removeRecursively());
        EXPECT_NE(OfficeProfile::acquire(root)->folder(), held->folder());
    }
    {
        // A Deckrun on another machine sharing this home holds the first
        // profile's lock file, and no name here says so: the lock decides.
        QFile lock(OfficeProfile::slotFolder(root, 0) + QStringLiteral(".lock"));
        ASSERT_TRUE(QDir().mkpath(root) && lock.open(QIODevice::WriteOnly));
        lock.write("4711\ndeckrun\nanother-machine\n");
        lock.close();
        EXPECT_EQ(OfficeProfile::acquire(root)->folder(), OfficeProfile::slotFolder(root, 1));
    }
    // Nobody can know an office's pipe before it starts.
    EXPECT_NE(newPipeName(), newPipeName());
}

TEST(OfficeProfile, SeedsTheLastVersionOnceAndNeverOverwrites)
{
    TempTree tree;
    const auto profile = OfficeProfile::acquire(tree.at(QStringLiteral("office")));
    const QString file = profile->folder() + QStringLiteral("/user/registrymodifications.xcu");
    profile->seed(QStringLiteral("7.4"));
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll().contains(
        "<prop oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>7.4</value></prop>"));
    written.close();

    tree.file(QStringLiteral("office/profile/user/registrymodifications.xcu"), "the office's own");
    profile->seed(QStringLiteral("7.5"));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("the office's own"));
}

TEST(OfficeInstallation, ReadsTheBrandedProductName)
{
    TempTree tree;
    const QString program = tree.folder(QStringLiteral("lo/program"));
    OfficeInstallation missing(program);
    EXPECT_FALSE(missing.usable());
    EXPECT_EQ(missing.productName(), QStringLiteral("LibreOffice"));
    EXPECT_EQ(missing.setupVersion(), QString());

    // The schema declares the property empty; the branding gives the value later.
    tree.file(QStringLiteral("lo/share/registry/main.xcd"),
              "<prop oor:name=\"ooName\" oor:type=\"xs:string\" oor:nillable=\"false\">\n  "
              "<value/>\n</prop>\n"
              "<prop oor:name=\"ooName\">\n  <value>Collabora Office</value>\n</prop>\n"
              "<prop oor:name=\"ooSetupVersion\">\n  <value>7.4</value>\n</prop>\n");
    EXPECT_EQ(missing.productName(), QStringLiteral("Collabora Office"));
    EXPECT_EQ(missing.setupVersion(), QStringLiteral("7.4"));
}

TEST(OfficeChild, StopEndsTheWholeProcessGroup)
{
    // A launcher that leaves a child of its own behind, as the office's launcher does.
    OfficeChild child(QStringLiteral("/bin/sh"),
                      {QStringLiteral("-c"), QStringLiteral("sleep 30 & exec sleep 30")});
    const pid_t group = child.pid();
    ASSERT_GT(group, 0);
    EXPECT_TRUE(child.running());
    EXPECT_FALSE(child.waitForExit(0.05));
    child.stop(0.5);
    EXPECT_FALSE(child.running());
    // Killed at once; on a busy machine the kernel may take a moment to finish them off.
    for (int i = 0; i < 100 && liveMembers(group) > 0; ++i)
        QThread::msleep(20);
    EXPECT_EQ(liveMembers(group), 0);
}

// Started by a parent that ignores SIGCHLD (the kernel would reap the child):
// the exit status with which the office asks for a restart still arrives.
TEST(OfficeChild, ItsExitStatusArrivesWhateverTheParentDidWithSigchld)
{
    struct sigaction before {};
    ::sigaction(SIGCHLD, nullptr, &before);
    ::signal(SIGCHLD, SIG_IGN);
    OfficeChild child(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exit 81")});
    EXPECT_TRUE(child.waitForExit(10.0));
    EXPECT_EQ(child.exitStatus(), 81);
    EXPECT_TRUE(asksForRestart(child.exitStatus()));
    ::sigaction(SIGCHLD, &before, nullptr);
}

TEST(OfficeChild, AProgramThatCannotStartFails)
{
    EXPECT_THROW(OfficeChild(QStringLiteral("/nonexistent/soffice.bin"), {}), deckrun::Failure);
}

#endif // DECKRUN_HAS_UNO
