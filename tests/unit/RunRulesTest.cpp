// SPDX-License-Identifier: GPL-3.0-or-later
// The rules the print run keeps whatever the way a file is printed: each test
// is one table, run for every way (a fresh application per file, one kept
// application, kept applications side by side) and, where the rule reaches
// it, for the watched folder.

#include "cli/ConsoleFrontEnd.h"
#include "cli/WatchSession.h"
#include "core/queue/QueueModel.h"
#include "core/run/FreshApplication.h"
#include "core/run/KeptApplication.h"
#include "core/run/Lanes.h"
#include "core/run/PrintRun.h"
#include "core/run/RunStop.h"
#include "support/FakePlatform.h"
#include "support/RunLogLines.h"
#include "support/TempTree.h"

#include <QDir>
#include <QFile>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

using namespace deckrun;
using namespace deckrun::test;
using testing::ElementsAre;

namespace {

const QString Printer = QStringLiteral("Office Laser");

/** The simulated applications a way prints through, each made ready by `prepare` when made. */
struct Offices {
    explicit Offices(FakePlatform &platform) : fake(platform) {}

    /** Every application the way prints through, once the way is made. */
    std::vector<SimAutomation *> all() const
    {
        std::vector<SimAutomation *> sims{fake.office};
        for (const auto &sim : made)
            sims.push_back(sim.get());
        return sims;
    }
    std::unique_ptr<PresentationAutomation> make()
    {
        made.push_back(std::make_shared<SimAutomation>());
        if (prepare)
            prepare(*made.back());
        return std::make_unique<SharedSim>(made.back());
    }

    FakePlatform &fake;
    std::function<void(SimAutomation &)> prepare;
    std::vector<std::shared_ptr<SimAutomation>> made;
};

/** One way to print a file, as the table's rows name it. */
struct Way {
    const char *name;
    const char *closing; // the call that ends a printed file: the application's or the deck's
    std::function<std::unique_ptr<PrintStrategy>(Offices &)> make;
    /** The applications a second request to stop must stop (not the platform's, for --fast). */
    std::function<std::vector<SimAutomation *>(Offices &)> printing;
};

// Printing a file through one kept application of its own, as --fast does:
// the platform's application is not the one printing.
std::unique_ptr<PrintStrategy> oneOfItsOwn(Offices &offices)
{
    struct Own final : PrintStrategy {
        explicit Own(Offices &offices)
            : office(offices.make()), strategy(*office, *offices.fake.platform.files)
        {}
        void printFile(FileInHand &file) override { strategy.printFile(file); }
        void runEnds() override { strategy.runEnds(); }
        void stopNow() override { strategy.stopNow(); }
        std::unique_ptr<PresentationAutomation> office;
        OneApplication strategy;
    };
    return std::make_unique<Own>(offices);
}

void PrintTo(const Way &way, std::ostream *os)
{
    *os << way.name;
}

const Way Ways[] = {
    {"FreshApplication", "Quit",
     [](Offices &o) {
         return std::make_unique<FreshApplication>(*o.fake.platform.office, *o.fake.platform.files);
     },
     [](Offices &o) { return std::vector<SimAutomation *>{o.fake.office}; }},
    {"OneApplication", "Close", oneOfItsOwn,
     [](Offices &o) { return std::vector<SimAutomation *>{o.made.at(0).get()}; }},
    {"Lanes", "Close",
     [](Offices &o) {
         return std::make_unique<Lanes>([&o](Printers &) { return o.make(); },
                                        *o.fake.platform.printers, *o.fake.platform.files,
                                        *o.fake.platform.events, 2);
     },
     [](Offices &o) {
         std::vector<SimAutomation *> sims;
         for (const auto &sim : o.made)
             sims.push_back(sim.get());
         return sims;
     }},
};

QString deck(const QString &name)
{
    return QStringLiteral("/decks/") + name;
}

/** The choices and the progress of a run, with what the progress was told. */
class FrontEnd final : public PrintChoices, public PrintProgress {
public:
    QString printerName() const override { return Printer; }
    QString pauseText() const override { return QStringLiteral("0 seconds"); }
    void showBusy(bool) override {}
    void showPercent(int) override {}
    void showText(const QString &) override {}
    void fileStarted(int position, int, const QString &) override
    {
        if (onFileStarted)
            onFileStarted(position);
    }
    void fileEnded(const FileOutcome &outcome) override { ended.push_back(outcome); }
    bool announceDone() override { return saysDone; }

