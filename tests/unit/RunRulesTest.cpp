// SPDX-License-Identifier: GPL-3.0-or-later
// The rules the print run keeps whatever the way a file is printed: each test
// is one table, run for every way (a fresh application per file, one kept
// application, kept applications side by side) and, where the rule reaches
// it, for the watched folder.

#include "cli/BatchRun.h"
#include "cli/CommandLine.h"
#include "cli/ConsoleFrontEnd.h"
#include "cli/WatchSession.h"
#include "core/queue/QueueModel.h"
#include "core/run/FreshApplication.h"
#include "core/run/KeptApplication.h"
#include "core/run/Lanes.h"
#include "core/run/RunStop.h"
#include "support/FakePlatform.h"
#include "support/RecordingFrontEnd.h"
#include "support/RunLogLines.h"
#include "support/TempTree.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

using namespace deckrun;
using namespace deckrun::test;
using testing::ElementsAre;

namespace {

/** The applications a way prints through: the platform's, or simulated ones of its own. */
struct Offices {
    FakePlatform &fake;
    std::function<void(SimAutomation &)> prepare;
    std::vector<std::shared_ptr<SimAutomation>> made;
    std::vector<std::unique_ptr<PresentationAutomation>> kept;

    std::unique_ptr<PresentationAutomation> make()
    {
        made.push_back(std::make_shared<SimAutomation>());
        if (prepare)
            prepare(*made.back());
        return std::make_unique<SharedSim>(made.back());
    }
    PresentationAutomation &own() { return *kept.emplace_back(make()); }
    /** What the run printed through: its own applications, else the platform's. */
    std::vector<SimAutomation *> printing() const
    {
        std::vector<SimAutomation *> sims;
        for (const auto &sim : made)
            sims.push_back(sim.get());
        return sims.empty() ? std::vector<SimAutomation *>{fake.office} : sims;
    }
};

/** One way to print a file, as the table's rows name it. */
struct Way {
    const char *name;
    const char *closing; // the call that ends a printed file: the application's or the deck's
    std::function<std::unique_ptr<PrintStrategy>(Offices &)> make;
    friend void PrintTo(const Way &way, std::ostream *os) { *os << way.name; }
};

const Way Ways[] = {
    {"FreshApplication", "Quit",
     [](Offices &o) {
         return std::make_unique<FreshApplication>(*o.fake.platform.office, *o.fake.platform.files);
     }},
    // --fast prints through an application of its own, not the platform's.
    {"OneApplication", "Close",
     [](Offices &o) { return std::make_unique<OneApplication>(o.own(), *o.fake.platform.files); }},
    // --fast: one lane and a spare, started ahead, for after a failed file.
    {"LaneAndSpare", "Close",
     [](Offices &o) {
         return std::make_unique<Lanes>([&o](Printers &) { return o.make(); },
                                        *o.fake.platform.printers, *o.fake.platform.files,
                                        *o.fake.platform.events, 1);
     }},
    {"Lanes", "Close",
     [](Offices &o) {
         return std::make_unique<Lanes>([&o](Printers &) { return o.make(); },
                                        *o.fake.platform.printers, *o.fake.platform.files,
                                        *o.fake.platform.events, 2);
     }},
};

const QString A = QStringLiteral("/decks/a.ppt"), B = QStringLiteral("/decks/b.ppt");

class EveryWay : public testing::TestWithParam<Way> {
protected:
    /** Prints `paths` the row's way; `prepare` readies each application it prints through. */
    void run(const QStringList &paths, std::function<void(SimAutomation &)> prepare = {})
    {
        offices.made.clear();
        offices.prepare = prepare;
        if (prepare)
            prepare(*fake.office);
        const std::unique_ptr<PrintStrategy> strategy = GetParam().make(offices);
        run(paths, *strategy);
    }
    void run(const QStringList &paths, PrintStrategy &strategy)
    {
        QueueModel queue;
        queue.append(paths);
        bool printing = false;
        printQueue(RunSetup{.platform = fake.platform,
                            .choices = frontEnd,
                            .progress = frontEnd,
                            .strategy = strategy,
                            .pause = PauseRule::None,
                            .stop = &stop},
                   queue, printing);
    }
    QStringList printed() const
    {
        QStringList paths;
        for (SimAutomation *sim : offices.printing())
            paths << sim->printed();
        return paths;
    }

