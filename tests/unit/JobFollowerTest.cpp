// SPDX-License-Identifier: GPL-3.0-or-later
// A print job followed to its end: what the print service says of it, look
// after look, in; the run log's lines and the outcomes told out.

#include "core/run/JobFollower.h"
#include "support/FakePlatform.h"
#include "support/RunLogLines.h"
#include "support/ScriptedSpooler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;
using Said = ScriptedSpooler::Answer;
using State = SpooledJob::State;

namespace {

Said job(State state, QString printerSays = {}, QStringList reasons = {})
{
    JobStatus status;
    status.state = state;
    status.printerMessage = std::move(printerSays);
    status.reasons = std::move(reasons);
    return Said{status};
}
Said onStoppedPrinter(QString printerSays)
{
    Said answer = job(State::Waiting, std::move(printerSays));
    answer.status->printerStopped = true;
    return answer;
}
Said held()
{
    Said answer = job(State::Waiting, {}, {QStringLiteral("job-hold-until-specified")});
    answer.status->held = true;
    return answer;
}
const Said Gone{std::nullopt}, NoAnswer{std::nullopt, true};
const Said Waiting = job(State::Waiting), Printing = job(State::Processing);

const QString LastSeenPrinting = QStringLiteral(
    "the print service no longer knows the job; it was last seen printing, without an error");

struct Row {
    const char *name;
    std::vector<Said> looks; // what the service says at each look
    QStringList lines;       // the run log's lines, as "outcome: message"
    bool settled;            // every job ended or stopped after the last look
    friend void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }
};

const Row Rows[] = {
    // Kills a follower that never tells a job that ended well, or keeps asking after.
    {"Completes",
     {Waiting, Printing, job(State::Completed, {}, {"job-completed-successfully"})},
     {"completed: job-completed-successfully"},
     true},
    // The printer refused the job's options: nothing came out.
    {"CanceledByTheService",
     {Waiting, job(State::Cancelled, "Printer cannot print with supplied options.")},
     {"canceled: Printer cannot print with supplied options."},
     true},
    {"Aborted", {Printing, job(State::Aborted, "Filter failed")}, {"aborted: Filter failed"}, true},
    // Said once, however often it is seen stopped. Kills a line at every look.
    {"StoppedByAJam",
     {Printing, job(State::Stopped, "Paper jam in tray 1", {"job-completed-with-errors"}),
      job(State::Stopped, "Paper jam in tray 1")},
     {"stopped: Paper jam in tray 1"},
     true},
    // Followed on after the stop. Kills a stopped job that is no longer asked about.
    {"PrinterStopsAndResumes",
     {Waiting, onStoppedPrinter("Paused"), onStoppedPrinter("Paused"), Printing,
      job(State::Completed, "Ready")},
     {"stopped: Paused", "completed: Ready"},
     true},
    // Kills a stop that is judged by the job's state alone.
    {"WaitsOnAStoppedPrinter", {Waiting, onStoppedPrinter("Paused")}, {"stopped: Paused"}, true},
    {"HeldForSomeone", {held()}, {"stopped: job-hold-until-specified"}, true},
    {"StillWaiting", {Waiting, Printing}, {}, false},
    // Forgotten by the service: completed only when last seen printing without an error.
    {"GoneAfterPrintingCleanly",
     {Waiting, Printing, Gone},
     {"completed: " + LastSeenPrinting},
     true},
    {"GoneWhileWaiting",
     {Waiting, Gone},
     {"unknown: the print service no longer knows the job; it was last seen waiting to print"},
     true},
    {"GoneAfterPrintingWithAnError",
     {job(State::Processing, "Paper jam", {"media-jam-error"}), Gone},
     {"unknown: the print service no longer knows the job; it was last seen printing, with an "
      "error (Paper jam)"},
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
    const int id = 42;
    spooler.script[id] = {row.looks.begin(), row.looks.end()};
    JobFollower follower(spooler, *fake.events, fake.platform.runLog.get());
    QStringList told;
    follower.addListener([&told](const JobNews &news) { told << jobOutcomeName(news.outcome); });
    follower.follow(FollowedJob{QStringLiteral("/decks/a.pptx"), "Laser", id});
    for (std::size_t k = 0; k < row.looks.size() + 2; ++k)
        follower.look();

    QStringList lines;
    for (const QJsonObject &line : readRunLog(fake.runLogPath())) {
        EXPECT_EQ(line[QLatin1String("job")].toInt(), id);
        EXPECT_EQ(line[QLatin1String("file")].toString(), QStringLiteral("/decks/a.pptx"));
        EXPECT_EQ(line[QLatin1String("printer")].toString(), QStringLiteral("Laser"));
        lines << line[QLatin1String("outcome")].toString() + QStringLiteral(": ") +
                     line[QLatin1String("message")].toString();
    }
    EXPECT_EQ(lines, row.lines);
    EXPECT_EQ(told.size(), row.lines.size());
    EXPECT_EQ(follower.settled(), row.settled);
}
INSTANTIATE_TEST_SUITE_P(StateSequences, AFollowedJob, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<Row> &row) {
                             return std::string(row.param.name);
                         });
