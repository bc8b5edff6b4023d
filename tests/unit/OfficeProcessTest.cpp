// SPDX-License-Identifier: GPL-3.0-or-later
// Deckrun's own office profiles and the child process, without starting the office.

#ifdef DECKRUN_HAS_UNO

#include "platform/uno/OfficeProcess.h"
#include "platform/Failure.h"
#include "platform/uno/OfficeWorkspace.h"
#include "support/TempTree.h"
#include "support/Unprivileged.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
        OfficeChild office(QStringLiteral("/bin/sh"),
                           {QStringLiteral("-c"), QStringLiteral("sleep 30"), QStringLiteral("sh"),
                            QStringLiteral("-env:UserInstallation=") + held->url()});
        ASSERT_TRUE(QDir(root).removeRecursively());
        EXPECT_NE(OfficeProfile::acquire(root)->folder(), held->folder());
    }
    // Nobody can know an office's pipe before it starts.
    EXPECT_NE(newPipeName(), newPipeName());
}

// Another user binds the names Deckrun once held its profiles by: that takes
// no profile from this user's Deckrun. Kills holding profiles by names in the
// abstract namespace, where anyone may bind them first.
TEST(OfficeProfile, AnotherUsersBoundNamesTakeNoProfile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "another user needs a test run as root";
    TempTree tree;
    const QString root = tree.at(QStringLiteral("office"));
    deckrun::test::UnprivilegedPeer names([&] {
        for (int slot = 0; slot < 8; ++slot) {
            const QByteArray name =
                "deckrun-profile-0-" +
                QCryptographicHash::hash(OfficeProfile::slotFolder(root, slot).toUtf8(),
                                         QCryptographicHash::Sha256)
                    .toHex()
                    .left(40);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path + 1, name.constData(), static_cast<size_t>(name.size()));
            ::bind(::socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr *>(&address),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size()));
        }
        return [] { return QString(); };
    });
    EXPECT_EQ(OfficeProfile::acquire(root)->folder(), OfficeProfile::slotFolder(root, 0));
}