    FakePlatform fake;
    Offices offices{fake, {}, {}, {}};
    RecordingFrontEnd frontEnd;
    RunStop stop;
};

constexpr auto RowName = [](const auto &info) { return std::string(info.param.name); };

} // namespace

// A deck whose print job was confirmed is in the run log at once, before its
// close, and stays printed whatever fails after: the report changes nothing.
// Kills a line written only once the file's steps are done (lost when a run
// is killed during the close, and "failed" when the close fails).
using CloseFailsAfterThePrint = EveryWay;
TEST_P(CloseFailsAfterThePrint, IsLoggedPrintedBeforeTheCloseAndReported)
{
    std::atomic<int> linesAtTheClose{-1};
    run({A}, [this, &linesAtTheClose](SimAutomation &sim) {
        const QString closing = QString::fromLatin1(GetParam().closing);
        sim.failAt(closing, QStringLiteral("It will not close."));
        sim.onCall([this, closing, &linesAtTheClose](const QString &word, const QString &) {
            if (word == closing)
                linesAtTheClose = static_cast<int>(runLogOutcomes(fake.runLogPath()).size());
        });
    });
    EXPECT_EQ(linesAtTheClose, 1);
    EXPECT_THAT(runLogOutcomes(fake.runLogPath()),
                ElementsAre(QStringLiteral("a.ppt printed on Office Laser")));
    ASSERT_EQ(frontEnd.ended.size(), 1u);
    EXPECT_TRUE(frontEnd.ended[0].printed());
    EXPECT_THAT(fake.dialogs->reportedSteps(printRunLocation()), ElementsAre(132));
}
INSTANTIATE_TEST_SUITE_P(EveryWay, CloseFailsAfterThePrint, testing::ValuesIn(Ways), RowName);

// A print that fails is no print: the line names step 130. Kills a line
// written as printed whatever step 130 did.
using APrintThatFails = EveryWay;
TEST_P(APrintThatFails, IsLoggedFailedAtItsStep)
{
    run({A}, [](SimAutomation &sim) {
        sim.failAt(QStringLiteral("PrintOut"), QStringLiteral("The printer refused it."));
    });
    EXPECT_THAT(runLogOutcomes(fake.runLogPath()),
                ElementsAre(QStringLiteral("a.ppt failed 130: The printer refused it. on Office "
                                           "Laser")));
}
INSTANTIATE_TEST_SUITE_P(EveryWay, APrintThatFails, testing::ValuesIn(Ways), RowName);

// "Done." is the front end's to say: a console says it on its own line, and
// no box is shown. Kills a run that shows the box whatever the front end did.
using TheEndOfARun = EveryWay;
TEST_P(TheEndOfARun, IsTheFrontEndsToSay)
{
    const auto dones = [this] {
        return std::count_if(fake.dialogs->messages.begin(), fake.dialogs->messages.end(),
                             [](const ShownMessage &m) { return m.text == "Done."; });
    };
    frontEnd.saysDone = true;
    run({A});
    EXPECT_EQ(dones(), 0);
    frontEnd.saysDone = false;
    run({B});
    EXPECT_EQ(dones(), 1);
}
INSTANTIATE_TEST_SUITE_P(EveryWay, TheEndOfARun, testing::ValuesIn(Ways), RowName);

