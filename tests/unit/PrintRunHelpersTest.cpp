// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/PrintRun.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "support/FakePlatform.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <limits>

using namespace deckrun;
using namespace deckrun::test;

namespace {

/** A path written with '|' for the platform's separator. */
QString native(const char *text)
{
    return QString::fromUtf8(text).replace(QLatin1Char('|'), pathSeparator());
}

} // namespace

TEST(FileNameFromPath, TakesTheTextAfterTheLastSeparator)
{
    const struct {
        const char *path;
        const char *name;
    } cases[] = {
        {"|home|ann|talk.ppt", "talk.ppt"},
        {"talk.ppt", "talk.ppt"},
        {"", ""},
        {"|", ""},
        {"|decks|", ""},
        {"|decks||two  words.pptx", "two  words.pptx"},
        {"|a.b|noext", "noext"},
        {"|Präsentation|Übersicht.odp", "Übersicht.odp"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FileNameFromPath(native(c.path)), QString::fromUtf8(c.name)) << c.path;
    // The other system's separator is part of the name.
    const QChar other = pathSeparator() == QLatin1Char('/') ? QLatin1Char('\\') : QLatin1Char('/');
    const QString mixed = QStringLiteral("x") + other + QStringLiteral("y.ppt");
    EXPECT_EQ(FileNameFromPath(mixed), mixed);
}

TEST(ProgressPercent, IsTheExactShareRoundedDown)
{
    constexpr std::int32_t max = std::numeric_limits<std::int32_t>::max();
    const struct {
        std::int32_t i, count;
        int percent;
    } cases[] = {
        {29, 100, 29},
        {57, 100, 57},
        {1, 4, 25},
        {4, 4, 100},
        {1, 3, 33},
        {2, 3, 66},
        {1, 1, 100},
        {1, 7, 14},
        {99, 100, 99},
        {1, 1000, 0},
        {max, max, 100},
        {max - 1, max, 99},
        // Rows went missing: never beyond the bar's range, never a division by zero.
        {5, 3, 100},
        {1, 0, 100},
    };
    for (const auto &c : cases)
        EXPECT_EQ(progressPercent(c.i, c.count), c.percent) << c.i << " of " << c.count;
    for (std::int32_t i = 1; i <= 100; ++i)
        EXPECT_EQ(progressPercent(i, 100), i);
}

TEST(PauseDigit, ReadsTheFirstCharacter)
{
    EXPECT_EQ(pauseDigit(QStringLiteral("0 seconds")), 0);
    EXPECT_EQ(pauseDigit(QStringLiteral("9 seconds")), 9);
    EXPECT_EQ(pauseDigit(QStringLiteral("42")), 4);
    for (const char *text : {"", " 5 seconds", "x", "-1", "+3", "\xd9\xa3"}) {
        try {
            pauseDigit(QString::fromUtf8(text));
            ADD_FAILURE() << "accepted \"" << text << '"';
        } catch (const Failure &failure) {
            EXPECT_EQ(failure.code(), 13);
            EXPECT_EQ(failure.description(), QStringLiteral("Type mismatch"));
        }
    }
}

TEST(WaitSeconds, ReturnsAfterTheFullTime)
{
    const struct {
        double start;
        double seconds;
        double wakeAfter; // 0: sleeps until the deadline
        double end;
    } cases[] = {
        {36000.0, 1.0, 0.0, 36001.0}, {36000.0, 10.0, 0.0, 36010.0},
        {36000.0, 1.0, 0.1, 36001.0},                           // woken early again and again
        {36000.0, 2.5, 0.7, 36002.5}, {86399.5, 2.0, 0.0, 1.5}, // across midnight
        {86399.9, 1.0, 0.05, 0.9},    {86398.0, 2.0, 0.0, 0.0}, // ends exactly at midnight
    };
    for (const auto &c : cases) {
        FakeEventLoop events;
        events.now = c.start;
        events.wakeAfter = c.wakeAfter;
        WaitSeconds(events, c.seconds);
        EXPECT_NEAR(events.now, c.end, 1e-6) << c.start << " + " << c.seconds;
        EXPECT_NEAR(events.slept, c.seconds, 1e-6) << "it never sleeps past the deadline";
        EXPECT_GE(events.pumps, 1);
        EXPECT_EQ(events.pumps, events.sleeps) << "every round pumps, then sleeps";
    }
}

TEST(WaitSeconds, PumpsOnEveryRound)
{
    FakeEventLoop events;
    events.wakeAfter = 0.1;
    int clicks = 0;
    events.pumpAction = [&] { ++clicks; };
    WaitSeconds(events, 1.0);
    EXPECT_GE(clicks, 10);
    EXPECT_LE(clicks, 11);
}

TEST(WaitSeconds, CountsTimeSpentInPumps)
{
    FakeEventLoop events;
    events.secondsPerPump = 0.4; // a slow handler ran during the wait
    WaitSeconds(events, 1.0);
    EXPECT_NEAR(events.now, 36001.0, 1e-6);
    EXPECT_NEAR(events.slept, 0.6, 1e-6);

    FakeEventLoop slow;
    slow.secondsPerPump = 3.0; // a handler that outlasts the whole wait
    WaitSeconds(slow, 1.0);
    EXPECT_EQ(slow.pumps, 1);
    EXPECT_EQ(slow.sleeps, 0);
}

TEST(WaitSeconds, NothingOrLessReturnsAtOnceWithoutPumping)
{
    for (double seconds : {0.0, -1.0, -86400.0, std::numeric_limits<double>::quiet_NaN()}) {
        FakeEventLoop events;
        events.pumpAction = [] { ADD_FAILURE() << "pumped"; };
        WaitSeconds(events, seconds);
        EXPECT_EQ(events.pumps, 0);
        EXPECT_EQ(events.sleeps, 0);
        EXPECT_EQ(events.now, 36000.0);
    }
}

TEST(RunLogLine, ReadsBackAsTheOutcomeItRecords)
{
    // Paths may hold anything a file name can: the line stays one JSON object.
    const QDateTime summer(QDate(2026, 7, 1), QTime(9, 5, 3, 250), QTimeZone(7200));
    PrintSettings asked;
    asked.layout = PrintLayout::Handouts6;
    asked.sides = PrintSides::LongEdge;
    asked.copies = 2;
    asked.slides = "1-3,5";
    const struct {
        const char *file;
        int step;
        const char *description;
        int job = 0;
        const char *settings = "";
    } cases[] = {
        {"/decks/plain.ppt", 0, ""},
        // The job and what it printed with, as a print server's log wants them.
        {"/decks/job.pptx", 0, "", 42,
         R"({"layout":"handouts-6","copies":2,"sides":"long-edge","slides":"1-3,5"})"},
        // PowerPoint prints itself: no job, but what it printed with.
        {"/decks/no-job.pptx", 0, "", 0,
         R"({"layout":"handouts-6","copies":2,"sides":"long-edge","slides":"1-3,5"})"},
        {"/decks/tab\there \"quoted\" back\\slash.pptx", 0, ""},
        {"/decks/line\nbreak\r\x01\x1f.odp", 120, "could not open \"x\":\nthe file is damaged."},
        {"/decks/Gr\xc3\xbc\xc3\x9f"
         "e \xe2\x82\xac \xf0\x9f\x93\x8a.ppt",
         130, "Drucker \xc3\xbc"},
    };
    for (const auto &c : cases) {
        FileOutcome outcome{summer,
                            QString::fromUtf8(c.file),
                            QStringLiteral("PDF \"2\""),
                            c.step,
                            QString::fromUtf8(c.description),
                            c.job,
                            *c.settings ? asked : PrintSettings{},
                            {}};
        const QByteArray line = runLogLine(outcome);
        EXPECT_FALSE(line.contains('\n')) << c.file;
        QJsonParseError error{};
        const QJsonObject o = QJsonDocument::fromJson(line, &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.constData();
        EXPECT_EQ(o[QLatin1String("time")].toString(),
                  QStringLiteral("2026-07-01T09:05:03.250+02:00"));
        EXPECT_EQ(o[QLatin1String("file")].toString(), outcome.file);
        EXPECT_EQ(o[QLatin1String("printer")].toString(), outcome.printer);
        EXPECT_EQ(o[QLatin1String("outcome")].toString(),
                  c.step == 0 ? QStringLiteral("printed") : QStringLiteral("failed"));
        EXPECT_EQ(o.contains(QLatin1String("step")), c.step != 0) << c.file;
        EXPECT_EQ(o[QLatin1String("step")].toInt(), c.step);
        EXPECT_EQ(o[QLatin1String("description")].toString(), outcome.description);
        EXPECT_TRUE(line.startsWith("{\"time\":")) << "time first, so the log reads in order";
        EXPECT_EQ(o[QLatin1String("job")].toInt(), c.job) << c.file;
        EXPECT_EQ(line.contains(QByteArray(",\"settings\":") + c.settings), *c.settings != 0)
            << line.constData();
    }
}
