// SPDX-License-Identifier: GPL-3.0-or-later
// A watched folder's rules, in-process: when a dropped file is complete (on a
// clock of the test's own), how a job is found again after a crash, and what
// a watcher does with what an ended watcher had claimed, against the
// simulated application and a print service of the test's own.

#include "core/hotfolder/HotFolder.h"
#include "cli/ConsoleFrontEnd.h"
#include "cli/WatchSession.h"
#include "core/hotfolder/JobIdentity.h"
#include "core/hotfolder/Settling.h"
#include "core/run/KeptApplication.h"
#include "support/FakePlatform.h"
#include "support/RunLogLines.h"
#include "support/TempTree.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSysInfo>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;
using testing::ElementsAre;

namespace {

const QDateTime Noon(QDate(2026, 12, 8), QTime(12, 0));

/** One look at the folder: at `ms`, the file's size, whether a writer holds it, what is ready. */
struct Look {
    qint64 ms;
    qint64 size;
    bool writing;
    QStringList ready;
};

struct SettleRow {
    const char *name;
    std::vector<Look> looks;
    friend void PrintTo(const SettleRow &row, std::ostream *os) { *os << row.name; }
};

class Settles : public testing::TestWithParam<SettleRow> {};

} // namespace

// A file is taken once it held still for the settling time (2 s here) and
// nobody writes it. Kills a settling time of 0 (the closing and reopening
// writer's file taken half-written) and a skipped writers' check (the pausing
// writer's file taken while it is still open), each on its own.
TEST_P(Settles, OnlyCompleteFilesAreReady)
{
    Settling settling(2000);
    const std::vector<Look> &looks = GetParam().looks;
    settling.seen({{QStringLiteral("a.pptx"),
                    FileState{looks.front().size, Noon.addSecs(looks.front().size)}}},
                  looks.front().ms);
    for (const Look &look : looks) {
        const QStringList ready = settling.ready(
            look.ms,
            [&](const QString &) {
                return std::optional<FileState>(FileState{look.size, Noon.addSecs(look.size)});
            },
            [&](const QStringList &names) { return look.writing ? names : QStringList(); });
        EXPECT_EQ(ready, look.ready) << "at " << look.ms << " ms";
    }
}

INSTANTIATE_TEST_SUITE_P(
    HotFolder, Settles,
    testing::Values(
        SettleRow{"ARestingFileIsTaken", {{0, 10, false, {}}, {2000, 10, false, {"a.pptx"}}}},
        // Closed and reopened between chunks 1.5 s apart: each chunk starts the wait again.
        SettleRow{"AWriterThatClosesAndReopensBetweenChunks",
                  {{0, 10, false, {}},
                   {1500, 20, false, {}},
                   {3000, 30, false, {}},
                   {4500, 30, false, {}},
                   {5000, 30, false, {"a.pptx"}}}},
        // Held open through a pause of more than twice the settling time.
        SettleRow{"AWriterThatHoldsItOpenAndPauses",
                  {{0, 10, true, {}},
                   {2000, 10, true, {}},
                   {4500, 10, true, {}},
                   {5000, 10, false, {}},
                   {6500, 10, false, {"a.pptx"}}}}),
    [](const testing::TestParamInfo<SettleRow> &row) { return std::string(row.param.name); });

// A job is the claim's when it was noted by its id or carries the claim's
// identity, and counts only when it may have printed. Kills a lookup that
// takes any job, one that counts an aborted job, and one that ignores the id.
TEST(HotFolder, AClaimsJobIsFoundByItsIdOrItsIdentity)
{
    const QString identity = claimIdentity(QStringLiteral("host-1"), QByteArray(32, '\x5a'));
    EXPECT_EQ(identity, QStringLiteral("deckrun host-1 5a5a5a5a5a5a"));
    const QString named = claimJobName(QStringLiteral("q3.pptx"), identity);
    using State = SpooledJob::State;
    const struct {
        const char *label;
        std::vector<SpooledJob> jobs;
        int noted;
        int found; // 0: none
    } cases[] = {
        {"ByIdentity",
         {{3, "other.pptx", State::Completed, {}}, {4, named, State::Completed, {}}},
         0,
         4},
        {"ById", {{7, "q3.pptx", State::Processing, {}}}, 7, 7},
        {"AnotherWatchersJob",
         {{5, "q3.pptx [deckrun host-2 5a5a5a5a5a5a]", State::Completed, {}}},
         0,
         0},
        {"Aborted", {{6, named, State::Aborted, {}}}, 0, 0},
        {"Cancelled", {{7, "q3.pptx", State::Cancelled, {}}}, 7, 0},
    };
    for (const auto &c : cases) {
        const auto job = printedJob(c.jobs, identity, c.noted);
        EXPECT_EQ(job ? job->id : 0, c.found) << c.label;
    }
    // However long the file's name, the identity stays whole within the 255 bytes.
    const QString longName = claimJobName(QString(300, QChar(0x00e9)), identity);
    EXPECT_LE(longName.toUtf8().size(), 255);
    EXPECT_TRUE(longName.endsWith(QStringLiteral(" [") + identity + QLatin1Char(']')));
    EXPECT_LE(
        fittingName(QString(200, QChar(0x00e9)) + QStringLiteral(".pptx"), 2).toUtf8().size() + 4,
        255);
}

namespace {

/** A print service of the test's own: its jobs, and whether the printer takes more. */
class FakeSpooler final : public PrintSpooler {
public:
    int submit(const QString &, const QString &, const QString &, const JobOptions &) override
    {
        return 0;
    }
    bool acceptsJobs(const QString &) override { return accepting; }
    bool stopped(const QString &) override { return false; }
    std::vector<SpooledJob> jobs(const QString &) override { return history; }