    bool saysDone = false;
    std::function<void(int position)> onFileStarted;
    std::vector<FileOutcome> ended;
};

class EveryWay : public testing::TestWithParam<Way> {
protected:
    /** Prints `paths` the row's way; `prepare` readies each application it prints through. */
    void run(const QStringList &paths, std::function<void(SimAutomation &)> prepare = {})
    {
        offices.prepare = prepare;
        if (prepare)
            prepare(*fake.office);
        const std::unique_ptr<PrintStrategy> strategy = GetParam().make(offices);
        QueueModel queue;
        queue.append(paths);
        bool printing = false;
        printQueue(RunSetup{.platform = fake.platform,
                            .choices = frontEnd,
                            .progress = frontEnd,
                            .strategy = *strategy,
                            .pause = PauseRule::None,
                            .stop = &stop},
                   queue, printing);
        printed.clear();
        for (SimAutomation *sim : offices.all())
            printed << sim->printed();
    }

    QStringList messageTexts() const
    {
        QStringList texts;
        for (const ShownMessage &m : fake.dialogs->messages)
            texts << m.text;
        return texts;
    }

    FakePlatform fake;
    Offices offices{fake};
    FrontEnd frontEnd;
    RunStop stop;
    QStringList printed; // every application's prints, "path -> printer"
};

constexpr auto WayName = [](const testing::TestParamInfo<Way> &info) {
    return std::string(info.param.name);
};

const QString A = deck(QStringLiteral("a.ppt")), B = deck(QStringLiteral("b.ppt"));

QString on(const QString &path)
{
    return path + QStringLiteral(" -> ") + Printer;
}

} // namespace

// A deck whose print job was confirmed is printed, whatever fails after: its
// run log line says so, and the report of the failure changes nothing. Kills a
// line written only once the file's steps are done, and a failure listener
// without the "already handed over" guard.
using CloseFailsAfterThePrint = EveryWay;
TEST_P(CloseFailsAfterThePrint, IsLoggedPrintedAndReported)
{
    run({A, B}, [](SimAutomation &sim) {
        sim.failAt(QString::fromLatin1(GetParam().closing), QStringLiteral("It will not close."));
    });
    EXPECT_THAT(runLogOutcomes(fake.runLogPath()),
                ElementsAre(QStringLiteral("a.ppt printed on Office Laser"),
                            QStringLiteral("b.ppt printed on Office Laser")));
    ASSERT_EQ(frontEnd.ended.size(), 2u);
    EXPECT_TRUE(frontEnd.ended[0].printed());
    EXPECT_THAT(fake.dialogs->reportedSteps(printRunLocation()), ElementsAre(132, 132));
}
INSTANTIATE_TEST_SUITE_P(EveryWay, CloseFailsAfterThePrint, testing::ValuesIn(Ways), WayName);

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
INSTANTIATE_TEST_SUITE_P(EveryWay, APrintThatFails, testing::ValuesIn(Ways), WayName);

// "Done." is the front end's to say: a console says it on its own line, and
// no box is shown. Kills a run that shows the box whatever the front end did.
using TheEndOfARun = EveryWay;
TEST_P(TheEndOfARun, IsTheFrontEndsToSay)
{
    frontEnd.saysDone = true;
    run({A});
    EXPECT_FALSE(messageTexts().contains(QStringLiteral("Done.")));
    frontEnd.saysDone = false;
    run({B});
    EXPECT_EQ(messageTexts().count(QStringLiteral("Done.")), 1);
}
INSTANTIATE_TEST_SUITE_P(EveryWay, TheEndOfARun, testing::ValuesIn(Ways), WayName);

