// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/queue/FolderWalk.h"
#include "core/common/ErrorReport.h"
#include "core/common/OneLine.h"
#include "core/queue/QueueModel.h"
#include "gui/QueueHandlers.h"
#include "support/FakePlatform.h"
#include "support/TempTree.h"
#include "support/Unprivileged.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {

/** The real file system, except that listing chosen folders fails with a code. */
class FailingFileSystem final : public FileSystem {
public:
    explicit FailingFileSystem(std::unique_ptr<FileSystem> real) : m_real(std::move(real)) {}
    bool fileIsPresent(const QString &p) override { return m_real->fileIsPresent(p); }
    int attributes(const QString &p) override { return m_real->attributes(p); }
    bool isExistingFile(const QString &p) override { return m_real->isExistingFile(p); }
    QStringList listFiles(const QString &f, const QString &p) override
    {
        return m_real->listFiles(f, p);
    }
    std::vector<SubFolder> subFolders(const QString &folder,
                                      std::vector<SubFolder> *partial) override
    {
        std::vector<SubFolder> all = m_real->subFolders(folder, partial);
        if (!failing.contains(folder))
            return all;
        if (partial && !all.empty())
            partial->assign(all.begin(), all.begin() + 1); // one read before the failure
        throw Failure(QStringLiteral("Permission denied"), failing.value(folder));
    }
    bool isRootFolder(const QString &f) override { return m_real->isRootFolder(f); }
    std::optional<FolderIdentity> folderIdentity(const QString &f) override
    {
        return m_real->folderIdentity(f);
    }
    QHash<QString, int> failing; // folder (with its trailing separator) -> code

private:
    std::unique_ptr<FileSystem> m_real;
};

/** A queue of its own for a walk run without the window. */
struct WalkTarget final : QueueTarget {
    Platform &platform() override { return fake.platform; }
    QueueModel &queue() override { return rows; }
    FakePlatform fake;
    QueueModel rows;
};

QStringList relative(const TempTree &tree, const QStringList &paths)
{
    QStringList out;
    for (const QString &p : paths)
        out << p.mid(tree.path().size());
    return out;
}

} // namespace

TEST(FolderWalk, LevelOrder)
{
    struct Case {
        bool recurse;
        QStringList expected;
    };
    // The POSIX listing yields sub-folders sorted by name, so A comes before B.
    for (const Case &c :
         {Case{true, {"/R/", "/R/A/", "/R/B/", "/R/A/A1/", "/R/A/A2/", "/R/B/B1/", "/R/B/B1/C/"}},
          Case{false, {"/R/", "/R/A/", "/R/B/"}}}) {
        TempTree tree;
        for (const char *f : {"R/B/B1/C", "R/A/A2", "R/A/A1"})
            tree.folder(QString::fromLatin1(f));
        FakePlatform fake;
        QStringList folders{tree.at(QStringLiteral("R/"))};
        GetSubDirectories2016(fake.platform, folders, c.recurse);
        EXPECT_EQ(relative(tree, folders), c.expected) << c.recurse;
        EXPECT_TRUE(fake.dialogs->messages.empty());
    }
}

TEST(FolderWalk, TheWindowAnswersWhileTheTreeIsRead)
{
    TempTree tree;
    for (const char *f : {"R/B/B1/C", "R/A/A2", "R/A/A1"})
        tree.folder(QString::fromLatin1(f));
    FakePlatform fake;
    // A click that arrives as the walk begins is handled during the walk (only
    // the walk's own turns let events in here), and the window gets its turn
    // at least once for every folder, so a deep tree never freezes it.
    bool clickHandled = false;
    QTimer::singleShot(0, [&] { clickHandled = true; });
    fake.events->pumpAction = [] { QCoreApplication::processEvents(); };
    QStringList folders{tree.at(QStringLiteral("R/"))};
    GetSubDirectories2016(fake.platform, folders, true);
    EXPECT_TRUE(clickHandled);
    EXPECT_GE(fake.events->pumps, static_cast<int>(folders.size()));
}

