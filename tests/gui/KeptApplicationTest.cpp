// SPDX-License-Identifier: GPL-3.0-or-later
// The print run through kept applications (`deckrun --print --fast`, with
// --jobs) against the simulated presentation application: one application for
// many files, a fresh one after a file that failed and after every so many
// files, no fixed waits.

#include "core/run/KeptApplication.h"
#include "core/queue/QueueModel.h"
#include "core/run/Lanes.h"
#include "core/run/PrintRun.h"
#include "core/run/RunStop.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "support/FakePlatform.h"
#include "support/RecordingFrontEnd.h"
#include "support/RunLogLines.h"

#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>

using namespace deckrun;
using namespace deckrun::test;
using testing::ElementsAre;

namespace {

const QString Printer = QStringLiteral("Office Laser");

QString deck(const QString &name)
{
    const QChar s = pathSeparator();
    return s + QStringLiteral("decks") + s + name;
}

/** How the kept application runs. */
struct FastRunOptions {
    bool pauses = false; // the pause digit after each file; otherwise none
    int renewEvery = 100;
};

class FastRun : public testing::Test {
protected:
    void run(const QStringList &paths, const FastRunOptions &options = {})
    {
        run(paths, options, fake);
    }
    void run(const QStringList &paths, const FastRunOptions &options, FakePlatform &on)
    {
        OneApplication strategy(*on.platform.office, *on.platform.files, options.renewEvery);
        run(paths, strategy, options.pauses, on);
    }
    void run(const QStringList &paths, PrintStrategy &strategy, bool pauses, FakePlatform &on)
    {
        queue.clear();
        queue.append(paths);
        bool printing = false;
        printQueue(RunSetup{.platform = on.platform,
                            .choices = choices,
                            .progress = choices,
                            .strategy = strategy,
                            .pause = pauses ? PauseRule::Digit : PauseRule::None,
                            .stop = &stop},
                   queue, printing);
        EXPECT_FALSE(printing);
    }

    /** Two lanes, each on a simulated application made ready by `prepare` (its number, 0 first). */
    void runOnTwoLanes(const QStringList &paths,
                       const std::function<void(SimAutomation &, int)> &prepare)
    {
        Lanes lanes(
            [&](Printers &) {
                sims.push_back(std::make_shared<SimAutomation>());
                prepare(*sims.back(), static_cast<int>(sims.size()) - 1);
                return std::make_unique<SharedSim>(sims.back());
            },
            *fake.platform.printers, *fake.platform.files, *fake.platform.events, 2);
        run(paths, lanes, false, fake);
    }

    QueueModel queue;
    RunStop stop;
    std::vector<std::shared_ptr<SimAutomation>> sims;
    const QString first = deck(QStringLiteral("a.ppt")), second = deck(QStringLiteral("b.ppt")),
                  third = deck(QStringLiteral("c.ppt"));

    FakePlatform fake;
    RecordingFrontEnd choices;
};

} // namespace

