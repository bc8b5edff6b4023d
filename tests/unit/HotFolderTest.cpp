// SPDX-License-Identifier: GPL-3.0-or-later
// A watched folder's rules, in-process: when a dropped file is complete (on a
// clock of the test's own), how a job is found again after a crash, and what
// a watcher does with what an ended watcher had claimed, against the
// simulated application and a print service of the test's own.

#include "core/hotfolder/HotFolder.h"
#include "cli/ConsoleFrontEnd.h"
#include "cli/TerminalOutput.h"
#include "cli/WatchSession.h"
#include "core/common/ErrorReport.h"
#include "core/hotfolder/JobIdentity.h"
#include "core/hotfolder/Settling.h"
#include "core/run/KeptApplication.h"
#include "support/FakePlatform.h"
#include "support/RunLogLines.h"
#include "support/TempTree.h"
#include "support/Unprivileged.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSysInfo>

#include <sys/stat.h>
#include <unistd.h>

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
    std::vector<SpooledJob> jobs(const QString &) override
    {
        if (unreachable)
            throw Failure(QStringLiteral("CUPS is not running"));
        return history;
    }

    bool accepting = true;
    bool unreachable = false;
    std::vector<SpooledJob> history;
};

struct ReconcileRow {
    const char *name;
    ClaimNote note;
    QString identity; // the claim's; empty: its content could not be read
    SpooledJob job;   // the printer's one job
    bool unreachable; // the print service cannot be asked
    Reconciled::Outcome outcome;
    bool recorded;
    int number; // the job id (printed) or step (failed) it ends with
    friend void PrintTo(const ReconcileRow &row, std::ostream *os) { *os << row.name; }
};

class Reconciles : public testing::TestWithParam<ReconcileRow> {};

} // namespace

// What becomes of a claim an ended watcher left: its note first, then the
// print service. Kills a note read wrong ("printed" taken for a job to look
// up, "failed" for printed), a lookup that ignores the noted id, a claim
// without identity matched by any job named " []", and a service that cannot
// be asked taken for "no job" without a word.
TEST_P(Reconciles, AClaimByItsNoteAndItsJob)
{
    const ReconcileRow &row = GetParam();
    FakeSpooler spooler;
    spooler.unreachable = row.unreachable;
    spooler.history = {row.job};
    const Reconciled r =
        reconcile(Claimed{"/f/Processing/h-1/a.ppt", "a.ppt", "h-1", row.note, row.identity},
                  &spooler, "PDF");
    EXPECT_EQ(r.outcome, row.outcome);
    EXPECT_EQ(r.recorded, row.recorded);
    EXPECT_EQ(r.outcome == Reconciled::Outcome::Failed ? r.failedStep : r.jobId, row.number);
    EXPECT_EQ(r.unknown.isEmpty(), !row.unreachable || row.recorded);
}

namespace {

using Outcome = Reconciled::Outcome;
using State = SpooledJob::State;
const QString Ours = QStringLiteral("deckrun h-1 5a5a5a5a5a5a");

} // namespace

INSTANTIATE_TEST_SUITE_P(
    HotFolder, Reconciles,
    testing::Values(
        ReconcileRow{
            "NotedPrinted", ClaimNote::printed(12), Ours, {}, true, Outcome::Printed, true, 12},
        ReconcileRow{
            "NotedFailed", ClaimNote::failed(120), Ours, {}, true, Outcome::Failed, true, 120},
        ReconcileRow{"NotedJobCompleted",
                     ClaimNote::job(7),
                     Ours,
                     {7, "a.ppt", State::Completed, {}},
                     false,
                     Outcome::Printed,
                     false,
                     7},
        ReconcileRow{"JobOfItsIdentity",
                     {},
                     Ours,
                     {9, "a.ppt [deckrun h-1 5a5a5a5a5a5a]", State::Processing, {}},
                     false,
                     Outcome::Printed,
                     false,
                     9},
        ReconcileRow{"NoIdentityNoNote",
                     {},
                     {},
                     {9, "a.ppt []", State::Completed, {}},
                     false,
                     Outcome::PutBack,
                     false,
                     0},
        ReconcileRow{"ServiceCannotBeAsked",
                     ClaimNote::job(7),
                     Ours,
                     {7, "a.ppt", State::Completed, {}},
                     true,
                     Outcome::PutBack,
                     false,
                     0}),
    [](const testing::TestParamInfo<ReconcileRow> &row) { return std::string(row.param.name); });