// Asked to stop while a file is in hand, the run lets it end (printed and
// logged) and begins no other, also one opened ahead. A second request stops
// the applications the run prints through, not only the platform's. Kills a
// stop checked only between runs, and a second request that stops the
// platform's application while another prints.
using AStop = EveryWay;
TEST_P(AStop, LetsTheFileInHandEndAndASecondStopsItsApplications)
{
    frontEnd.onFileStarted = [this](int) { stop.request(); };
    run({A, B});
    EXPECT_THAT(printed, ElementsAre(on(A)));
    EXPECT_THAT(runLogOutcomes(fake.runLogPath()),
                ElementsAre(QStringLiteral("a.ppt printed on Office Laser")));

    stop = RunStop();
    offices.made.clear();
    const int platformStops = fake.office->shutdowns() + fake.office->aborts();
    frontEnd.onFileStarted = [this](int) {
        stop.request();
        stop.request();
    };
    run({A, B});
    for (SimAutomation *sim : GetParam().printing(offices)) {
        const int before = sim == fake.office ? platformStops : 0;
        EXPECT_GE(sim->shutdowns() + sim->aborts(), before + 1)
            << "an application the run printed with";
    }
}
INSTANTIATE_TEST_SUITE_P(EveryWay, AStop, testing::ValuesIn(Ways), WayName);

namespace {

/** A watched folder's way of printing, with its one file to take. */
struct WatchedWay {
    const char *name;
    bool fast;
    const char *closing;
};

class WatchedFolder : public testing::TestWithParam<WatchedWay> {
protected:
    WatchedFolder() { fake.dialogs->setApplicationTitle(QStringLiteral("Deckrun")); }

    /** Drops `name` into the folder and has the watcher take it, as if it had settled. */
    void dropAndTake(const QString &name)
    {
        tree.file(name, "a deck");
        ConsoleDialogs dialogs(WhenRunning::GoOnQuietly);
        ConsoleStop stop({});
        WatchSession session(
            fake.platform, dialogs,
            WatchOptions{
                .folder = tree.path(), .printer = Printer, .fast = GetParam().fast, .pause = 0},
            stop);
        ASSERT_TRUE(session.start());
        session.handle(name);
    }
    QStringList in(const QString &sub) const { return QDir(tree.at(sub)).entryList(QDir::Files); }

    TempTree tree;
    FakePlatform fake;
};

constexpr auto WatchedName = [](const testing::TestParamInfo<WatchedWay> &info) {
    return std::string(info.param.name);
};

void PrintTo(const WatchedWay &way, std::ostream *os)
{
    *os << way.name;
}

const WatchedWay WatchedWays[] = {{"FreshApplication", false, "Quit"},
                                  {"OneApplication", true, "Close"}};

} // namespace

// Kills a watcher that moves a printed file to Failed/ (to be dropped, and
// printed, again) because a step after the print failed.
using CloseFailsAfterThePrintInAWatchedFolder = WatchedFolder;
TEST_P(CloseFailsAfterThePrintInAWatchedFolder, MovesItToPrinted)
{
    fake.office->failAt(QString::fromLatin1(GetParam().closing), QStringLiteral("Stuck."));
    dropAndTake(QStringLiteral("a.ppt"));
    EXPECT_THAT(in(QStringLiteral("Printed")), ElementsAre(QStringLiteral("a.ppt")));
    EXPECT_TRUE(in(QStringLiteral("Failed")).isEmpty());
    EXPECT_THAT(runLogOutcomes(fake.runLogPath()),
                ElementsAre(QStringLiteral("a.ppt printed on Office Laser")));
}
INSTANTIATE_TEST_SUITE_P(EveryWay, CloseFailsAfterThePrintInAWatchedFolder,
                         testing::ValuesIn(WatchedWays), WatchedName);