// A damaged file the application refused to open leaves it holding nothing:
// it is kept when it still answers, and replaced when it does not. A folder,
// refused before the application is asked, costs it nothing either: kills an
// application stopped and started again after a file it never saw.
TEST_F(FastRun, OneApplicationForTheGoodFilesPastADamagedOneFreshWhenItNoLongerAnswers)
{
    QTemporaryDir folders;
    const QString folder = folders.filePath(QStringLiteral("damaged.ppt"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString a = deck(QStringLiteral("a.ppt")), b = deck(QStringLiteral("b.ppt")),
                  c = deck(QStringLiteral("c.ppt"));
    const auto printed = [](const QString &path) {
        return QStringList{QStringLiteral("OpenHidden:") + path,
                           QStringLiteral("ActivePresentation"),
                           QStringLiteral("ActivePrinter=") + Printer,
                           QStringLiteral("PrintInBackground=false"),
                           QStringLiteral("PrintOut"),
                           QStringLiteral("Close"),
                           QStringLiteral("ReleasePresentation")};
    };
    const struct {
        bool answers, aFolder;
        QStringList afterRefusal;
        int shutdowns;
    } cases[] = {
        {true, false, {QStringLiteral("Name")}, 1},
        {false,
         false,
         {QStringLiteral("Name"), QStringLiteral("ReleaseApp"), QStringLiteral("Create")},
         2},
        {false, true, {}, 1},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.aFolder ? "a folder" : row.answers ? "answers" : "no longer answers");
        const QString bad = row.aFolder ? folder : deck(QStringLiteral("damaged.ppt"));
        FakePlatform on;
        on.office->failOpenFor(bad, QStringLiteral("The file could not be opened."));
        if (!row.answers)
            on.office->failAt(QStringLiteral("Name"), QStringLiteral("It is gone."));
        run({a, bad, b, c}, {}, on);

        const QStringList opened =
            row.aFolder ? QStringList() : QStringList{QStringLiteral("OpenHidden:") + bad};
        const QStringList expected =
            QStringList{QStringLiteral("GetRunning"), QStringLiteral("Create")} + printed(a) +
            opened + row.afterRefusal + printed(b) + printed(c) +
            QStringList{QStringLiteral("Quit"), QStringLiteral("ReleaseApp")};
        EXPECT_EQ(on.office->calls(), expected);
        EXPECT_EQ(on.office->shutdowns(), row.shutdowns);

        // The same reports as the window's run gives for a file that does not open.
        EXPECT_THAT(on.dialogs->reportedSteps(printRunLocation()),
                    ElementsAre(120, 122, 126, 128, 130, 132));
        EXPECT_EQ(on.dialogs->messages.back().text, QStringLiteral("Done."));
        const QString refused =
            row.aFolder ? QStringLiteral("PowerPoint could not open \"%1\": it is a folder, not "
                                         "a file.")
                              .arg(folder)
                        : QStringLiteral("The file could not be opened.");
        EXPECT_THAT(
            runLogOutcomes(on.runLogPath()),
            ElementsAre(QStringLiteral("a.ppt printed on Office Laser"),
                        QStringLiteral("damaged.ppt failed 120: %1 on Office Laser").arg(refused),
                        QStringLiteral("b.ppt printed on Office Laser"),
                        QStringLiteral("c.ppt printed on Office Laser")));
        EXPECT_EQ(on.events->now, 36000.0) << "no fixed waits";
    }
}

// A step that fails (before or after the open) costs the application.
TEST_F(FastRun, AFailingStepRenewsTheApplication)
{
    const struct {
        const char *failing;
        std::vector<int> steps; // reported for each of the two files
        int closes;
    } cases[] = {{"Create", {120, 122, 126, 128, 130, 132, 120, 122, 126, 128, 130, 132}, 0},
                 {"PrintOut", {130, 130}, 2}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.failing);
        FakePlatform failing;
        failing.office->failAt(QString::fromLatin1(c.failing), QStringLiteral("It failed."));
        run({deck(QStringLiteral("a.ppt")), deck(QStringLiteral("b.ppt"))}, {}, failing);
        EXPECT_EQ(failing.dialogs->reportedSteps(printRunLocation()), c.steps);
        const QStringList calls = failing.office->calls();
        EXPECT_EQ(calls.count(QStringLiteral("Create")), 2) << "a fresh one for the second file";
        EXPECT_EQ(calls.count(QStringLiteral("Close")), c.closes);
        EXPECT_EQ(calls.count(QStringLiteral("Quit")), 0) << "a failed one is stopped, not asked";
    }
}

TEST_F(FastRun, TheApplicationIsRenewedEverySoManyFilesAndPausesOnlyWhenAsked)
{
    const struct {
        int files;
        FastRunOptions options;
        const char *pause;
        int creates;
        double seconds; // waited in all
    } cases[] = {
        {5, {.pauses = false, .renewEvery = 2}, "3 seconds", 3, 0},
        {4, {.pauses = false, .renewEvery = 2}, "3 seconds", 2, 0},
        {3, {.pauses = false, .renewEvery = 100}, "9 seconds", 1, 0},
        {3, {.pauses = true, .renewEvery = 100}, "3 seconds", 1, 9},
        {2, {.pauses = true, .renewEvery = 100}, "0 seconds", 1, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.files << " files, renewed every "
                                        << c.options.renewEvery << ", pause " << c.pause);
        FakePlatform on;
        choices.pause = QString::fromLatin1(c.pause);
        QStringList paths;
        for (int k = 1; k <= c.files; ++k)
            paths << deck(QStringLiteral("%1.ppt").arg(k));
        run(paths, c.options, on);
        const QStringList calls = on.office->calls();
        EXPECT_EQ(calls.count(QStringLiteral("Create")), c.creates);
        EXPECT_EQ(calls.count(QStringLiteral("Quit")), c.creates)
            << "each application quits in turn";
        EXPECT_EQ(on.office->printed().size(), c.files);
        EXPECT_DOUBLE_EQ(on.events->now - 36000.0, c.seconds);
    }
}

