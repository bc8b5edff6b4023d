// SPDX-License-Identifier: GPL-3.0-or-later
// `deckrun [FILE|FOLDER]...`: the arguments become paths, and the paths go
// into the queue as a drop of them would, the missing ones named in a message.

#include "cli/CommandLine.h"
#include "cli/BatchRun.h"
#include "core/queue/QueueModel.h"
#include "core/run/PrintSettingsText.h"
#include "gui/AddFiles.h"
#include "gui/Form1.h"
#include "support/FakePlatform.h"
#include "support/TempTree.h"

#include <QDir>

#include <algorithm>
#include <variant>

#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {

/** The files and folders a window's command line names. */
QStringList pathsOf(const QStringList &arguments)
{
    const auto read = readCommandLine(QStringList{"deckrun"} + arguments);
    EXPECT_TRUE(std::holds_alternative<CommandLine>(read)) << arguments.join(' ').toStdString();
    return std::holds_alternative<CommandLine>(read) ? std::get<CommandLine>(read).paths
                                                     : QStringList();
}

} // namespace

TEST(CommandLine, QueuesTheNamedPathsAsADropWould)
{
    TempTree tree;
    for (const char *f : {"b.ppt", "a.pptx", "notes.txt", "~c.ppt", "F/x.odp", "F/~lock.ppt",
                          "F/sub/y.ppt", "G/z.ppt"})
        tree.file(QString::fromLatin1(f));
    const QString missing = tree.at(QStringLiteral("gone.ppt"));
    struct Case {
        const char *label;
        QStringList arguments; // relative to the tree
        QStringList rows;
        QStringList missing; // named in the message, in order
    };
    const Case cases[] = {
        // In the order given, nothing sorted; a file goes in whatever its name.
        {"FilesInOrder",
         {"b.ppt", "notes.txt", "a.pptx", "~c.ppt"},
         {"/b.ppt", "/notes.txt", "/a.pptx", "/~c.ppt"},
         {}},
        {"SameFileTwice", {"b.ppt", "b.ppt"}, {"/b.ppt", "/b.ppt"}, {}},
        // A folder: every file in it and below it, lock files left out.
        {"Folder", {"F"}, {"/F/x.odp", "/F/sub/y.ppt"}, {}},
        {"FileFolderFile", {"b.ppt", "G", "a.pptx"}, {"/b.ppt", "/G/z.ppt", "/a.pptx"}, {}},
        // A missing path is left out and named; the others still go in.
        {"MissingBetween",
         {"b.ppt", "gone.ppt", "F"},
         {"/b.ppt", "/F/x.odp", "/F/sub/y.ppt"},
         {"/gone.ppt"}},
        {"TwoMissing",
         {"gone.ppt", "a.pptx", "also gone"},
         {"/a.pptx"},
         {"/gone.ppt", "/also gone"}},
    };
    const QString current = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(tree.path()));
    for (const Case &c : cases) {
        FakePlatform fake;
        Form1 form(fake.platform);
        form.Form_Load(); // every start-up step first, as the program does
        form.show();
        openCommandLinePaths(form, pathsOf(c.arguments));
        EXPECT_EQ(under(tree, form.queue().rows()), c.rows) << c.label;
        if (c.missing.isEmpty()) {
            EXPECT_TRUE(fake.dialogs->messages.empty()) << c.label;
            continue;
        }
        ASSERT_EQ(fake.dialogs->messages.size(), 1u) << c.label;
        const ShownMessage &m = fake.dialogs->messages[0];
        QStringList named;
        for (const QString &p : c.missing)
            named << tree.path() + p;
        EXPECT_EQ(m.text,
                  (c.missing.size() == 1
                       ? QStringLiteral("This file or folder could not be found, so it was not "
                                        "added to the queue:\r\r")
                       : QStringLiteral("These files or folders could not be found, so they were "
                                        "not added to the queue:\r\r")) +
                      named.join(QLatin1Char('\r')))
            << c.label;
        EXPECT_EQ(m.title, QStringLiteral("Deckrun")) << c.label;
        EXPECT_EQ(m.buttons, Buttons::Ok) << c.label;
        EXPECT_EQ(m.icon, Icon::Warning) << c.label;
    }
    QDir::setCurrent(current);
}

// A hundred missing files, one name longer than a screen is wide: the box
// names the first few, shortened, and how many more. Kills listing them all,
// and dropping the shortening or the count.
TEST(CommandLine, ALongListOfMissingFilesFitsTheScreen)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    QStringList missing{QStringLiteral("/gone/") + QString(4000, QLatin1Char('x'))};
    for (int i = 1; i < 100; ++i)
        missing << QStringLiteral("/gone/%1.pptx").arg(i);
    openCommandLinePaths(form, missing);
    const QStringList lines = fake.dialogs->messages.at(0).text.split(QLatin1Char('\r'));
    EXPECT_LE(lines.size(), 16);
    EXPECT_TRUE(std::all_of(lines.begin(), lines.end(), [](auto &l) { return l.size() <= 100; }));
    EXPECT_TRUE(lines.last().contains(QLatin1String("88 more"))) << lines.last().toStdString();
}