TEST(FolderWalk, ListingFailuresDropTheFolderSilently)
{
    struct Case {
        int code;
        bool dropped;
    };
    for (const Case c : {Case{70, true}, Case{76, true}, Case{75, false}}) {
        TempTree tree;
        for (const char *f : {"R", "R/A", "R/A/A1", "R/B", "R/B/B1", "R/B/B2", "R/C"})
            tree.file(QString::fromLatin1(f) + QStringLiteral("/x.ppt"));
        WalkTarget target;
        FakePlatform &fake = target.fake;
        auto failing = std::make_unique<FailingFileSystem>(std::move(fake.platform.files));
        failing->failing.insert(tree.at(QStringLiteral("R/B/")), c.code);
        fake.platform.files = std::move(failing);
        QStringList folders{tree.at(QStringLiteral("R/"))};
        GetSubDirectories2016(fake.platform, folders, true);
        QStringList expected{"/R/", "/R/A/", "/R/C/", "/R/A/A1/", "/R/B/B1/"};
        if (!c.dropped)
            expected.insert(2, QStringLiteral("/R/B/"));
        // B1 was read before the failure and is still walked; B2 was never read.
        EXPECT_EQ(relative(tree, folders), expected) << c.code;
        // Adding the tree walks the same folders; one kept still has its own files listed.
        AddFolderTree(target, tree.at(QStringLiteral("R")), QStringLiteral("*.ppt"));
        for (QString &folder : expected)
            folder += QStringLiteral("x.ppt");
        EXPECT_EQ(under(tree, target.rows.rows()), expected) << c.code;
        EXPECT_TRUE(fake.dialogs->messages.empty());
    }
}

TEST(FolderWalk, PermissionDeniedFolderContributesNothing)
{
    TempTree tree;
    tree.file(QStringLiteral("R/A/a.ppt"));
    tree.file(QStringLiteral("R/B/b.ppt"));
    tree.file(QStringLiteral("R/B/inner/c.ppt"));
    tree.file(QStringLiteral("R/C/d.ppt"));
    ASSERT_EQ(::chmod(QFile::encodeName(tree.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(tree.at(QStringLiteral("R/B"))).constData(), 0), 0);
    const QString got = asUnprivilegedUser([&] {
        FakePlatform fake;
        QStringList folders{tree.at(QStringLiteral("R/"))};
        GetSubDirectories2016(fake.platform, folders, true);
        QStringList out = relative(tree, folders);
        out << QString::number(GetFilesInFolder(*fake.platform.files,
                                                tree.at(QStringLiteral("R/B")),
                                                QStringLiteral("*.*"))
                                   .size()) +
                   QStringLiteral(" files in R/B");
        out << QString::number(fake.dialogs->messages.size()) + QStringLiteral(" messages");
        return out.join(QLatin1Char('\n'));
    });
    EXPECT_EQ(got.toStdString(), "/R/\n/R/A/\n/R/C/\n0 files in R/B\n0 messages");
}

TEST(FolderWalk, LinkLoopsWalkEachRealFolderOnce)
{
    TempTree tree;
    tree.file(QStringLiteral("R/top.ppt"));
    tree.file(QStringLiteral("R/A/a.ppt"));
    tree.folder(QStringLiteral("R/B"));
    ASSERT_EQ(::symlink(QFile::encodeName(tree.at(QStringLiteral("R"))).constData(),
                        QFile::encodeName(tree.at(QStringLiteral("R/A/up"))).constData()),
              0);
    ASSERT_EQ(::symlink("../A", QFile::encodeName(tree.at(QStringLiteral("R/B/toA"))).constData()),
              0);
    FakePlatform fake;
    QStringList folders{tree.at(QStringLiteral("R/"))};
    GetSubDirectories2016(fake.platform, folders, true);
    EXPECT_EQ(relative(tree, folders), (QStringList{"/R/", "/R/A/", "/R/B/"}));
}

TEST(FolderWalk, VanishingFoldersAreSkipped)
{
    TempTree tree;
    for (const char *f : {"R/A/A1", "R/B/B1/C", "R/D"})
        tree.folder(QString::fromLatin1(f));
    FakePlatform fake;
    int pumps = 0;
    fake.events->pumpAction = [&] {
        if (++pumps == 3) // while R's sub-folders are being read
            QDir(tree.at(QStringLiteral("R/B"))).removeRecursively();
    };
    QStringList folders{tree.at(QStringLiteral("R/"))};
    GetSubDirectories2016(fake.platform, folders, true);
    EXPECT_EQ(relative(tree, folders), (QStringList{"/R/", "/R/A/", "/R/D/", "/R/A/A1/"}));
    EXPECT_TRUE(fake.dialogs->messages.empty());
}

TEST(FolderWalk, SubFolderNameFilters)
{
    TempTree tree;
    tree.folder(QStringLiteral("R/ok"));
    tree.folder(QStringLiteral("R/what?"));
    tree.folder(QStringLiteral("R/ctl") + QChar(0x85));
    tree.folder(QStringLiteral("R/.hidden"));
    tree.folder(QStringLiteral("R/") +
                QString(250, QLatin1Char('x'))); // the path passes 260 below it
    tree.file(QStringLiteral("R/") + QString(250, QLatin1Char('x')) +
              QStringLiteral("/deep/f.ppt"));
    FakePlatform fake;
    QStringList folders{tree.at(QStringLiteral("R/"))};
    GetSubDirectories2016(fake.platform, folders, true);
    const QStringList got = relative(tree, folders);
    EXPECT_TRUE(got.contains(QStringLiteral("/R/ok/")));
    EXPECT_TRUE(got.contains(QStringLiteral("/R/.hidden/")));
    EXPECT_FALSE(got.contains(QStringLiteral("/R/what?/")));
    EXPECT_FALSE(got.contains(QStringLiteral("/R/ctl") + QChar(0x85) + QLatin1Char('/')));
    for (const QString &f : folders)
        EXPECT_FALSE(f.endsWith(QStringLiteral("/deep/")))
            << "a folder at 260 characters is not searched";
}

// A folder whose path (with its trailing separator) has 260 characters or
// more is not searched; one character less and it is.
class FolderPathLength : public testing::TestWithParam<std::pair<int, bool>> {};

TEST_P(FolderPathLength, LongPathsAreNotSearched)
{
    const auto [length, searched] = GetParam();
    TempTree tree;
    const QString root = tree.at(QStringLiteral("R/"));
    const QString name(length - static_cast<int>(root.size()) - 1, QLatin1Char('x'));
    tree.folder(QStringLiteral("R/") + name + QStringLiteral("/below"));
    ASSERT_EQ((root + name + QLatin1Char('/')).size(), length);
    FakePlatform fake;
    QStringList folders{root};
    GetSubDirectories2016(fake.platform, folders, true);
    EXPECT_EQ(folders.contains(root + name + QStringLiteral("/below/")), searched)
        << length << " characters";
}

INSTANTIATE_TEST_SUITE_P(Edge, FolderPathLength,
                         testing::Values(std::pair{259, true}, std::pair{260, false}));

namespace {

/** Makes `link` a symbolic link to `target`. */
void link(const QString &target, const QString &link)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()),
              0);
}

} // namespace

