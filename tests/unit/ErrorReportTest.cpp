// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/common/ErrorReport.h"
#include "support/FakePlatform.h"

#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {
const QString Location = QStringLiteral("in Tamberlin2021/08/31.Form1.Form_Load ");
}

TEST(ErrorReport, TextIsAssembledByteForByte)
{
    EXPECT_EQ(ErrorReportText(QStringLiteral("Type mismatch"), Location, 144),
              QStringLiteral("Type mismatch\r\nin Tamberlin2021/08/31.Form1.Form_Load at line 144"
                             "\r\rPlease email screenshot of this message to ") +
                  QLatin1String(SupportAddress));
    // An empty description starts the report with the line break.
    EXPECT_TRUE(ErrorReportText(QString(), Location, 100).startsWith(QStringLiteral("\r\nin ")));
}

TEST(ErrorReport, IsShownAsWarningWithOneButton)
{
    ScriptedDialogs dialogs;
    ShowErrorReport(dialogs, QStringLiteral("Boom"), Location, 100);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("Application Error"));
    EXPECT_EQ(dialogs.messages[0].icon, Icon::Warning);
    EXPECT_EQ(dialogs.messages[0].buttons, Buttons::Ok);
}

TEST(StepRunner, ReportsEachFailureInOrderAndGoesOn)
{
    ScriptedDialogs dialogs;
    StepRunner r(dialogs, Location);
    QStringList ran;
    r.step(100, [&] {
        ran << "100";
        throw Failure(QStringLiteral("first"));
    });
    r.step(102, [&] { ran << "102"; });
    r.step(104, [&] {
        ran << "104";
        throw std::runtime_error("second");
    });
    r.step(106, [&] { ran << "106"; });
    EXPECT_EQ(ran, QStringList({"100", "102", "104", "106"}));
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_TRUE(dialogs.messages[0].text.startsWith(QStringLiteral("first\r\n")));
    EXPECT_TRUE(dialogs.messages[0].text.contains(QStringLiteral("at line 100\r\r")));
    EXPECT_TRUE(dialogs.messages[1].text.startsWith(QStringLiteral("second\r\n")));
    EXPECT_TRUE(dialogs.messages[1].text.contains(QStringLiteral("at line 104\r\r")));
}

TEST(StepRunner, FailingTestFallsIntoTheStepItGuards)
{
    ScriptedDialogs dialogs;
    StepRunner r(dialogs, Location);
    bool guardedRan = false;
    // "If busy, end": the test throws, so the handler does not end.
    if (!r.test(100, []() -> bool { throw Failure(QStringLiteral("Object required")); }))
        guardedRan = true;
    EXPECT_TRUE(guardedRan);
    EXPECT_EQ(r.reportsShown(), 1);
}

TEST(StepRunner, AFailingTestCountsAsPassedWhicheverWayItIsPhrased)
{
    // The step a test guards is the next one in the handler's order. Whether
    // the test is phrased "the guarded step runs when ..." (passes) or "the
    // handler ends here when ..." (test), a failed evaluation runs that step.
    enum class Outcome { Holds, DoesNotHold, Throws };
    struct Case {
        const char *label;
        bool guardsNextStep; // passes(): true means the next step runs
        Outcome outcome;
        bool nextStepRuns;
        int reports;
    };
    const Case cases[] = {
        {"PassesHolds", true, Outcome::Holds, true, 0},
        {"PassesDoesNotHold", true, Outcome::DoesNotHold, false, 0},
        {"PassesThrows", true, Outcome::Throws, true, 1},
        {"LeavesHolds", false, Outcome::Holds, false, 0},
        {"LeavesDoesNotHold", false, Outcome::DoesNotHold, true, 0},
        {"LeavesThrows", false, Outcome::Throws, true, 1},
    };
    for (const Case &c : cases) {
        ScriptedDialogs dialogs;
        StepRunner r(dialogs, Location);
        const auto condition = [&c]() -> bool {
            if (c.outcome == Outcome::Throws)
                throw Failure(QStringLiteral("Object required"));
            return c.outcome == Outcome::Holds;
        };
        QStringList ran;
        const bool next = c.guardsNextStep ? r.passes(118, condition) : !r.test(118, condition);
        if (next)
            r.step(120, [&] { ran << "120"; });
        r.step(124, [&] { ran << "124"; });
        EXPECT_EQ(ran, c.nextStepRuns ? QStringList({"120", "124"}) : QStringList{"124"})
            << c.label;
        ASSERT_EQ(r.reportsShown(), c.reports) << c.label;
        if (c.reports) {
            EXPECT_TRUE(dialogs.messages[0].text.contains(QStringLiteral("at line 118\r\r")));
        }
    }
}

TEST(StepRunner, FailureInsideACalledRoutineNamesTheCallersStep)
{
    ScriptedDialogs dialogs;
    StepRunner r(dialogs, Location);
    // The step calls a routine that adds rows one by one; the second row fails
    // deep inside it. The routine is abandoned there: the third row never goes in.
    QStringList added;
    bool restOfRoutineRan = false;
    const auto addRow = [&](const QString &row) {
        if (row.isEmpty())
            throw Failure(QStringLiteral("deep"));
        added << row;
    };
    const auto routine = [&] {
        for (const QString &row : {QStringLiteral("a"), QString(), QStringLiteral("c")})
            addRow(row);
        restOfRoutineRan = true;
    };
    r.step(136, routine);
    EXPECT_EQ(added, QStringList{QStringLiteral("a")});
    EXPECT_FALSE(restOfRoutineRan);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(QStringLiteral("at line 136")));
}

TEST(StepRunner, ProgramEndIsNotSwallowed)
{
    ScriptedDialogs dialogs;
    StepRunner r(dialogs, Location);
    EXPECT_THROW(r.step(100, [] { throw ProgramEnded{}; }), ProgramEnded);
    EXPECT_TRUE(dialogs.messages.empty());
}
