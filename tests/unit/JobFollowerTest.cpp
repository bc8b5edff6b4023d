// SPDX-License-Identifier: GPL-3.0-or-later
// A print job followed to its end: what the print service says of it, look
// after look, in; the run log's lines and the outcomes told out.

#include "core/run/JobFollower.h"
#include "support/FakePlatform.h"
#include "support/RunLogLines.h"
#include "support/ScriptedSpooler.h"

#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;
using Said = ScriptedSpooler::Answer;
using State = SpooledJob::State;

namespace {

Said job(State state, QString printerSays = {}, QStringList reasons = {},
         bool printerStopped = false)
{
    return Said{JobStatus{.state = state,
                          .reasons = std::move(reasons),
                          .printerMessage = std::move(printerSays),
                          .printerStopped = printerStopped}};
}
const Said Gone{}, NoAnswer{std::nullopt, true};
const Said Waiting = job(State::Waiting), Printing = job(State::Processing);
const Said Paused = job(State::Waiting, "Paused", {}, true);
const QString Forgotten = QStringLiteral("the print service no longer knows the job; it was last "
                                         "seen ");

struct Row {
    const char *name;
    std::vector<Said> looks; // what the service says at each look
    QStringList lines;       // the run log's lines, as "outcome: message"
    bool settled;            // every job ended or stopped after the last look
    friend void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }
};

const Row Rows[] = {
    // Kills a follower that never tells a job that ended, or keeps asking after.
    {"Completes", {Waiting, Printing, job(State::Completed, "Ready")}, {"completed: Ready"}, true},
    {"CanceledByTheService",
     {Waiting, job(State::Cancelled, "Printer cannot print with supplied options.")},
     {"canceled: Printer cannot print with supplied options."},
     true},
    // Said once, however often it is seen stopped. Kills a line at every look.
    {"StoppedByAJam",
     {Printing, job(State::Stopped, "Filter failed", {"job-completed-with-errors"})},
     {"stopped: Filter failed"},
     true},
    // Followed on after the stop. Kills a stopped job no longer asked about,
    // and a stop judged by the job's state alone.
    {"PrinterStopsAndResumes",
     {Waiting, Paused, Paused, Printing, job(State::Completed, "Ready")},
     {"stopped: Paused", "completed: Ready"},
     true},
    {"StillWaiting", {Waiting, Printing}, {}, false},
    // Forgotten by the service: completed only when last seen printing without an error.
    {"GoneAfterPrintingCleanly",
     {Printing, Gone},
     {"completed: " + Forgotten + "printing, without an error"},
     true},
    {"GoneWhileWaiting", {Waiting, Gone}, {"unknown: " + Forgotten + "waiting to print"}, true},
    {"GoneAfterAnError",
     {job(State::Processing, "Paper jam", {"media-jam-error"}), Gone},
     {"unknown: " + Forgotten + "printing, with an error (Paper jam)"},
     true},
    // A question not answered ends nothing. Kills one taken as a job forgotten.
    {"UnansweredLooks",
     {NoAnswer, NoAnswer, job(State::Completed, "Ready")},
     {"completed: Ready"},
     true},
};

class AFollowedJob : public testing::TestWithParam<Row> {};

} // namespace

TEST_P(AFollowedJob, EndsAsTheServiceSays)
{
    const Row &row = GetParam();
    FakePlatform fake;
    ScriptedSpooler spooler;
    spooler.script[42] = {row.looks.begin(), row.looks.end()};
    JobFollower follower(spooler, *fake.events, fake.platform.runLog.get());
    int told = 0;
    follower.addListener([&told](const JobNews &) { ++told; });
    follower.follow(FollowedJob{QStringLiteral("/decks/a.pptx"), "Laser", 42});
    for (std::size_t k = 0; k < row.looks.size() + 2; ++k)
        follower.look();

    QStringList lines;
    for (const QJsonObject &line : readRunLog(fake.runLogPath())) {
        EXPECT_EQ(line[QLatin1String("job")].toInt(), 42);
        EXPECT_EQ(line[QLatin1String("file")].toString(), QStringLiteral("/decks/a.pptx"));
        lines << line[QLatin1String("outcome")].toString() + QStringLiteral(": ") +
                     line[QLatin1String("message")].toString();
    }
    EXPECT_EQ(lines, row.lines);
    EXPECT_EQ(told, row.lines.size());
    EXPECT_EQ(follower.settled(), row.settled);
}
INSTANTIATE_TEST_SUITE_P(StateSequences, AFollowedJob, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<Row> &row) {
                             return std::string(row.param.name);
                         });