// What the walk leaves out for a reason other than the pattern and its
// lock-file rule is named to whoever asks (batch mode); the window asks not.
TEST(FolderWalk, WhatIsLeftOutIsNamedWithWhy)
{
    TempTree tree;
    for (const char *f : {"R/good.ppt", "R/notes.txt", "R/~lock.ppt", "R/what?/x.ppt",
                          "R/closed/c.ppt", "R/listed/d.ppt", "R/A/a.ppt"})
        tree.file(QString::fromLatin1(f));
    // A folder whose path stays below 260 characters, with one below it that does not.
    const QString deep =
        QStringLiteral("R/") + QString(259 - tree.path().size() - 4, QLatin1Char('x'));
    tree.file(deep + QStringLiteral("/deep/f.ppt"));
    tree.file(deep + QStringLiteral("/deep/below/g.ppt"));
    // Names in Latin-1 on a system that reads them as UTF-8.
    const QByteArray root = QFile::encodeName(tree.at(QStringLiteral("R")));
    tree.file(QStringLiteral("R/ok.ppt"));
    {
        const QByteArray name = root + "/Pr\xe4sentation.ppt";
        const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
        ASSERT_EQ(::mkdir((root + "/Caf\xe9").constData(), 0755), 0);
    }
    ASSERT_EQ(::mkfifo(QFile::encodeName(tree.at(QStringLiteral("R/pipe.ppt"))).constData(), 0644),
              0);
    link(QStringLiteral("gone"), tree.at(QStringLiteral("R/broken.ppt")));
    link(tree.at(QStringLiteral("R")), tree.at(QStringLiteral("R/A/up")));
    auto mode = [&](const char *relative, mode_t m) {
        ASSERT_EQ(::chmod(QFile::encodeName(tree.at(QString::fromLatin1(relative))).constData(), m),
                  0);
    };
    mode("", 0755);
    mode("R/closed", 0);
    mode("R/listed", 0444); // listed, not entered

    const struct {
        const char *label;
        bool asked; // a batch run asks; the window does not
    } cases[] = {{"Batch", true}, {"Window", false}};
    for (const auto &c : cases) {
        const QString got = asUnprivilegedUser([&] {
            WalkTarget target;
            QStringList out;
            StepRunner steps(*target.fake.platform.dialogs, AddFolderLocation());
            const LeftOutSink named = [&](const QString &path, const QString &why) {
                out << oneLine(path.mid(tree.path().size())) + QStringLiteral(": ") + why;
            };
            AddFolderTree(target, tree.at(QStringLiteral("R")), QStringLiteral("*.ppt"), steps,
                          c.asked ? named : LeftOutSink());
            out << under(tree, target.rows.rows());
            out << QString::number(target.fake.dialogs->messages.size()) +
                       QStringLiteral(" messages");
            return out.join(QLatin1Char('\n'));
        });
        QStringList expected;
        if (c.asked)
            expected = QStringList{
                "/R/broken.ppt: it is a link whose target cannot be reached: No such file or "
                "directory",
                "/R/pipe.ppt: it is a named pipe (FIFO), not a file",
                "/R/Pr\\xE4sentation.ppt: its name is not valid UTF-8 text",
                "/R/Caf\\xE9/: its name is not valid UTF-8 text",
                "/R/what?/: its name holds a control character or \"?\"",
                "/R/closed/: it cannot be read: permission denied",
                "/R/listed/: its files cannot be opened: the folder may be listed but not entered",
                "/R/A/up/: it leads to a folder walked already, as " + tree.path() + "/R/",
                "/" + deep +
                    "/deep/below/: the folder above it has a path of 260 characters or more, and "
                    "is not searched",
            };
        // The folder at 260 characters still has its own files queued.
        expected << QStringList{"/R/good.ppt", "/R/ok.ppt", "/R/A/a.ppt",
                                "/" + deep + "/deep/f.ppt", "0 messages"};
        EXPECT_EQ(got.toStdString(), expected.join(QLatin1Char('\n')).toStdString()) << c.label;
    }
    // Qt cannot remove what it cannot name.
    EXPECT_EQ(::unlink((root + "/Pr\xe4sentation.ppt").constData()), 0);
    EXPECT_EQ(::rmdir((root + "/Caf\xe9").constData()), 0);
}