namespace {

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

namespace {

enum class Dropped { Deck, LinkToASecret, DeckAndAStopWhileStep106Asks };

struct TakeRow {
    const char *name;
    Dropped dropped;
    bool printed; // else a.ppt is still in the drop folder, as it was, and nothing failed
    friend void PrintTo(const TakeRow &row, std::ostream *os) { *os << row.name; }
};

class Takes : public Watcher, public testing::WithParamInterface<TakeRow> {};

} // namespace

// Only a regular file is taken, and only a file the run began is filed.
// Kills a claim that takes a link (the dropper's way to a file they may not
// read), and a watcher that files under Failed/ a deck a stop kept it from
// ever trying ("step 112, The file was not printed.").
TEST_P(Takes, OnlyFilesAndFilesOnlyOnceTried)
{
    TempTree elsewhere;
    const QString secret = elsewhere.file(QStringLiteral("private.ppt"), "another's deck");
    if (GetParam().dropped == Dropped::LinkToASecret) {
        // A shared drop folder, and another user who drops a link there.
        ASSERT_EQ(::chmod(qPrintable(tree.path()), 01777), 0);
        EXPECT_EQ(asUnprivilegedUser([&] {
                      return QFile::link(secret, tree.at(QStringLiteral("a.ppt"))) ? QString()
                                                                                   : "no link";
                  }),
                  QString());
    } else
        tree.file(QStringLiteral("a.ppt"), "a deck");
    if (GetParam().dropped == Dropped::DeckAndAStopWhileStep106Asks)
        fake.office->onCall([this](const QString &word, const QString &) {
            if (word == QLatin1String("GetRunning"))
                stop.runStop().request();
        });
    startAndTake(QStringLiteral("a.ppt"));
    const QStringList a{QStringLiteral("a.ppt")};
    EXPECT_EQ(fake.office->printed().size(), GetParam().printed ? 1 : 0);
    EXPECT_EQ(in(QStringLiteral("Printed")), GetParam().printed ? a : QStringList());
    EXPECT_EQ(in(QStringLiteral(".")), GetParam().printed ? QStringList() : a);
    EXPECT_EQ(QFileInfo(tree.at(QStringLiteral("a.ppt"))).isSymLink(),
              GetParam().dropped == Dropped::LinkToASecret);
    EXPECT_EQ(in(QStringLiteral("Failed")), QStringList());
    EXPECT_EQ(runLogOutcomes(fake.runLogPath()).size(), GetParam().printed ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    HotFolder, Takes,
    testing::Values(TakeRow{"ADeck", Dropped::Deck, true},
                    TakeRow{"ALinkToAFileTheDropperCannotRead", Dropped::LinkToASecret, false},
                    TakeRow{"AStopWhileStep106Asks", Dropped::DeckAndAStopWhileStep106Asks, false}),
    [](const testing::TestParamInfo<TakeRow> &row) { return std::string(row.param.name); });

namespace {

enum class Planted { Nothing, FailedAsALink, PrintedOfAnotherUser, ProcessingWritableByAll };

struct OwnFolderRow {
    const char *name;
    Planted planted;
    const char *said; // in what the refusal says; none: the watcher starts
    friend void PrintTo(const OwnFolderRow &row, std::ostream *os) { *os << row.name; }
};

class OwnFolders : public testing::TestWithParam<OwnFolderRow> {};

} // namespace

// The watcher's folders are its own, or it does not start, and writes nothing
// through them. Kills a start that trusts a planted link, another user's
// folder or one anybody may write, each on its own, and one that refuses all.
TEST_P(OwnFolders, ArePlantedByNobodyElse)
{
    TempTree tree, elsewhere;
    FileHandover files;
    switch (GetParam().planted) {
    case Planted::Nothing:
        break;
    case Planted::FailedAsALink:
        ASSERT_TRUE(QFile::link(elsewhere.path(), tree.at(QStringLiteral("Failed"))));
        break;
    case Planted::PrintedOfAnotherUser:
        if (::geteuid() != 0)
            GTEST_SKIP() << "giving a folder to another user takes root";
        ASSERT_EQ(::chown(qPrintable(tree.folder(QStringLiteral("Printed"))), 65534, 65534), 0);
        break;
    case Planted::ProcessingWritableByAll:
        ASSERT_EQ(::chmod(qPrintable(tree.folder(QStringLiteral("Processing"))), 0777), 0);
        break;
    }
    QString said;
    {
        HotFolder hot(files, tree.path(), QStringLiteral("h-1"),
                      [&](const QString &text) { said += text; });
        EXPECT_EQ(hot.open(), *GetParam().said == 0) << said.toStdString();
    }
    EXPECT_TRUE(said.contains(QLatin1String(GetParam().said))) << said.toStdString();
    EXPECT_TRUE(
        QDir(elsewhere.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

INSTANTIATE_TEST_SUITE_P(
    HotFolder, OwnFolders,
    testing::Values(OwnFolderRow{"AllOwn", Planted::Nothing, ""},
                    OwnFolderRow{"FailedAsALink", Planted::FailedAsALink, "Failed\" is refused"},
                    OwnFolderRow{"PrintedOfAnotherUser", Planted::PrintedOfAnotherUser,
                                 "belongs to another user"},
                    OwnFolderRow{"ProcessingWritableByAll", Planted::ProcessingWritableByAll,
                                 "(mode 0777)"}),
    [](const testing::TestParamInfo<OwnFolderRow> &row) { return std::string(row.param.name); });

// A note is made new: one planted at its name is replaced, never written
// through, and a long name gets a note that fits. Kills a note opened over
// what is there (O_TRUNC through the link) and one named after the whole file name.
TEST(HotFolder, ANoteIsMadeNewAndFits)
{
    for (const QString &name : {QStringLiteral("a.ppt"), QString(240, QLatin1Char('n')) + ".ppt"}) {
        TempTree tree, elsewhere;
        FileHandover files;
        const QString victim = elsewhere.file(QStringLiteral("victim.conf"), "IMPORTANT");
        HotFolder hot(files, tree.path(), QStringLiteral("h-1"), [](const QString &) {});
        ASSERT_TRUE(hot.open());
        const QString claimed = tree.file(QStringLiteral("Processing/h-1/") + name);
        QFile::link(victim, tree.at(QStringLiteral("Processing/h-1/") + ClaimNote::nameFor(name)));
        EXPECT_TRUE(hot.note(claimed, ClaimNote::job(230)));
        QFile kept(victim);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), "IMPORTANT");
        std::vector<Claimed> found;
        hot.takeOverOrphans([&](const Claimed &c) { found.push_back(c); });
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].note, ClaimNote::job(230)) << name.size();
    }
}

// Every name a person or a log reads is escaped by one escaper, also in the
// error reports: no name writes a line of its own on standard error. Kills a
// report that quotes the path raw, and "\n" in a name read as a line break.
TEST(HotFolder, ANameForgesNoLine)
{
    EXPECT_EQ(oneLine(QStringLiteral("a\\nb\n\x1b")), QStringLiteral("a\\\\nb\\n\\x1B"));
    const QString claimed = QStringLiteral("/f/Processing/h-1/bad\nProcessing: forged.pptx\n.pptx");
    ConsoleDialogs dialogs(WhenRunning::GoOnQuietly);
    dialogs.setFileInHand(QStringLiteral("/tmp/copy/bad\nProcessing: forged.pptx\n.pptx"), claimed);
    testing::internal::CaptureStderr();
    ShowErrorReport(dialogs,
                    QStringLiteral("It could not open \"/tmp/copy/bad\nProcessing: "
                                   "forged.pptx\n.pptx\": the file is damaged."),
                    printRunLocation(), 120);
    const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());
    EXPECT_FALSE(said.contains(QStringLiteral("\nProcessing: "))) << said.toStdString();
    EXPECT_TRUE(said.contains(oneLine(claimed))) << said.toStdString();
    EXPECT_EQ(dialogs.takeReports(), QStringList{said.trimmed()});
}