TEST(CommandLine, ArgumentsBecomeLocalPaths)
{
    const QString here = QDir::currentPath();
    struct Case {
        QStringList arguments;
        QStringList paths;
    };
    const Case cases[] = {
        {{}, {}},
        {{"/decks/a b.ppt", "/decks/"}, {"/decks/a b.ppt", "/decks/"}}, // absolute: as given
        {{"a.ppt", "./F/../b.ppt"}, {here + "/a.ppt", here + "/b.ppt"}},
        {{"file:///decks/a%20b.ppt"}, {"/decks/a b.ppt"}}, // a file manager that hands URLs
        {{"--", "-dash.ppt"}, {here + "/-dash.ppt"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(pathsOf(c.arguments), c.paths)
            << c.arguments.join(QLatin1Char(' ')).toStdString();
}

// The yes-or-no settings alone mean yes, and take no or yes after them; a
// file after one stays a file. Kills the option read as a flag alone (no
// cannot switch it off) or as taking a value always (the file is eaten).
TEST(CommandLine, YesOrNoSettingsStandAloneOrTakeTheirWord)
{
    const QString here = QDir::currentPath();
    const struct {
        QStringList arguments;
        void (*said)(PrintSettings &);
        QStringList paths;
    } cases[] = {
        {{"--frame", "a.ppt"}, [](PrintSettings &s) { s.frameSlides = true; }, {here + "/a.ppt"}},
        {{"--frame", "no", "a.ppt"},
         [](PrintSettings &s) { s.frameSlides = false; },
         {here + "/a.ppt"}},
        {{"--collate=no", "--fit", "yes", "a.ppt"},
         [](PrintSettings &s) { s.fitToPaper = true, s.collate = false; },
         {here + "/a.ppt"}},
        {{"--handout-order", "vertical", "--", "--fit"},
         [](PrintSettings &s) { s.handoutOrder = HandoutOrder::Vertical; },
         {here + "/--fit"}},
    };
    for (const auto &c : cases) {
        PrintSettings settings;
        c.said(settings);
        const auto read = readCommandLine(QStringList{"deckrun", "--print"} + c.arguments);
        ASSERT_TRUE(std::holds_alternative<CommandLine>(read))
            << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(std::get<CommandLine>(read).settings == settings)
            << c.arguments.join(' ').toStdString();
        EXPECT_EQ(std::get<CommandLine>(read).paths, c.paths);
    }
}

// What `deckrun --print` prints on and how long it pauses, from --printer and
// --pause or else from what the window stored.
TEST(BatchChoices, PrinterAndPause)
{
    struct Case {
        const char *label;
        std::optional<QString> asked; // --printer
        const char *storedIndex;      // "Combo1"; nullptr: nothing stored
        const char *defaultPrinter;
        std::optional<QString> printer; // none: refused
    };
    const Case printers[] = {
        {"Asked", QStringLiteral("PDF"), "0", "PDF", QStringLiteral("PDF")},
        // The print system takes names in any case; the installed name is used.
        {"AskedInOtherCase", QStringLiteral("office LASER"), nullptr, "PDF",
         QStringLiteral("Office Laser")},
        {"AskedNotInstalled", QStringLiteral("Archive"), nullptr, "PDF", std::nullopt},
        {"StoredIndex", std::nullopt, "0", "PDF", QStringLiteral("Office Laser")},
        // No choice in the window: the system's default.
        {"StoredNoneTakesTheDefault", std::nullopt, "-1", "PDF", QStringLiteral("PDF")},
        {"StoredPastTheEndTakesTheDefault", std::nullopt, "7", "PDF", QStringLiteral("PDF")},
        {"StoredNoneNoDefault", std::nullopt, "-1", "", std::nullopt},
    };
    for (const Case &c : printers) {
        FakePlatform fake;
        fake.printers->defaultName = QString::fromLatin1(c.defaultPrinter);
        if (c.storedIndex)
            fake.settings->values.insert(QStringLiteral("Combo1"),
                                         QString::fromLatin1(c.storedIndex));
        EXPECT_EQ(batchPrinter(fake.platform, c.asked), c.printer) << c.label;
    }

    const struct {
        const char *stored; // "Combo2"; nullptr: nothing stored
        std::optional<int> asked;
        int pause;
    } pauses[] = {{nullptr, std::nullopt, 5}, {"0", std::nullopt, 0}, {"9", std::nullopt, 9},
                  {"10", std::nullopt, 5},    {"x", std::nullopt, 5}, {"9", 3, 3}};
    for (const auto &c : pauses) {
        MemorySettings settings;
        if (c.stored)
            settings.values.insert(QStringLiteral("Combo2"), QString::fromLatin1(c.stored));
        EXPECT_EQ(batchPause(settings, c.asked), c.pause) << (c.stored ? c.stored : "none");
    }
}

// The exit status of `deckrun --print`: one row per reason for 1, each alone.
TEST(BatchChoices, TheStatusSaysWhetherEveryFilePrinted)
{
    const struct {
        const char *label;
        BatchTally tally;
        int status;
    } cases[] = {
        {"EveryFilePrinted", {.queued = 2, .printed = 2}, 0},
        {"NothingQueued", {}, 1},
        {"OneNotPrinted", {.queued = 2, .printed = 1}, 1},
        {"AReportAfterThePrint", {.queued = 1, .printed = 1, .reports = 1}, 1},
        {"OnlyALeftOutEntry", {.queued = 1, .printed = 1, .leftOut = 1}, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(batchStatus(c.tally), c.status) << c.label;
}