// Between drops in a watched folder the application may end unseen: one that
// waited is asked first, and one that no longer answers costs no file.
TEST_F(FastRun, AnApplicationThatEndedWhileItWaitedIsReplacedWithoutAReport)
{
    const QString a = deck(QStringLiteral("a.ppt")), b = deck(QStringLiteral("b.ppt"));
    choices.pause = QStringLiteral("9 seconds");
    fake.office->failAt(QStringLiteral("Name"), QStringLiteral("It is no longer running."));
    run({a, b}, {.pauses = true});
    const QStringList calls = fake.office->calls();
    const auto opened = calls.indexOf(QStringLiteral("OpenHidden:") + b);
    ASSERT_GE(opened, 3);
    EXPECT_EQ(calls.mid(opened - 3, 3),
              (QStringList{QStringLiteral("Name"), QStringLiteral("ReleaseApp"),
                           QStringLiteral("Create")}));
    EXPECT_TRUE(fake.dialogs->reports().empty());
    EXPECT_EQ(fake.office->printed().size(), 2);

    // Without a wait between the files nothing is asked.
    FakePlatform busy;
    run({a, b}, {}, busy);
    EXPECT_FALSE(busy.office->calls().contains(QStringLiteral("Name")));
}

// Two applications side by side, each on a thread of its own: they take the
// files in turn, a file that fails costs only its own application, and the
// reports, the log and the prints keep the queue's order.
TEST_F(FastRun, TwoApplicationsSideBySideTakeTheFilesInTurn)
{
    const QString a = deck(QStringLiteral("a.ppt")), bad = deck(QStringLiteral("damaged.ppt")),
                  b = deck(QStringLiteral("b.ppt")), c = deck(QStringLiteral("c.ppt"));
    {
        Lanes lanes(
            [&](Printers &) {
                sims.push_back(std::make_shared<SimAutomation>());
                sims.back()->failOpenFor(bad, QStringLiteral("Damaged."));
                return std::make_unique<SharedSim>(sims.back());
            },
            *fake.platform.printers, *fake.platform.files, *fake.platform.events, 2);
        run({a, bad, b, c}, lanes, false, fake);
    }

    ASSERT_EQ(sims.size(), 2u);
    const auto on = [](const QString &path) { return path + QStringLiteral(" -> ") + Printer; };
    EXPECT_THAT(sims[0]->printed(), ElementsAre(on(a), on(b)));
    EXPECT_THAT(sims[1]->printed(), ElementsAre(on(c)));
    EXPECT_EQ(sims[0]->calls().count(QStringLiteral("Create")), 1);
    EXPECT_EQ(sims[1]->calls().count(QStringLiteral("Create")), 1)
        << "a damaged file it refused costs no start";
    EXPECT_EQ(fake.office->calls(), QStringList{QStringLiteral("GetRunning")});
    EXPECT_THAT(fake.dialogs->reportedSteps(printRunLocation()),
                ElementsAre(120, 122, 126, 128, 130, 132));
    EXPECT_THAT(runLogOutcomes(fake.runLogPath()),
                ElementsAre(QStringLiteral("a.ppt printed on Office Laser"),
                            QStringLiteral("damaged.ppt failed 120: Damaged. on Office Laser"),
                            QStringLiteral("b.ppt printed on Office Laser"),
                            QStringLiteral("c.ppt printed on Office Laser")));
}

namespace {

/** Waits, on a lane's thread, until `done` says so; false when it never did (within 20 s). */
bool waitUntil(const std::function<bool()> &done)
{
    for (int k = 0; k < 20000; ++k) {
        if (done())
            return true;
        QThread::msleep(1);
    }
    return false;
}

} // namespace

// The printer gets the files in queue order even when the second lane has
// its file open first. Kills lanes that print in the order their opens end.
TEST_F(FastRun, LanesPrintInQueueOrderWhateverLaneOpensFirst)
{
    const auto printer = std::make_shared<SimAutomation::Printer>();
    std::atomic<bool> secondOpening{false};
    runOnTwoLanes({first, second, third}, [&](SimAutomation &sim, int lane) {
        sim.printTo(printer);
        sim.onCall([&, lane](const QString &word, const QString &argument) {
            if (word != QLatin1String("OpenHidden"))
                return;
            if (lane == 1 && argument == QLatin1Char(':') + second)
                secondOpening = true;
            if (lane == 0 && argument == QLatin1Char(':') + first)
                waitUntil([&] { return secondOpening.load(); });
        });
    });
    EXPECT_THAT(printer->printed, ElementsAre(first, second, third));
}