TEST(FilesInFolder, ListsFilesOnlyWithHiddenOnesInNameOrder)
{
    TempTree tree;
    tree.file(QStringLiteral("F/b.ppt"));
    tree.file(QStringLiteral("F/A.PPTX"));
    tree.file(QStringLiteral("F/.hidden.ppt"));
    tree.file(QStringLiteral("F/c.txt"));
    tree.folder(QStringLiteral("F/folder.ppt"));
    ASSERT_EQ(
        ::symlink("b.ppt", QFile::encodeName(tree.at(QStringLiteral("F/link.ppt"))).constData()),
        0);
    ASSERT_EQ(
        ::symlink("gone", QFile::encodeName(tree.at(QStringLiteral("F/broken.ppt"))).constData()),
        0);
    FakePlatform fake;
    FileSystem &fs = *fake.platform.files;
    EXPECT_EQ(GetFilesInFolder(fs, tree.at(QStringLiteral("F")), QStringLiteral("*.ppt")),
              (QStringList{".hidden.ppt", "A.PPTX", "b.ppt", "link.ppt"}));
    EXPECT_EQ(GetFilesInFolder(fs, tree.at(QStringLiteral("F/")), QStringLiteral("*.*")).size(), 5);
    EXPECT_TRUE(
        GetFilesInFolder(fs, tree.at(QStringLiteral("missing")), QStringLiteral("*.*")).isEmpty());
    EXPECT_TRUE(IsExistingFile(fs, tree.at(QStringLiteral("F/b.ppt"))));
    EXPECT_FALSE(IsExistingFile(fs, tree.at(QStringLiteral("F/folder.ppt"))));
    EXPECT_FALSE(IsExistingFile(fs, tree.at(QStringLiteral("F/broken.ppt"))));
    EXPECT_FALSE(IsExistingFile(fs, QString()));
}

