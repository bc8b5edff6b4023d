// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/queue/FolderWalk.h"
#include "core/queue/QueueModel.h"
#include "gui/Form1.h"
#include "gui/Handlers.h"
#include "gui/QueueView.h"
#include "support/FakePlatform.h"
#include "support/Messages.h"
#include "support/TempTree.h"
#include "support/Unprivileged.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {

// R/a.ppt, R/~lock.ppt, R/x~y.ppt, R/.hidden.ppt (writable: value 34),
// R/.kept.ppt (read-only: 35), R/notes.txt, R/Sub/deck.PPTX, R/Sub/b.ppt
void buildTree(TempTree &tree)
{
    for (const char *f : {"R/a.ppt", "R/~lock.ppt", "R/x~y.ppt", "R/.hidden.ppt", "R/.kept.ppt",
                          "R/notes.txt", "R/Sub/deck.PPTX", "R/Sub/b.ppt"})
        tree.file(QString::fromLatin1(f));
    ::chmod(QFile::encodeName(tree.at(QStringLiteral("R/.kept.ppt"))).constData(), 0444);
}

struct ExtensionCase {
    const char *label;
    const char *answer; // nullptr: cancel
    bool browse;        // a folder is chosen
    std::vector<const char *> rows;
    const char *stored; // "Extension" afterwards; nullptr: never written
    friend void PrintTo(const ExtensionCase &row, std::ostream *os) { *os << row.label; }
};

class AddAllInFolder : public testing::TestWithParam<ExtensionCase> {};

// Rows go by their name in test listings; each prints as its name, never as bytes.
constexpr auto RowName = [](const auto &row) { return std::string(row.param.label); };

} // namespace

