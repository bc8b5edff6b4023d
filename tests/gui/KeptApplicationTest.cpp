// SPDX-License-Identifier: GPL-3.0-or-later
// The print run through kept applications (`deckrun --print --fast`, with
// --jobs) against the simulated presentation application: one application for
// many files, a fresh one after a file that failed and after every so many
// files, no fixed waits.

#include "core/run/KeptApplication.h"
#include "core/queue/QueueModel.h"
#include "core/run/Lanes.h"
#include "core/run/PrintRun.h"
#include "platform/FileSystem.h"
#include "support/FakePlatform.h"
#include "support/RunLogLines.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

class Choices final : public PrintChoices, public PrintProgress {
public:
    QString printerName() const override { return Printer; }
    QString pauseText() const override { return pause; }
    void showBusy(bool) override {}
    void showPercent(int) override {}
    void showText(const QString &) override {}

    QString pause = QStringLiteral("3 seconds");
};

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
        QueueModel queue;
        queue.append(paths);
        bool printing = false;
        printQueue(RunSetup{.platform = on.platform,
                            .choices = choices,
                            .progress = choices,
                            .strategy = strategy,
                            .pause = pauses ? PauseRule::Digit : PauseRule::None},
                   queue, printing);
        EXPECT_FALSE(printing);
    }

    FakePlatform fake;
    Choices choices;
};

} // namespace

TEST_F(FastRun, OneApplicationForTheGoodFilesAndAFreshOneAfterAFileThatFailed)
{
    const QString a = deck(QStringLiteral("a.ppt")), bad = deck(QStringLiteral("damaged.ppt")),
                  b = deck(QStringLiteral("b.ppt")), c = deck(QStringLiteral("c.ppt"));
    fake.office->failOpenFor(bad, QStringLiteral("The file could not be opened."));
    run({a, bad, b, c});

    const auto printed = [](const QString &path) {
        return QStringList{QStringLiteral("OpenHidden:") + path,
                           QStringLiteral("ActivePresentation"),
                           QStringLiteral("ActivePrinter=") + Printer,
                           QStringLiteral("PrintInBackground=false"),
                           QStringLiteral("PrintOut"),
                           QStringLiteral("Close"),
                           QStringLiteral("ReleasePresentation")};
    };
    const QStringList expected =
        QStringList{QStringLiteral("GetRunning"), QStringLiteral("Create")} + printed(a) +
        // the damaged file: refused, and its application let go
        QStringList{QStringLiteral("OpenHidden:") + bad, QStringLiteral("ReleaseApp"),
                    QStringLiteral("Create")} +
        printed(b) + printed(c) + QStringList{QStringLiteral("Quit"), QStringLiteral("ReleaseApp")};
    EXPECT_EQ(fake.office->calls(), expected);
    EXPECT_EQ(fake.office->shutdowns(), 2) << "after the damaged file, and at the end";

    // The same reports as the window's run gives for a file that does not open.
    EXPECT_THAT(fake.dialogs->reportedSteps(PrintRunLocation()),
                ElementsAre(120, 122, 126, 128, 130, 132));
    EXPECT_EQ(fake.dialogs->messages.back().text, QStringLiteral("Done."));
    EXPECT_THAT(runLogOutcomes(fake.runLogPath()),
                ElementsAre(QStringLiteral("a.ppt printed on Office Laser"),
                            QStringLiteral("damaged.ppt failed 120: The file could not be opened. "
                                           "on Office Laser"),
                            QStringLiteral("b.ppt printed on Office Laser"),
                            QStringLiteral("c.ppt printed on Office Laser")));
    EXPECT_EQ(fake.events->now, 36000.0) << "no fixed waits";
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
        EXPECT_EQ(failing.dialogs->reportedSteps(PrintRunLocation()), c.steps);
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
    const auto second = calls.indexOf(QStringLiteral("OpenHidden:") + b);
    ASSERT_GE(second, 3);
    EXPECT_EQ(calls.mid(second - 3, 3),
              (QStringList{QStringLiteral("Name"), QStringLiteral("ReleaseApp"),
                           QStringLiteral("Create")}));
    EXPECT_TRUE(fake.dialogs->reports().empty());
    EXPECT_EQ(fake.office->printed().size(), 2);

    // Without a wait between the files nothing is asked.
    FakePlatform busy;
    run({a, b}, {}, busy);
    EXPECT_FALSE(busy.office->calls().contains(QStringLiteral("Name")));
}

namespace {

/** A simulated application that the test can read after the run let go of it. */
class SharedSim final : public PresentationAutomation {
public:
    explicit SharedSim(std::shared_ptr<SimAutomation> sim) : m_sim(std::move(sim)) {}
    std::shared_ptr<PresentationApp> create() override { return m_sim->create(); }
    std::shared_ptr<PresentationApp> getRunning() override { return m_sim->getRunning(); }
    QString expectedName() const override { return m_sim->expectedName(); }
    QString productLabel() const override { return m_sim->productLabel(); }
    QString processName() const override { return m_sim->processName(); }
    void shutdown() override { m_sim->shutdown(); }

private:
    std::shared_ptr<SimAutomation> m_sim;
};

} // namespace

// Two applications side by side, each on a thread of its own: they take the
// files in turn, a file that fails costs only its own application, and the
// reports, the log and the prints keep the queue's order.
TEST_F(FastRun, TwoApplicationsSideBySideTakeTheFilesInTurn)
{
    const QString a = deck(QStringLiteral("a.ppt")), bad = deck(QStringLiteral("damaged.ppt")),
                  b = deck(QStringLiteral("b.ppt")), c = deck(QStringLiteral("c.ppt"));
    std::vector<std::shared_ptr<SimAutomation>> sims;
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
    EXPECT_EQ(sims[1]->calls().count(QStringLiteral("Create")), 2)
        << "fresh after the damaged file";
    EXPECT_EQ(fake.office->calls(), QStringList{QStringLiteral("GetRunning")});
    EXPECT_THAT(fake.dialogs->reportedSteps(PrintRunLocation()),
                ElementsAre(120, 122, 126, 128, 130, 132));
    EXPECT_THAT(runLogOutcomes(fake.runLogPath()),
                ElementsAre(QStringLiteral("a.ppt printed on Office Laser"),
                            QStringLiteral("damaged.ppt failed 120: Damaged. on Office Laser"),
                            QStringLiteral("b.ppt printed on Office Laser"),
                            QStringLiteral("c.ppt printed on Office Laser")));
}