// The listing order is the names' order with letter case ignored, then the
// exact text; the fast comparison of plain ASCII names must agree with Qt's
// case folding wherever names differ: punctuation between the cases, long
// names that share their first sixteen bytes, non-ASCII letters.
TEST(FilesInFolder, NameOrderIsCaseFoldedThenExact)
{
    TempTree tree;
    const QStringList names{"b.ppt",
                            "B.ppt",
                            "_x.ppt",
                            "[x.ppt",
                            "a.ppt",
                            "A.PPT",
                            "abc",
                            "ABC",
                            "abcd",
                            "Z.ppt",
                            "zz.ppt",
                            "~lock.ppt",
                            "file 10.ppt",
                            "file 9.ppt",
                            "file 100.ppt",
                            "0.ppt",
                            "a long name of a deck 1.ppt",
                            "A LONG NAME OF A DECK 2.ppt",
                            "a long name of a deck 10.ppt",
                            "a long name of a dECK 1.ppt",
                            "a long name of ",
                            "a long name of a",
                            "ébauche.ppt",
                            "Éclair.ppt",
                            "elan.ppt",
                            "zèbre.ppt",
                            "Zebra.ppt",
                            "日本.ppt"};
    for (const QString &n : names)
        tree.file(QStringLiteral("F/") + n);
    QStringList expected = names;
    std::sort(expected.begin(), expected.end(), [](const QString &a, const QString &b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    FakePlatform fake;
    FileSystem &fs = *fake.platform.files;
    EXPECT_EQ(GetFilesInFolder(fs, tree.at(QStringLiteral("F")), QStringLiteral("*.*")), expected);
    const FolderListing listing = fs.readFolder(tree.at(QStringLiteral("F/")), QStringLiteral("*"),
                                                -1, nullptr, QStringLiteral("P/"));
    QStringList prefixed;
    for (const QString &n : expected)
        prefixed << QStringLiteral("P/") + n;
    EXPECT_EQ(listing.files, prefixed);
}

namespace {

struct LinkRow {
    const char *name;
    LinksFollowed links;
    QStringList queued;
    friend void PrintTo(const LinkRow &row, std::ostream *os) { *os << row.name; }
};

class WalkLinks : public testing::TestWithParam<LinkRow> {};

} // namespace

// The window follows every link of the user's own tree; --print only links
// that the owner of their folder made to what that owner has; a watched
// folder none. Kills a walk that follows a link another user made, one that
// looks at the link's owner alone (not what it leads to), and a window's walk
// that no longer follows the user's own links.
TEST_P(WalkLinks, AreFollowedAsTheWalkSays)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "links of another owner take root to make";
    TempTree tree;
    const auto link = [&](const QString &to, const char *at, uid_t owner) {
        const QByteArray path = QFile::encodeName(tree.at(QString::fromLatin1(at)));
        ASSERT_EQ(::symlink(QFile::encodeName(to).constData(), path.constData()), 0);
        ASSERT_EQ(::lchown(path.constData(), owner, owner), 0);
    };
    tree.file(QStringLiteral("R/real.ppt"));
    tree.file(QStringLiteral("elsewhere/theirs/x.ppt"));
    ASSERT_EQ(::chown(qPrintable(tree.at(QStringLiteral("elsewhere/theirs"))), 65534, 65534), 0);
    link(tree.at(QStringLiteral("R/real.ppt")), "R/mine.ppt", 0);
    link(tree.file(QStringLiteral("elsewhere/secret.ppt")), "R/byNobody.ppt", 65534);
    link(tree.at(QStringLiteral("elsewhere/theirs")), "R/theirFolder", 0);
    WalkTarget target;
    StepRunner steps(*target.fake.platform.dialogs, AddFolderLocation());
    AddFolderTree(target, tree.at(QStringLiteral("R")), QStringLiteral("*.ppt"), steps, {},
                  GetParam().links);
    EXPECT_EQ(under(tree, target.rows.rows()), GetParam().queued);
}

INSTANTIATE_TEST_SUITE_P(
    FolderWalk, WalkLinks,
    testing::Values(LinkRow{"Always",
                            LinksFollowed::Always,
                            {"/R/byNobody.ppt", "/R/mine.ppt", "/R/real.ppt",
                             "/R/theirFolder/x.ppt"}},
                    LinkRow{"SameOwner", LinksFollowed::SameOwner, {"/R/mine.ppt", "/R/real.ppt"}},
                    LinkRow{"Never", LinksFollowed::Never, {"/R/real.ppt"}}),
    [](const testing::TestParamInfo<LinkRow> &row) { return std::string(row.param.name); });