// Asked to stop while a file is in hand, the run lets it end (printed and
// logged) and begins no other, also one opened ahead. A second request stops
// the applications the run prints through. Kills a stop checked only between
// runs, and a second request that stops the platform's application while
// another prints.
using AStop = EveryWay;
TEST_P(AStop, LetsTheFileInHandEndAndASecondStopsItsApplications)
{
    frontEnd.onFileStarted = [this](int) { stop.request(); };
    run({A, B});
    EXPECT_THAT(printed(), ElementsAre(A + QStringLiteral(" -> Office Laser")));
    EXPECT_THAT(runLogOutcomes(fake.runLogPath()),
                ElementsAre(QStringLiteral("a.ppt printed on Office Laser")));

    stop = RunStop();
    const int platformStops = fake.office->shutdowns() + fake.office->aborts();
    frontEnd.onFileStarted = [this](int) {
        stop.request();
        stop.request();
    };
    run({A, B});
    for (SimAutomation *sim : offices.printing())
        EXPECT_GT(sim->shutdowns() + sim->aborts(), sim == fake.office ? platformStops : 0);
}
INSTANTIATE_TEST_SUITE_P(EveryWay, AStop, testing::ValuesIn(Ways), RowName);

// A way of printing serves one run after another (a watched folder's runs
// of one file each). Kills lanes that are gone after their first run.
using ASecondRun = EveryWay;
TEST_P(ASecondRun, PrintsOnTheSameWay)
{
    const std::unique_ptr<PrintStrategy> strategy = GetParam().make(offices);
    run({A}, *strategy);
    run({B}, *strategy);
    EXPECT_THAT(runLogOutcomes(fake.runLogPath()),
                ElementsAre(QStringLiteral("a.ppt printed on Office Laser"),
                            QStringLiteral("b.ppt printed on Office Laser")));
}
INSTANTIATE_TEST_SUITE_P(EveryWay, ASecondRun, testing::ValuesIn(Ways), RowName);

namespace {

struct WatchedWay {
    const char *name;
    bool fast;
    const char *closing;
    friend void PrintTo(const WatchedWay &way, std::ostream *os) { *os << way.name; }
};

} // namespace

// Kills a watcher that moves a printed file to Failed/ (to be dropped, and
// printed, again) because a step after the print failed.
class CloseFailsAfterThePrintInAWatchedFolder : public testing::TestWithParam<WatchedWay> {};
TEST_P(CloseFailsAfterThePrintInAWatchedFolder, MovesItToPrinted)
{
    TempTree tree;
    FakePlatform fake;
    fake.office->failAt(QString::fromLatin1(GetParam().closing), QStringLiteral("Stuck."));
    tree.file(QStringLiteral("a.ppt"), "a deck");
    ConsoleDialogs dialogs(WhenRunning::GoOnQuietly);
    ConsoleStop stop({});
    PrintWay way;
    if (GetParam().fast)
        way.strategy = std::make_unique<OneApplication>(*fake.platform.office, *fake.platform.files,
                                                        100, true);
    else
        way.strategy =
            std::make_unique<FreshApplication>(*fake.platform.office, *fake.platform.files);
    WatchSession session(fake.platform, dialogs,
                         WatchOptions{.folder = tree.path(), .printer = "Office Laser"}, way, stop);
    ASSERT_TRUE(session.start());
    session.handle(QStringLiteral("a.ppt"));
    EXPECT_THAT(QDir(tree.at("Printed")).entryList(QDir::Files), ElementsAre("a.ppt"));
    EXPECT_TRUE(QDir(tree.at("Failed")).entryList(QDir::Files).isEmpty());
    EXPECT_THAT(runLogOutcomes(fake.runLogPath()),
                ElementsAre(QStringLiteral("a.ppt printed on Office Laser")));
}
INSTANTIATE_TEST_SUITE_P(EveryWay, CloseFailsAfterThePrintInAWatchedFolder,
                         testing::Values(WatchedWay{"FreshApplication", false, "Quit"},
                                         WatchedWay{"OneApplication", true, "Close"}),
                         RowName);

namespace {

/** Handles the program's events until `done` says so or `ms` have passed. */
bool handleEventsUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

} // namespace