    bool accepting = true;
    std::vector<SpooledJob> history;
};

/** Moves into Printed/ fail, as on a full disk or a folder made read-only. */
class PrintedNotWritable final : public FileHandover {
public:
    MoveOutcome move(const QString &from, const QString &to, QString *error) override
    {
        if (to.contains(QLatin1String("/Printed/"))) {
            if (error)
                *error = QStringLiteral("Read-only file system");
            return MoveOutcome::Failed;
        }
        return FileHandover::move(from, to, error);
    }
};

class Watcher : public testing::Test {
protected:
    Watcher()
    {
        auto spooler = std::make_unique<FakeSpooler>();
        jobs = spooler.get();
        fake.platform.spooler = std::move(spooler);
        fake.dialogs->setApplicationTitle(QStringLiteral("Deckrun"));
    }

    /** A watcher starts on the folder, takes `name` when given, and ends. */
    void startAndTake(const QString &name = {})
    {
        ConsoleDialogs dialogs(WhenRunning::GoOnQuietly);
        WatchSession session(fake.platform, dialogs,
                             WatchOptions{.folder = tree.path(), .printer = "PDF"}, way, stop);
        ASSERT_TRUE(session.start());
        if (!name.isEmpty())
            session.handle(name);
    }
    QStringList in(const QString &sub) const { return QDir(tree.at(sub)).entryList(QDir::Files); }
    /** This process's own claim folder: what a watcher of its name left. */
    QString ownClaim() const
    {
        return QStringLiteral("Processing/") +
               watcherName(QSysInfo::machineHostName(), QCoreApplication::applicationPid());
    }

    TempTree tree;
    FakePlatform fake;
    FakeSpooler *jobs;
    PrintWay way{.strategy = std::make_unique<OneApplication>(*fake.platform.office,
                                                              *fake.platform.files, 100, true),
                 .pause = PauseRule::None};
    ConsoleStop stop{{}};
};

} // namespace

namespace {

struct TakeOverRow {
    const char *name;
    const char *note; // what the ended watcher noted beside the file
    SpooledJob::State state;
    bool printed; // moved to Printed/ (else put back to be printed again)
    friend void PrintTo(const TakeOverRow &row, std::ostream *os) { *os << row.name; }
};

class TakesOver : public Watcher, public testing::WithParamInterface<TakeOverRow> {};

} // namespace

// A claim whose watcher ended is printed again only when the print service
// has no job of it. Kills a takeover that prints every orphan again (a second
// copy after each crash) and one that trusts a job that printed nothing.
TEST_P(TakesOver, AClaimAsItsJobSays)
{
    tree.file(QStringLiteral("Processing/ended-1/a.ppt"), "a deck");
    if (*GetParam().note)
        tree.file(QStringLiteral("Processing/ended-1/.a.ppt.deckrun"), GetParam().note);
    jobs->history = {{7, QStringLiteral("a.ppt"), GetParam().state, {}}};
    startAndTake();
    const QStringList a{QStringLiteral("a.ppt")};
    EXPECT_EQ(in(QStringLiteral("Printed")), GetParam().printed ? a : QStringList());
    EXPECT_EQ(in(QStringLiteral(".")), GetParam().printed ? QStringList() : a);
    EXPECT_TRUE(fake.office->printed().isEmpty()) << "nothing printed before it settles";
    EXPECT_EQ(runLogOutcomes(fake.runLogPath()).size(), GetParam().printed ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    HotFolder, TakesOver,
    testing::Values(TakeOverRow{"JobCompleted", "job 7", SpooledJob::State::Completed, true},
                    TakeOverRow{"JobAborted", "job 7", SpooledJob::State::Aborted, false},
                    TakeOverRow{"NoteButNoJob", "job 8", SpooledJob::State::Completed, false},
                    TakeOverRow{"NoNote", "", SpooledJob::State::Completed, false}),
    [](const testing::TestParamInfo<TakeOverRow> &row) { return std::string(row.param.name); });

// A printed file that cannot be moved to Printed/ stays in its claim with a
// note, and no restart prints it again. Kills a claim left without its note
// (taken back and printed at every start).
TEST_F(Watcher, AFileThatCannotBeMovedOutIsNeverPrintedAgain)
{
    fake.platform.handover = std::make_unique<PrintedNotWritable>();
    tree.file(QStringLiteral("a.ppt"), "a deck");
    startAndTake(QStringLiteral("a.ppt"));
    for (int restart = 0; restart < 3; ++restart)
        startAndTake();
    EXPECT_EQ(fake.office->printed().size(), 1);
    EXPECT_EQ(in(ownClaim()), QStringList{QStringLiteral("a.ppt")});
}

// A printer stopped or refusing jobs for a while holds the dropped files in
// the folder; they are not failed one by one. Kills a watcher that takes
// files while its printer takes no jobs.
TEST_F(Watcher, AFileWaitsWhileThePrinterTakesNoJobs)
{
    jobs->accepting = false;
    tree.file(QStringLiteral("a.ppt"), "a deck");
    ConsoleDialogs dialogs(WhenRunning::GoOnQuietly);
    WatchSession session(
        fake.platform, dialogs,
        WatchOptions{.folder = tree.path(), .printer = "PDF", .settleMilliseconds = 1}, way, stop);
    ASSERT_TRUE(session.start());
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(in(QStringLiteral(".")), QStringList{QStringLiteral("a.ppt")});
    EXPECT_TRUE(fake.office->printed().isEmpty());
}