// Deckrun's settings go into the profile at every start (an older profile
// would go on loading linked content), the office's own stay, and the last
// version is added only where there is none. Kills seeding once only,
// dropping a setting, and overwriting the office's own.
TEST(OfficeProfile, SeedsDeckrunsSettingsAndKeepsTheOfficesOwn)
{
    const auto item = [](const char *path, const QByteArray &body) {
        return "<item oor:path=\"" + QByteArray(path) + "\">" + body + "</item>\n";
    };
    const QByteArray own = item("/org.openoffice.Office.Common/Misc",
                                "<prop oor:name=\"FirstRun\"><value>false</value></prop>");
    const QByteArray blocked = "<prop oor:name=\"BlockUntrustedRefererLinks\" oor:op=\"fuse\">"
                               "<value>true</value></prop>";
    const QByteArray removed = "<node oor:name=\"Provider3\" oor:op=\"remove\"/>";
    const QByteArray version = "<prop oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>";
    const struct {
        const char *label;
        QByteArray before;
        QList<QByteArray> kept, gone;
    } cases[] = {
        {"New", "", {blocked, removed, version + "7.4<"}, {}},
        {"TheOfficesOwnAndOneUndone",
         own + item("/org.openoffice.Setup/Product", version + "7.3</value></prop>") +
             item("/org.openoffice.Office.Common/Security/Scripting",
                  "<prop oor:name=\"BlockUntrustedRefererLinks\"><value>false</value></prop>"),
         {own.trimmed(), blocked, removed, version + "7.3<"},
         {version + "7.4<", "BlockUntrustedRefererLinks\"><value>false"}},
    };
    for (const auto &c : cases) {
        TempTree tree;
        const auto profile = OfficeProfile::acquire(tree.at(QStringLiteral("office")));
        if (!c.before.isEmpty())
            tree.file(QStringLiteral("office/profile/user/registrymodifications.xcu"), c.before);
        profile->seed(QStringLiteral("7.4"), {QStringLiteral("Provider3")});
        QFile written(profile->folder() + QStringLiteral("/user/registrymodifications.xcu"));
        ASSERT_TRUE(written.open(QIODevice::ReadOnly)) << c.label;
        const QByteArray text = written.readAll();
        for (const QByteArray &k : c.kept)
            EXPECT_TRUE(text.contains(k)) << c.label << ": " << k.toStdString();
        for (const QByteArray &g : c.gone)
            EXPECT_FALSE(text.contains(g)) << c.label << ": " << g.toStdString();
    }
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

// What the office's process is kept from, each as far as the system gives
// it (the child says what it got); a script in its place exits 0 when kept.
// Kills dropping the namespace, the ruleset, the memory bound or the change
// of user, or setting them wrongly (another rlimit, a folder left out).
TEST(OfficeChild, IsKeptFromWhatItsConfinementNames)
{
    TempTree tree;
    const QString outside = tree.file(QStringLiteral("outside.txt"));
    const QString inside = tree.file(QStringLiteral("workspace/inside.txt"));
    const QString rootOnly = tree.file(QStringLiteral("root-only.txt"));
    ::chmod(QFile::encodeName(tree.path()).constData(), 0711);
    ::chmod(QFile::encodeName(rootOnly).constData(), 0600);
    const QString ours = QFile::symLinkTarget(QStringLiteral("/proc/self/ns/net"));
    OfficeConfinement files = officeConfinement(QStringLiteral("/usr/lib/libreoffice/program"),
                                                tree.at(QStringLiteral("profile")),
                                                tree.at(QStringLiteral("workspace")), true);
    files.network = false;
    OfficeConfinement user, network, memory;
    user.runAs = OfficeConfinement::User{65534, 65534};
    network.network = true;
    memory.memoryBytes = 512 << 20;
    const struct {
        const char *label;
        OfficeConfinement confinement;
        int got;
        QString script;
    } cases[] = {
        {"Network", network, NetworkConfined,
         QStringLiteral("[ \"$(readlink /proc/self/ns/net)\" != '%1' ]").arg(ours)},
        {"Files", files, FilesConfined,
         QStringLiteral("! cat '%1' && cat '%2'").arg(outside, inside)},
        {"Memory", memory, 0,
         QStringLiteral("[ \"$(ulimit -d)\" = 524288 ] && [ \"$(ulimit -v)\" = unlimited ]")},
        {"User", user, UserChanged,
         QStringLiteral("[ \"$(id -u)\" = 0 ] && ! cat '%1'").arg(rootOnly)},
    };
    for (const auto &c : cases) {
        OfficeChild child(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), c.script}, {},
                          c.confinement);
        if ((child.confined() & c.got) != c.got)
            continue; // the system does not give it
        ASSERT_TRUE(child.waitForExit(10.0)) << c.label;
        EXPECT_EQ(child.exitStatus(), 0) << c.label;
    }
}

// At the first start, what earlier Deckruns left goes: a workspace nobody
// holds, an old print folder; never a workspace a live Deckrun holds, a link,
// or a print folder of the last hour. Kills removing by name alone, or
// following a link.
TEST(OfficeWorkspace, RemovesOnlyWhatIsLeftOver)
{
    TempTree tree;
    const QString base = tree.path();
    auto live = OfficeWorkspace::make(base);
    tree.file(QStringLiteral("deckrun-office-killed/.lock"));
    const QString old = tree.folder(QStringLiteral("deckrun-print-old"));
    const QString fresh = tree.folder(QStringLiteral("deckrun-print-new"));
    const QString target = tree.file(QStringLiteral("elsewhere/keep.txt"));
    QFile::link(tree.at(QStringLiteral("elsewhere")),
                tree.at(QStringLiteral("deckrun-office-link")));
    const timespec hoursAgo[2] = {{::time(nullptr) - 7200, 0}, {::time(nullptr) - 7200, 0}};
    for (const QString &aged : {old, tree.at(QStringLiteral("elsewhere"))})
        ::utimensat(AT_FDCWD, QFile::encodeName(aged).constData(), hoursAgo, 0);

    EXPECT_EQ(OfficeWorkspace::removeLeftovers(base), 2); // the killed Deckrun's, the old job's
    for (const QString &kept :
         {live->path(), fresh, target, tree.at(QStringLiteral("deckrun-office-link"))})
        EXPECT_TRUE(QFileInfo::exists(kept)) << kept.toStdString();
    const QString used = live->path();
    live.reset();
    EXPECT_FALSE(QFileInfo::exists(used)) << "a workspace outlived its office";
}

TEST(OfficeChild, AProgramThatCannotStartFails)
{
    EXPECT_THROW(OfficeChild(QStringLiteral("/nonexistent/soffice.bin"), {}), deckrun::Failure);
}

#endif // DECKRUN_HAS_UNO