// A watcher never prints through an application someone else started (the
// user's PowerPoint, which the run would quit): the settled file waits, the
// wait is said once, and the file prints once that application has ended.
// Kills a watcher that prints at once, and one that never looks again.
TEST(AWatchedFolder, WaitsWhileSomeoneElsesApplicationRuns)
{
    TempTree tree;
    FakePlatform fake;
    fake.office->setSomeoneElsesRunning(true);
    tree.file(QStringLiteral("a.ppt"), "a deck");
    ConsoleDialogs dialogs(WhenRunning::GoOnQuietly);
    ConsoleStop stop({});
    PrintWay way{.strategy = std::make_unique<FreshApplication>(*fake.platform.office,
                                                                *fake.platform.files)};
    WatchSession session(fake.platform, dialogs,
                         WatchOptions{.folder = tree.path(),
                                      .printer = "Office Laser",
                                      .settleMilliseconds = 0,
                                      .othersLookMilliseconds = 50},
                         way, stop);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(session.start());
    const auto printedNow = [&] { return !QDir(tree.at("Printed")).isEmpty(); };
    EXPECT_FALSE(handleEventsUntil(printedNow, 500));
    EXPECT_FALSE(fake.office->calls().contains(QStringLiteral("Create")));
    fake.office->setSomeoneElsesRunning(false);
    EXPECT_TRUE(handleEventsUntil(printedNow, 5000));
    const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());
    EXPECT_EQ(said.count(QStringLiteral("PowerPoint is running and Deckrun did not start it")), 1)
        << said.toStdString();
    EXPECT_EQ(fake.office->printed().size(), 1);
}

namespace {

struct PrintWayRow {
    const char *name;
    RunMode mode;
    bool fast;
    std::optional<int> pause;
    PauseRule rule;
    int digit;
    int starts; // of the application, over two runs of a file each
    friend void PrintTo(const PrintWayRow &row, std::ostream *os) { *os << row.name; }
};

class PrintWays : public testing::TestWithParam<PrintWayRow> {};

} // namespace

// `--print` and `--watch` choose how to print and pause in one place. Kills
// a watcher's --fast on the platform's application (none of its own), one
// that quits its kept application with each file's run, and a door whose
// pause is read differently.
TEST_P(PrintWays, AreChosenAlikeForEitherDoor)
{
    const PrintWayRow &row = GetParam();
    TempTree tree;
    FakePlatform fake;
    fake.settings->values.insert(QStringLiteral("Combo2"), QStringLiteral("7"));
    CommandLine line;
    line.mode = row.mode;
    line.fast = row.fast;
    line.pause = row.pause;
    std::vector<std::shared_ptr<SimAutomation>> made;
    PrintWay way = printWay(fake.platform, line, [&](Printers &) {
        made.push_back(std::make_shared<SimAutomation>());
        return std::make_unique<SharedSim>(made.back());
    });
    EXPECT_EQ(way.pause, row.rule);
    EXPECT_EQ(way.pauseDigit, row.digit);
    RecordingFrontEnd front;
    for (int run = 0; run < 2; ++run) {
        QueueModel queue;
        queue.append(tree.file(QStringLiteral("a.ppt")));
        bool printing = false;
        printQueue(RunSetup{fake.platform, front, front, *way.strategy, PauseRule::None}, queue,
                   printing);
    }
    ASSERT_EQ(made.size(), row.fast ? 1u : 0u);
    const SimAutomation &office = row.fast ? *made.front() : *fake.office;
    EXPECT_EQ(office.calls().count(QStringLiteral("Create")), row.starts);
    EXPECT_EQ(office.printed().size(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    EitherDoor, PrintWays,
    testing::Values(
        PrintWayRow{
            "PrintTheWindowsWay", RunMode::Print, false, {}, PauseRule::DigitAndOneSecond, 7, 2},
        PrintWayRow{"WatchTheWindowsWay", RunMode::Watch, false, 2, PauseRule::DigitAndOneSecond, 2,
                    2},
        PrintWayRow{"PrintFast", RunMode::Print, true, {}, PauseRule::None, 0, 2},
        PrintWayRow{"WatchFast", RunMode::Watch, true, 3, PauseRule::Digit, 3, 1}),
    RowName);