// A row changed after its file was opened ahead: that file is closed in its
// application (the office holds no file it will not print) and the row's new
// file prints. Kills a lane that leaves the stale document open.
TEST_F(FastRun, AFileOpenedAheadForARowThatChangedIsClosed)
{
    const QString fourth = deck(QStringLiteral("d.ppt"));
    choices.onFileStarted = [&](int position) {
        if (position == 1)
            queue.setTextAt(2, fourth);
    };
    runOnTwoLanes({first, second}, [](SimAutomation &, int) {});
    ASSERT_EQ(sims.size(), 2u);
    const QStringList calls = sims[1]->calls();
    const auto stale = calls.indexOf(QStringLiteral("OpenHidden:") + second);
    const auto fresh = calls.indexOf(QStringLiteral("OpenHidden:") + fourth);
    ASSERT_GE(stale, 0);
    ASSERT_GT(fresh, stale);
    EXPECT_TRUE(calls.mid(stale, fresh - stale).contains(QStringLiteral("Close")))
        << calls.join(QLatin1Char(' ')).toStdString();
    EXPECT_THAT(sims[1]->printed(), ElementsAre(fourth + QStringLiteral(" -> ") + Printer));
}

// Asked to stop, the run does not wait for a file another lane is still
// opening ahead: that lane's application is stopped under it. Kills a lane
// whose end queues behind the open (up to the load's deadline).
TEST_F(FastRun, AStopDoesNotWaitForAFileOpeningAhead)
{
    std::atomic<bool> releasedByTheStop{false};
    choices.onFileStarted = [&](int) { stop.request(); };
    runOnTwoLanes({first, second}, [&](SimAutomation &sim, int lane) {
        if (lane == 1)
            sim.onCall([&sim, &releasedByTheStop](const QString &word, const QString &) {
                if (word != QLatin1String("OpenHidden"))
                    return;
                releasedByTheStop = waitUntil([&] { return sim.aborts() > 0; });
                throw Failure(QStringLiteral("LibreOffice Impress stopped unexpectedly."));
            });
    });
    EXPECT_TRUE(releasedByTheStop);
    EXPECT_THAT(runLogOutcomes(fake.runLogPath()),
                ElementsAre(QStringLiteral("a.ppt printed on Office Laser")));
}

// With one job a spare, started ahead, takes the file after one that cost
// the application, while that application starts again; an application that
// only refused a damaged file and still answers goes on (a fresh one's first
// open is slower). Kills a spare that is never used (the next file waits for
// the restart), one that is not started ahead, and one that takes over from
// an application that is kept.
TEST_F(FastRun, TheSpareTakesTheFileAfterOneThatCostTheApplication)
{
    const QString bad = deck(QStringLiteral("damaged.ppt"));
    const struct {
        const char *name;
        bool answers;
        std::size_t printsSecond; // the application that prints the next file
    } cases[] = {{"refused, still answers", true, 0}, {"refused, no longer answers", false, 1}};
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        sims.clear();
        FakePlatform on;
        {
            Lanes lanes(
                [&](Printers &) {
                    sims.push_back(std::make_shared<SimAutomation>());
                    sims.back()->failOpenFor(bad, QStringLiteral("Damaged."));
                    if (!row.answers && sims.size() == 1)
                        sims.back()->failAt(QStringLiteral("Name"), QStringLiteral("It is gone."));
                    return std::make_unique<SharedSim>(sims.back());
                },
                *on.platform.printers, *on.platform.files, *on.platform.events, 1);
            run({first, bad, second}, lanes, false, on);
        }
        ASSERT_EQ(sims.size(), 2u);
        const QString secondPrinted = second + QStringLiteral(" -> ") + Printer;
        EXPECT_EQ(sims[0]->printed().value(0), first + QStringLiteral(" -> ") + Printer);
        EXPECT_TRUE(sims[row.printsSecond]->printed().contains(secondPrinted));
        EXPECT_FALSE(sims[1 - row.printsSecond]->printed().contains(secondPrinted));
        const QStringList spare = sims[1]->calls();
        EXPECT_EQ(spare.count(QStringLiteral("Create")), 1);
        if (row.printsSecond == 1) {
            EXPECT_LT(spare.indexOf(QStringLiteral("Create")),
                      spare.indexOf(QStringLiteral("OpenHidden:") + second));
        }
    }
}
