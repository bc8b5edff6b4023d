// SPDX-License-Identifier: GPL-3.0-or-later
// The four operations on the presentation application, against the
// simulated one: the installed check at start-up, the running-instance
// warning, and opening a file through the running instance.

#include "core/run/PowerPoint1.h"
#include "gui/Form1.h"
#include "platform/qt/QtServices.h"
#include "support/FakePlatform.h"
#include "support/Messages.h"
#include "support/TempTree.h"

#ifdef DECKRUN_HAS_UNO
#include "platform/uno/UnoAutomation.h"
#include "support/SystemPrinters.h"
#endif

#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {
// Rows go by their name in test listings; each prints as its name, never as bytes.
constexpr auto RowName = [](const auto &row) { return std::string(row.param.name); };

struct InstalledCase {
    const char *name;
    const char *createFailure; // nullptr: the application starts
    int ends;                  // times the program was ended
    QStringList messages;      // plain boxes under the application title
    QStringList calls;
    friend void PrintTo(const InstalledCase &row, std::ostream *os) { *os << row.name; }
};
class InstalledCheck : public testing::TestWithParam<InstalledCase> {};
} // namespace

TEST_P(InstalledCheck, EndsTheProgramBeforeTheWindowShowsOnlyWhenItCannotStart)
{
    const InstalledCase &c = GetParam();
    FakePlatform fake;
    if (c.createFailure)
        fake.office->failAt(QStringLiteral("Create"), QString::fromUtf8(c.createFailure));
    Form1 form(fake.platform);
    if (c.ends)
        EXPECT_THROW(form.Form_Load(), ProgramEnded);
    else
        form.Form_Load();
    EXPECT_EQ(fake.program->ends, c.ends);
    EXPECT_FALSE(form.isVisible());
    ASSERT_EQ(fake.dialogs->messages.size(), static_cast<std::size_t>(c.messages.size()));
    for (qsizetype k = 0; k < c.messages.size(); ++k)
        expectMessageBox(fake.dialogs->messages[static_cast<std::size_t>(k)], c.messages[k],
                         Buttons::Ok, QStringLiteral("Deckrun"));
    EXPECT_EQ(fake.office->calls(), c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    CheckPowerPointInstalled, InstalledCheck,
    testing::Values(
        InstalledCase{"NotInstalled",
                      "ActiveX component can't create object",
                      1,
                      {QStringLiteral("PowerPoint is not installed on this computer. You need to "
                                      "have it installed to use this software without error.")},
                      {QStringLiteral("Create")}},
        // The created application is released at once.
        InstalledCase{
            "Installed", nullptr, 0, {}, {QStringLiteral("Create"), QStringLiteral("ReleaseApp")}}),
    RowName);

// The real program control: a launcher or script sees that it did not start.
TEST(CheckPowerPointInstalled, RefusingToStartExitsWithAFailureStatus)
{
    EXPECT_EXIT(
        {
            FakePlatform fake;
            fake.office->failAt(QStringLiteral("Create"),
                                QStringLiteral("ActiveX component can't create object"));
            SimAutomation office;
            fake.platform.program = std::make_unique<QtProgramControl>(office);
            Form1 form(fake.platform);
            form.Form_Load();
            std::exit(0); // reached only when the refusal did not end the program
        },
        testing::ExitedWithCode(1), "");
}

#ifdef DECKRUN_HAS_UNO
TEST(CheckPowerPointInstalled, LibreOfficeMissingIsNamedAsSuch)
{
    TempTree empty;
    uno::UnoOptions options;
    options.programDir = empty.path();
    options.profileRoot = empty.at(QStringLiteral("profiles"));
    uno::UnoAutomation office(deckrun::test::systemPrinters(), options);
    EXPECT_FALSE(office.isInstalled());
    EXPECT_EQ(
        NotInstalledMessage(office),
        QStringLiteral("LibreOffice Impress is not installed on this computer. You need to have it "
                       "installed to use this software without error."));
    EXPECT_THROW(office.create(), Failure);
}
#endif

namespace {

struct RunningCase {
    const char *name;
    const char *runningName; // nullptr: nothing runs
    Answer answer;
    bool running;
    bool warned;
    bool abort;
    bool answers = true; // false: its name is asked for until the deadline, in vain
};
// Names the case in test listings instead of dumping its bytes.
[[maybe_unused]] void PrintTo(const RunningCase &c, std::ostream *os)
{
    *os << c.name;
}

class RunningWarning : public testing::TestWithParam<RunningCase> {};

} // namespace

TEST_P(RunningWarning, WarnsOnlyForTheRealApplication)
{
    const RunningCase c = GetParam();
    FakePlatform fake;
    fake.dialogs->setApplicationTitle(QStringLiteral("Deckrun"));
    if (c.runningName)
        fake.office->setAlreadyRunning(QString::fromUtf8(c.runningName));
    if (!c.answers)
        fake.office->failAt(
            QStringLiteral("Name"),
            QStringLiteral("Microsoft PowerPoint did not answer within 20 seconds."),
            code::NotAnswering);
    fake.dialogs->answers.push_back(c.answer);

    EXPECT_EQ(PowerPointIsRunning(*fake.office), c.running);
    EXPECT_EQ(AbortForRunningPowerPoint(*fake.office, *fake.dialogs), c.abort);
    ASSERT_EQ(fake.dialogs->messages.size(), c.warned ? 1u : 0u);
    if (c.warned) {
        const ShownMessage &m = fake.dialogs->messages[0];
        expectMessageBox(
            m,
            QString::fromLatin1(c.answers ? ""
                                          : "PowerPoint is running but does not answer: a "
                                            "dialog in it may be waiting for you.\r\n\r\n") +
                QStringLiteral(
                    "PowerPoint may be open. It is recommended that you close PowerPoint "
                    "first.\rUse Ctrl+Alt+Del > Task Manager > POWERPNT.EXE if necessary."
                    "\r\n\r\nWould you like to proceed anyway?"),
            Buttons::YesNo, QStringLiteral("Deckrun"));
    }
    // Neither check starts the application or leaves a reference behind.
    EXPECT_FALSE(fake.office->calls().contains(QStringLiteral("Create")));
    EXPECT_EQ(fake.office->calls().count(QStringLiteral("GetRunning")),
              fake.office->calls().count(QStringLiteral("ReleaseApp")) + (c.runningName ? 0 : 2));
}

INSTANTIATE_TEST_SUITE_P(
    BeforeARun, RunningWarning,
    testing::Values(
        RunningCase{"NothingRuns", nullptr, Answer::No, false, false, false},
        RunningCase{"OtherName", "Microsoft PowerPoint Viewer", Answer::No, false, false, false},
        RunningCase{"OtherCase", "microsoft powerpoint", Answer::No, false, false, false},
        RunningCase{"RunningAnswerNo", "Microsoft PowerPoint", Answer::No, true, true, true},
        RunningCase{"RunningAnswerYes", "Microsoft PowerPoint", Answer::Yes, true, true, false},
        // Behind a dialog, it runs all the same: never taken for gone (and stopped).
        RunningCase{"NotAnsweringAnswerNo", "Microsoft PowerPoint", Answer::No, true, true, true,
                    false}),
    RowName);

TEST(RunningWarning, AnUnreadableNameCountsAsNotRunning)
{
    FakePlatform fake;
    fake.office->setAlreadyRunning(QStringLiteral("Microsoft PowerPoint"));
    fake.office->failAt(QStringLiteral("Name"), QStringLiteral("Automation error"));
    EXPECT_FALSE(PowerPointIsRunning(*fake.office));
    EXPECT_FALSE(AbortForRunningPowerPoint(*fake.office, *fake.dialogs));
    EXPECT_TRUE(fake.dialogs->messages.empty());
}

TEST(OpenPresentation, OpensThroughTheRunningInstanceAndReleasesTheCreatedOne)
{
    FakePlatform fake;
    const std::shared_ptr<PresentationApp> app =
        OpenPresentation(*fake.office, QStringLiteral("/decks/a b.pptx"));
    ASSERT_TRUE(app);
    EXPECT_EQ(fake.office->calls(),
              QStringList({QStringLiteral("Create"), QStringLiteral("GetRunning"),
                           QStringLiteral("Visible=true"), QStringLiteral("Open:/decks/a b.pptx"),
                           QStringLiteral("ReleaseApp")}));
}

namespace {
struct OpenFailureCase {
    const char *name; // the operation that fails
    QStringList calls;
    friend void PrintTo(const OpenFailureCase &row, std::ostream *os) { *os << row.name; }
};
class OpenFailure : public testing::TestWithParam<OpenFailureCase> {};
} // namespace

TEST_P(OpenFailure, ReachesTheCallerUnchangedWithoutQuit)
{
    const OpenFailureCase &c = GetParam();
    FakePlatform fake;
    fake.office->failAt(QString::fromUtf8(c.name), QStringLiteral("The file cannot be opened."));
    try {
        OpenPresentation(*fake.office, QStringLiteral("/decks/broken.pptx"));
        ADD_FAILURE() << "no failure";
    } catch (const Failure &f) {
        EXPECT_EQ(f.description(), QStringLiteral("The file cannot be opened."));
    }
    EXPECT_EQ(fake.office->calls(), c.calls);
    EXPECT_FALSE(fake.office->calls().contains(QStringLiteral("Quit")));
}

INSTANTIATE_TEST_SUITE_P(
    OpenPresentation, OpenFailure,
    testing::Values(OpenFailureCase{"Create", {QStringLiteral("Create")}},
                    OpenFailureCase{"GetRunning",
                                    {QStringLiteral("Create"), QStringLiteral("GetRunning"),
                                     QStringLiteral("ReleaseApp")}},
                    OpenFailureCase{"Visible",
                                    {QStringLiteral("Create"), QStringLiteral("GetRunning"),
                                     QStringLiteral("Visible=true"), QStringLiteral("ReleaseApp"),
                                     QStringLiteral("ReleaseApp")}},
                    OpenFailureCase{"Open",
                                    {QStringLiteral("Create"), QStringLiteral("GetRunning"),
                                     QStringLiteral("Visible=true"),
                                     QStringLiteral("Open:/decks/broken.pptx"),
                                     QStringLiteral("ReleaseApp"), QStringLiteral("ReleaseApp")}}),
    RowName);