TEST_P(AddAllInFolder, AnswersAndRows)
{
    const ExtensionCase c = GetParam();
    TempTree tree;
    buildTree(tree);
    FakePlatform fake;
    fake.settings->values.insert(QStringLiteral("LastFolder"), QStringLiteral("/somewhere"));
    Form1 form(fake.platform);
    if (c.answer)
        fake.dialogs->inputAnswers.push_back(QString::fromUtf8(c.answer));
    if (c.browse)
        fake.dialogs->folderAnswers.push_back(tree.at(QStringLiteral("R")));
    int busyPumps = 0;
    fake.events->pumpAction = [&] { busyPumps += form.mousePointer() == pointer::Busy; };

    form.PushButton2->click();

    ASSERT_EQ(fake.dialogs->inputPrompts.size(), 1);
    EXPECT_EQ(
        fake.dialogs->inputPrompts[0],
        QStringLiteral("Enter file extension to load:\r\r(* for all files, txt for all txt files, "
                       "doc for all doc files, etc.)"));
    EXPECT_EQ(fake.dialogs->inputDefaults[0], QStringLiteral("ppt"));
    QStringList expected;
    for (const char *r : c.rows)
        expected << QString::fromUtf8(r);
    EXPECT_EQ(under(tree, form.queue().rows()), expected);
    if (c.stored)
        EXPECT_EQ(fake.settings->writes,
                  QStringList{QStringLiteral("Extension=") + QString::fromUtf8(c.stored)});
    else
        EXPECT_TRUE(fake.settings->writes.isEmpty());
    const bool answered = c.answer && *c.answer;
    EXPECT_EQ(fake.dialogs->folderTitles.size(), answered ? 1 : 0);
    if (answered) {
        EXPECT_EQ(fake.dialogs->folderTitles[0], QStringLiteral("Please select folder:"));
        EXPECT_EQ(fake.dialogs->folderInitials[0], QStringLiteral("/somewhere"));
    }
    EXPECT_EQ(busyPumps > 0, c.browse && answered);
    EXPECT_EQ(form.mousePointer(), pointer::Default);
    EXPECT_TRUE(fake.dialogs->messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Walker, AddAllInFolder,
    testing::Values(ExtensionCase{"DefaultPpt",
                                  "ppt",
                                  true,
                                  {"/R/.kept.ppt", "/R/a.ppt", "/R/x~y.ppt", "/R/Sub/b.ppt",
                                   "/R/Sub/deck.PPTX"},
                                  "ppt"},
                    ExtensionCase{"Star",
                                  "*",
                                  true,
                                  {"/R/.kept.ppt", "/R/a.ppt", "/R/notes.txt", "/R/x~y.ppt",
                                   "/R/Sub/b.ppt", "/R/Sub/deck.PPTX"},
                                  "*"},
                    ExtensionCase{"LeadingDot", ".ppt", true, {}, ".ppt"},
                    ExtensionCase{"Txt", "TXT", true, {"/R/notes.txt"}, "TXT"},
                    ExtensionCase{"Empty", "", true, {}, nullptr},
                    ExtensionCase{"Cancelled", nullptr, true, {}, nullptr},
                    ExtensionCase{"BrowserCancelled", "pptx", false, {}, "pptx"}),
    RowName);

TEST(AddAllInFolder, StoredAnswerIsNextDefaultAndAddingTwiceQueuesTwice)
{
    TempTree tree;
    tree.file(QStringLiteral("R/one.odp"));
    FakePlatform fake;
    Form1 form(fake.platform);
    fake.dialogs->inputAnswers = {QStringLiteral("odp"), QStringLiteral("odp")};
    fake.dialogs->folderAnswers = {tree.at(QStringLiteral("R")), tree.at(QStringLiteral("R/"))};
    form.PushButton2->click();
    form.PushButton2->click();
    EXPECT_EQ(fake.dialogs->inputDefaults[1], QStringLiteral("odp"));
    EXPECT_EQ(under(tree, form.queue().rows()), (QStringList{"/R/one.odp", "/R/one.odp"}));
    EXPECT_FALSE(fake.settings->values.contains(QStringLiteral("LastFolder")));
}

TEST(AddAllInFolder, AwkwardNames)
{
    TempTree tree;
    const QStringList files{QStringLiteral("R/Ünïcödé folder/deck 'one'.ppt"),
                            QStringLiteral("R/with space/it\"s.pptx"),
                            QStringLiteral("R/日本/スライド.PPT"),
                            QStringLiteral("R/it’s here/q.ppt")};
    for (const QString &f : files)
        tree.file(f);
    FakePlatform fake;
    Form1 form(fake.platform);
    fake.dialogs->inputAnswers = {QStringLiteral("ppt")};
    fake.dialogs->folderAnswers = {tree.at(QStringLiteral("R"))};
    form.PushButton2->click();
    QStringList got = under(tree, form.queue().rows());
    QStringList want;
    for (const QString &f : files)
        want << QLatin1Char('/') + f;
    got.sort();
    want.sort();
    EXPECT_EQ(got, want);
    for (const QString &row : form.queue().rows())
        EXPECT_TRUE(QFile::exists(row)) << row.toStdString();
}

// --- the file dialog ---------------------------------------------------------

TEST(AddFilesDialog, AsksWithTheFixedSettings)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    form.PushButton1->click();
    ASSERT_EQ(fake.dialogs->fileRequests.size(), 1u);
    const FileDialogRequest &r = fake.dialogs->fileRequests[0];
    EXPECT_EQ(r.fileName, QString());
    EXPECT_EQ(r.flags, 2621953);
    EXPECT_EQ(r.title, QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"));
    EXPECT_EQ(r.filter, QStringLiteral("PowerPoint Files (*.p*)|*.p*|All Files (*.*)|*.*|"));
    EXPECT_EQ(form.queue().count(), 0); // cancelled
    EXPECT_TRUE(fake.dialogs->messages.empty());
}

namespace {
struct DialogResultCase {
    const char *label;
    FileDialogResult result;
    QStringList rows;
    friend void PrintTo(const DialogResultCase &row, std::ostream *os) { *os << row.label; }
};
class DialogResult : public testing::TestWithParam<DialogResultCase> {};
} // namespace

TEST_P(DialogResult, QueuesTheNamesAfterTheRowsThere)
{
    const DialogResultCase &c = GetParam();
    FakePlatform fake;
    Form1 form(fake.platform);
    form.queue().append(QStringLiteral("/already"));
    fake.dialogs->fileAnswers.push_back([&c](const FileDialogRequest &) { return c.result; });
    form.PushButton1->click();
    EXPECT_EQ(form.queue().rows(), QStringList{QStringLiteral("/already")} + c.rows);
    EXPECT_TRUE(fake.dialogs->messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    AddFilesDialog, DialogResult,
    testing::Values(
        DialogResultCase{"Cancel", {}, {}},
        DialogResultCase{"OneFile",
                         {QString(), {"/home/u//Decks/a.ppt"}},
                         {"/home/u//Decks/a.ppt"}}, // exactly as returned
        DialogResultCase{"ThreeFiles",
                         {"/home/u/Decks", {"c.ppt", "a.pptx", "b.odp"}},
                         {"/home/u/Decks/c.ppt", "/home/u/Decks/a.pptx", "/home/u/Decks/b.odp"}},
        DialogResultCase{"RootFolder", {"/", {"a.ppt", "b.ppt"}}, {"/a.ppt", "/b.ppt"}},
        DialogResultCase{
            "FolderWithTrailingSeparator", {"/d/", {"x.ppt", "y.ppt"}}, {"/d/x.ppt", "/d/y.ppt"}},
        // Files from different folders come back each with its own full path.
        DialogResultCase{"TwoFolders",
                         {QString(), {"/home/u/Decks/a.ppt", "/home/u/Decks/B/b.ppt"}},
                         {"/home/u/Decks/a.ppt", "/home/u/Decks/B/b.ppt"}}),
    RowName);

TEST(AddFilesDialog, TooManyFilesAddsNothing)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    fake.dialogs->fileAnswers.push_back([](const FileDialogRequest &) -> FileDialogResult {
        throw Failure(QStringLiteral("The file name buffer is too small."), 20476);
    });
    form.PushButton1->click();
    EXPECT_EQ(form.queue().count(), 0);
    ASSERT_EQ(fake.dialogs->messages.size(), 1u);
    const ShownMessage &m = fake.dialogs->messages[0];
    expectMessageBox(
        m,
        QStringLiteral("You've selected too many files to add.\r\rPlease try adding via the "
                       "\"Add All\" button."),
        Buttons::Ok, fake.dialogs->applicationTitle());
}

TEST(AddFilesDialog, OtherDialogFailuresAreReportedAtStep112)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    fake.dialogs->fileAnswers.push_back([](const FileDialogRequest &) -> FileDialogResult {
        throw Failure(QStringLiteral("No dialog"), 5);
    });
    form.PushButton1->click();
    ASSERT_EQ(fake.dialogs->reports().size(), 1u);
    EXPECT_TRUE(fake.dialogs->reports()[0].text.contains(
        QStringLiteral("in Tamberlin2021/08/31.Form1.PushButton1_Click at line 112")));
    EXPECT_EQ(form.queue().count(), 0);
}

// --- drag and drop -------------------------------------------------------------

namespace {

/** Delivers a drag entering the list and, when accepted, the drop, as Qt does. */
bool drop(Form1 &form, QMimeData *data)
{
    QWidget *target = form.ListView1->viewport();
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, data,
                          Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted() || enter.dropAction() == Qt::IgnoreAction)
        return false;
    QDropEvent dropEvent(QPointF(at), Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, data,
                         Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropEvent);
    return true;
}

QMimeData *files(const QStringList &paths)
{
    auto *data = new QMimeData;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromLocalFile(p);
    data->setUrls(urls);
    return data;
}

} // namespace

namespace {
struct DropCase {
    const char *label;
    QStringList dropped; // below the tree
    QStringList rows;
    friend void PrintTo(const DropCase &row, std::ostream *os) { *os << row.label; }
};
class Dropped : public testing::TestWithParam<DropCase> {};

const QStringList RTree{"/R/.kept.ppt", "/R/a.ppt",     "/R/notes.txt",
                        "/R/x~y.ppt",   "/R/Sub/b.ppt", "/R/Sub/deck.PPTX"};
} // namespace

TEST_P(Dropped, FilesAndFoldersAreQueued)
{
    const DropCase &c = GetParam();
    TempTree tree;
    buildTree(tree);
    tree.file(QStringLiteral("Other/z.doc"));
    tree.file(QStringLiteral("Other/~z.doc"));
    tree.file(QStringLiteral("readme.txt"));
    QStringList dropped;
    for (const QString &relative : c.dropped)
        dropped << tree.at(relative);
    FakePlatform fake;
    Form1 form(fake.platform);
    form.show();
    std::unique_ptr<QMimeData> data(files(dropped));
    EXPECT_TRUE(drop(form, data.get()));
    EXPECT_EQ(under(tree, form.queue().rows()), c.rows);
    EXPECT_TRUE(fake.dialogs->messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    DropOnQueue, Dropped,
    testing::Values(
        DropCase{"TextFile", {"readme.txt"}, {"/readme.txt"}},
        DropCase{"SameFileTwice", {"readme.txt", "readme.txt"}, {"/readme.txt", "/readme.txt"}},
        DropCase{"Folder", {"R"}, RTree},
        DropCase{"TwoFolders", {"Other", "R"}, QStringList{"/Other/z.doc"} + RTree},
        DropCase{"FileThenFolder", {"readme.txt", "Other"}, {"/readme.txt", "/Other/z.doc"}},
        // A dropped lock file is queued as dropped: the filters are the folder walk's.
        DropCase{"TildeFileItself", {"Other/~z.doc"}, {"/Other/~z.doc"}}),
    RowName);

// Links back up the tree or across to a sibling lead to folders already
// walked: every file goes in once, however many paths reach it.
TEST(DropOnQueue, LinkedFoldersAddEachFileOnce)
{
    TempTree tree;
    tree.file(QStringLiteral("R/a.ppt"));
    tree.file(QStringLiteral("R/S/b.ppt"));
    auto link = [&](const char *target, const char *at) {
        ASSERT_EQ(
            ::symlink(target, QFile::encodeName(tree.at(QString::fromLatin1(at))).constData()), 0);
    };
    link("..", "R/S/up");
    link("S", "R/T");
    for (const char *pattern : {"*", "ppt"}) {
        FakePlatform fake;
        Form1 form(fake.platform);
        fake.dialogs->inputAnswers = {QString::fromLatin1(pattern)};
        fake.dialogs->folderAnswers = {tree.at(QStringLiteral("R"))};
        form.PushButton2->click();
        EXPECT_EQ(under(tree, form.queue().rows()), (QStringList{"/R/a.ppt", "/R/S/b.ppt"}))
            << pattern;
    }
    FakePlatform fake;
    Form1 form(fake.platform);
    form.show();
    std::unique_ptr<QMimeData> data(
        files({tree.at(QStringLiteral("R/T")), tree.at(QStringLiteral("R"))}));
    EXPECT_TRUE(drop(form, data.get()));
    // Each dropped folder is walked on its own: through T's link back up,
    // R's own file once, then R's walk again.
    EXPECT_EQ(under(tree, form.queue().rows()),
              (QStringList{"/R/T/b.ppt", "/R/T/up/a.ppt", "/R/a.ppt", "/R/S/b.ppt"}));
}

TEST(DropOnQueue, NonFileDataIsRefused)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    form.show();
    auto text = std::make_unique<QMimeData>();
    text->setText(QStringLiteral("/etc/hostname"));
    EXPECT_FALSE(drop(form, text.get()));
    auto web = std::make_unique<QMimeData>();
    web->setUrls({QUrl(QStringLiteral("https://example.org/deck.pptx"))});
    EXPECT_FALSE(drop(form, web.get()));
    EXPECT_EQ(form.queue().count(), 0);
}

// --- folders that may be listed but not entered -----------------------------------

namespace {
struct UnenterableCase {
    const char *label;
    const char *answer; // "Add All File(s) In Folder" with this answer; nullptr: a drop
    QStringList rows;
    friend void PrintTo(const UnenterableCase &row, std::ostream *os) { *os << row.label; }
};
class UnenterableFolder : public testing::TestWithParam<UnenterableCase> {};
} // namespace

// A folder with mode r-- lists its names, but none of them opens: nothing in
// it is queued, whichever way the folder is added, while a file that grants
// no access itself still opens as a file (its folder may be entered).
TEST_P(UnenterableFolder, AddsNothingOfWhatItLists)
{
    const UnenterableCase &c = GetParam();
    TempTree tree;
    for (const char *f : {"R/open/a.ppt", "R/open/notes.txt", "R/open/secret.ppt", "R/listed/b.ppt",
                          "R/listed/c.txt", "R/listed/inner/d.ppt", "R/entered/e.ppt"})
        tree.file(QString::fromLatin1(f));
    auto mode = [&](const char *relative, mode_t m) {
        ASSERT_EQ(::chmod(QFile::encodeName(tree.at(QString::fromLatin1(relative))).constData(), m),
                  0);
    };
    mode("", 0755);
    mode("R/open/secret.ppt", 0);
    mode("R/listed", 0444);  // listed, not entered
    mode("R/entered", 0111); // entered, not listed

    FakePlatform fake;
    Form1 form(fake.platform);
    const QString got = asUnprivilegedUser([&] {
        if (c.answer) {
            fake.dialogs->inputAnswers = {QString::fromLatin1(c.answer)};
            fake.dialogs->folderAnswers = {tree.at(QStringLiteral("R"))};
            form.PushButton2->click();
        } else {
            std::unique_ptr<QMimeData> data(files({tree.at(QStringLiteral("R"))}));
            drop(form, data.get());
        }
        QStringList out = under(tree, form.queue().rows());
        for (const QString &row : form.queue().rows())
            if (!IsExistingFile(*fake.platform.files, row))
                out << QStringLiteral("does not open: ") + row;
        out << QString::number(fake.dialogs->messages.size()) + QStringLiteral(" messages");
        return out.join(QLatin1Char('\n'));
    });
    EXPECT_EQ(got.toStdString(),
              (c.rows + QStringList{"0 messages"}).join(QLatin1Char('\n')).toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Permissions, UnenterableFolder,
    testing::Values(
        UnenterableCase{
            "Drop", nullptr, {"/R/open/a.ppt", "/R/open/notes.txt", "/R/open/secret.ppt"}},
        UnenterableCase{"Star", "*", {"/R/open/a.ppt", "/R/open/notes.txt", "/R/open/secret.ppt"}},
        UnenterableCase{"Ppt", "ppt", {"/R/open/a.ppt", "/R/open/secret.ppt"}}),
    RowName);

// --- samples ---------------------------------------------------------------------

TEST(SampleFiles, LoadsEachSampleOnceAndAlwaysAsks)
{
    TempTree program;
    for (const char *f :
         {"Samples/One.pptx", "Samples/Two.odp", "Samples/.hidden.ppt", "Samples/~three.ppt"})
        program.file(QString::fromLatin1(f));
    program.folder(QStringLiteral("Samples/folder"));
    FakePlatform fake;
    fake.program->folder = program.path();
    Form1 form(fake.platform);
    const QString samples = program.path() + QStringLiteral("/Samples/");
    form.queue().append(samples + QStringLiteral("Two.odp"));  // already queued: not again
    form.queue().append(samples + QStringLiteral("ONE.pptx")); // other text: One.pptx still goes in
    fake.dialogs->answers = {Answer::No, Answer::Yes};

    form.PushButton8->click();
    form.PushButton8->click();

    EXPECT_EQ(form.queue().rows(),
              (QStringList{samples + "Two.odp", samples + "ONE.pptx", samples + ".hidden.ppt",
                           samples + "One.pptx", samples + "~three.ppt"}));
    ASSERT_EQ(fake.dialogs->messages.size(), 2u);
    const ShownMessage &m = fake.dialogs->messages[0];
    expectMessageBox(
        m,
        QStringLiteral("Would you like this software to open the folder where these sample "
                       "files are stored (so that you can view them before working with them)?"),
        Buttons::YesNo);
    EXPECT_EQ(fake.shell->folders, QStringList{program.path() + QStringLiteral("/Samples")});
}

TEST(SampleFiles, MissingFolderAddsNothingAndStillAsks)
{
    TempTree program;
    FakePlatform fake;
    fake.program->folder = program.path();
    Form1 form(fake.platform);
    form.PushButton8->click();
    EXPECT_EQ(form.queue().count(), 0);
    ASSERT_EQ(fake.dialogs->messages.size(), 1u);
    EXPECT_EQ(fake.dialogs->messages[0].buttons, Buttons::YesNo);
    EXPECT_TRUE(fake.shell->folders.isEmpty());
}
