// SPDX-License-Identifier: GPL-3.0-or-later
// The print run against the simulated presentation application, on a clock
// of the test's own: every wait passes at once, and the pump lets a test act
// while the run is under way.

#include "core/run/PrintRun.h"
#include "core/queue/QueueModel.h"
#include "gui/Form1.h"
#include "gui/Handlers.h"
#include "gui/ProgressBar.h"
#include "platform/FileSystem.h"
#include "platform/qt/QtServices.h"
#include "support/FakePlatform.h"
#include "support/Messages.h"
#include "support/RunLogLines.h"
#include "support/TempTree.h"
#include "support/Unprivileged.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include <sys/stat.h>

using namespace deckrun;
using namespace deckrun::test;
using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

const QString Printer = QStringLiteral("Office Laser");
const QString NotSet = QStringLiteral("Object variable or With block variable not set");

/** A path under a folder, with the platform's separator. */
QString deck(const QString &name)
{
    const QChar s = pathSeparator();
    return s + QStringLiteral("decks") + s + name;
}

/** What the window showed at one pump of the run. */
struct Seen {
    int value;
    QString text;
    int pointer;
    friend bool operator==(const Seen &, const Seen &) = default;
};

void PrintTo(const Seen &s, std::ostream *os)
{
    *os << "{" << s.value << ", \"" << s.text.toStdString() << "\", " << s.pointer << "}";
}

class PrintRun : public testing::Test {
protected:
    PrintRun()
    {
        fake.dialogs->setApplicationTitle(QStringLiteral("Deckrun"));
        // The printer list is filled by the selectors at start-up; a run only reads its text.
        form.Combo1->addItems({QStringLiteral("PDF"), Printer});
        form.Combo1->setCurrentIndex(1);
        for (int digit = 0; digit <= 9; ++digit)
            form.Combo2->addItem(QString::number(digit) + QStringLiteral(" seconds"));
        form.Combo2->setCurrentIndex(0);
        fake.events->pumpAction = [this] {
            seen.push_back(
                {form.ProgressBar1->value(), form.ProgressBar1->text(), form.mousePointer()});
            if (duringRun)
                duringRun();
        };
    }

    void queue(std::initializer_list<QString> paths)
    {
        for (const QString &p : paths)
            form.queue().append(p);
    }

    void run()
    {
        PushButton3_Click(form);
        EXPECT_FALSE(form.IsPrinting);
    }

    QStringList messageTexts() const
    {
        QStringList texts;
        for (const auto &m : fake.dialogs->messages)
            texts << m.text;
        return texts;
    }

    /** The step numbers of the error reports, in order. */
    std::vector<int> reportedSteps() const
    {
        const std::vector<int> steps = fake.dialogs->reportedSteps(printRunLocation());
        for (const int step : steps)
            EXPECT_NE(step, -1) << "a report that does not name the print run's location";
        return steps;
    }

    /** The percentage shown with each file's name, in the order the names appeared. */
    std::vector<int> valuesPerFile() const
    {
        std::vector<int> values;
        for (std::size_t k = 0; k < seen.size(); ++k)
            if (k == 0 || seen[k].text != seen[k - 1].text)
                values.push_back(seen[k].value);
        return values;
    }

    /** The texts the progress bar showed while the window answered, each once, in order. */
    QStringList textsShown() const
    {
        QStringList texts;
        for (const Seen &s : seen)
            if (texts.isEmpty() || texts.last() != s.text)
                texts << s.text;
        return texts;
    }

    /** Each run log line as "name outcome[ step: description] on printer". */
    QStringList outcomes() const { return runLogOutcomes(fake.runLogPath()); }

    FakePlatform fake;
    Form1 form{fake.platform};
    std::vector<Seen> seen;
    std::function<void()> duringRun;
};

/** The run fixture with one row of a table per test. */
template <typename Row>
class PrintRunRow : public PrintRun, public testing::WithParamInterface<Row> {};

// Rows go by their name in test listings; each prints as its name, never as bytes.
constexpr auto RowName = [](const auto &info) { return std::string(info.param.name); };

} // namespace

TEST_F(PrintRun, StartDuringARunDoesNothing)
{
    queue({deck(QStringLiteral("a.ppt")), deck(QStringLiteral("b.ppt"))});
    int presses = 0;
    duringRun = [&] {
        ++presses;
        EXPECT_TRUE(form.IsPrinting);
        form.PushButton3->click();
        EXPECT_TRUE(form.IsPrinting) << "the run under way keeps its flag";
    };
    run();
    // Start was pressed every time the window answered during the run, while
    // each file was handled, and each press did nothing.
    EXPECT_EQ(presses, static_cast<int>(seen.size()));
    EXPECT_THAT(textsShown(), ElementsAre(QStringLiteral("Processing: a.ppt"),
                                          QStringLiteral("Processing: b.ppt")));
    EXPECT_THAT(fake.office->printed(),
                ElementsAre(deck(QStringLiteral("a.ppt")) + QStringLiteral(" -> ") + Printer,
                            deck(QStringLiteral("b.ppt")) + QStringLiteral(" -> ") + Printer));
    EXPECT_THAT(messageTexts(), ElementsAre(QStringLiteral("Done.")));
}

TEST_F(PrintRun, EmptyQueueSaysSoAndChangesNothingElse)
{
    form.setMousePointer(pointer::Custom);
    form.ProgressBar1->setValue(40);
    run();
    ASSERT_EQ(fake.dialogs->messages.size(), 1u);
    const ShownMessage &m = fake.dialogs->messages[0];
    expectMessageBox(m, QStringLiteral("No files added."), Buttons::Ok, QStringLiteral("Deckrun"));
    EXPECT_EQ(form.mousePointer(), pointer::Custom);
    EXPECT_EQ(form.ProgressBar1->value(), 40);
    EXPECT_EQ(form.ProgressBar1->text(), QStringLiteral("Progress Bar"));
    EXPECT_TRUE(fake.office->calls().isEmpty()) << "no look for a running application";
    EXPECT_EQ(fake.events->pumps, 0);
}

namespace {
struct AnswerRow {
    const char *name;
    Answer answer;
    QStringList afterTheWarning; // the texts of the messages that follow it
    bool opened;
    int pointerAfter;
    friend void PrintTo(const AnswerRow &row, std::ostream *os) { *os << row.name; }
};
class RunningApplicationAnswer : public PrintRunRow<AnswerRow> {};
} // namespace

TEST_P(RunningApplicationAnswer, DecidesWhetherTheRunGoesOn)
{
    const AnswerRow &c = GetParam();
    queue({deck(QStringLiteral("a.ppt"))});
    fake.office->setAlreadyRunning(QStringLiteral("Microsoft PowerPoint"));
    fake.dialogs->answers = {c.answer};
    form.setMousePointer(pointer::Custom);
    run();
    ASSERT_GE(fake.dialogs->messages.size(), 1u);
    EXPECT_EQ(fake.dialogs->messages[0].buttons, Buttons::YesNo);
    EXPECT_EQ(messageTexts().mid(1), c.afterTheWarning);
    EXPECT_EQ(fake.office->calls().filter(QStringLiteral("Open")),
              c.opened ? QStringList{QStringLiteral("Open:") + deck(QStringLiteral("a.ppt"))}
                       : QStringList{});
    EXPECT_EQ(form.mousePointer(), c.pointerAfter);
}

INSTANTIATE_TEST_SUITE_P(
    PrintRun, RunningApplicationAnswer,
    testing::Values(AnswerRow{"No", Answer::No, {}, false, pointer::Custom},
                    AnswerRow{
                        "Yes", Answer::Yes, {QStringLiteral("Done.")}, true, pointer::Default}),
    RowName);

namespace {
struct OneFileRow {
    const char *name;
    QString path;
    QString shown;
    friend void PrintTo(const OneFileRow &row, std::ostream *os) { *os << row.name; }
};
class OneFileRun : public PrintRunRow<OneFileRow> {};
} // namespace

TEST_P(OneFileRun, ShowsItsNameWhileItPrints)
{
    const OneFileRow &c = GetParam();
    queue({c.path});
    run();
    ASSERT_FALSE(seen.empty()) << "the window never answered during the run";
    for (const Seen &s : seen)
        EXPECT_EQ(s, (Seen{100, c.shown, pointer::Busy}));
    EXPECT_EQ(form.ProgressBar1->value(), 0);
    EXPECT_EQ(form.ProgressBar1->text(), QStringLiteral("Progress Bar"));
    EXPECT_EQ(form.mousePointer(), pointer::Default);
    ASSERT_EQ(fake.dialogs->messages.size(), 1u);
    const ShownMessage &m = fake.dialogs->messages[0];
    expectMessageBox(m, QStringLiteral("Done."), Buttons::Ok, QStringLiteral("Deckrun"));
    EXPECT_TRUE(fake.office->printed().contains(c.path + QStringLiteral(" -> ") + Printer));
}

INSTANTIATE_TEST_SUITE_P(
    PrintRun, OneFileRun,
    testing::Values(OneFileRow{"InAFolder", deck(QStringLiteral("Quarterly review.pptx")),
                               QStringLiteral("Processing: Quarterly review.pptx")},
                    OneFileRow{"NameAlone", QStringLiteral("talk.ppt"),
                               QStringLiteral("Processing: talk.ppt")},
                    OneFileRow{"PercentSign", QStringLiteral("50% done.odp"),
                               QStringLiteral("Processing: 50% done.odp")}),
    RowName);

TEST_F(PrintRun, ExactCallsForOneFile)
{
    const QString a = deck(QStringLiteral("a.ppt"));
    queue({a});
    run();
    EXPECT_THAT(fake.office->calls(),
                ElementsAre(QStringLiteral("GetRunning"), // the look for a running application
                            QStringLiteral("Create"), QStringLiteral("GetRunning"),
                            QStringLiteral("Visible=true"), QStringLiteral("Open:") + a,
                            QStringLiteral("ReleaseApp"), // the created reference
                            QStringLiteral("ActivePresentation"),
                            QStringLiteral("ActivePrinter=") + Printer,
                            QStringLiteral("PrintInBackground=false"), QStringLiteral("PrintOut"),
                            QStringLiteral("Quit"), QStringLiteral("ReleasePresentation"),
                            QStringLiteral("ReleaseApp")));
    EXPECT_TRUE(fake.dialogs->reports().empty());
    EXPECT_NEAR(fake.events->now - 36000.0, 1 + 1 + 1, 1e-9) << "two fixed waits and pause 0 + 1";
}

TEST_F(PrintRun, AFileThatFailsToOpenGivesItsReportsAndTheRunGoesOn)
{
    const QString bad = deck(QStringLiteral("damaged.ppt"));
    const QString good = deck(QStringLiteral("good.ppt"));
    queue({bad, good});
    fake.office->failOpenFor(bad, QStringLiteral("The file could not be opened."));
    form.Combo2->setCurrentIndex(2);
    double pauseStarted = 0, pauseEnded = 0;
    duringRun = [&] {
        // The pause after the damaged file lasts from the window's last turn
        // that names it to the first turn that names the next file.
        if (seen.back().text == QStringLiteral("Processing: damaged.ppt"))
            pauseStarted = fake.events->now;
        else if (pauseEnded == 0)
            pauseEnded = fake.events->now;
    };
    run();

    EXPECT_THAT(reportedSteps(), ElementsAre(120, 122, 126, 128, 130, 132));
    const auto reports = fake.dialogs->reports();
    ASSERT_EQ(reports.size(), 6u);
    EXPECT_TRUE(reports[0].text.startsWith(QStringLiteral("The file could not be opened.\r\n")));
    for (std::size_t k = 1; k < reports.size(); ++k)
        EXPECT_TRUE(reports[k].text.startsWith(NotSet + QStringLiteral("\r\n"))) << k;

    EXPECT_THAT(fake.office->calls(),
                ElementsAre(QStringLiteral("GetRunning"),
                            // the damaged file: opened, refused, both references dropped, no Quit
                            QStringLiteral("Create"), QStringLiteral("GetRunning"),
                            QStringLiteral("Visible=true"), QStringLiteral("Open:") + bad,
                            QStringLiteral("ReleaseApp"), QStringLiteral("ReleaseApp"),
                            // the next file, as usual
                            QStringLiteral("Create"), QStringLiteral("GetRunning"),
                            QStringLiteral("Visible=true"), QStringLiteral("Open:") + good,
                            QStringLiteral("ReleaseApp"), QStringLiteral("ActivePresentation"),
                            QStringLiteral("ActivePrinter=") + Printer,
                            QStringLiteral("PrintInBackground=false"), QStringLiteral("PrintOut"),
                            QStringLiteral("Quit"), QStringLiteral("ReleasePresentation"),
                            QStringLiteral("ReleaseApp")));
    EXPECT_THAT(fake.office->printed(), ElementsAre(good + QStringLiteral(" -> ") + Printer));
    EXPECT_NEAR(pauseEnded - pauseStarted, 2 + 1, 1e-9) << "the damaged file still pauses";
    EXPECT_EQ(messageTexts().last(), QStringLiteral("Done."));
    // Its first failing step is what the run log keeps of it.
    EXPECT_THAT(outcomes(),
                ElementsAre(QStringLiteral("damaged.ppt failed 120: The file could not be opened. "
                                           "on Office Laser"),
                            QStringLiteral("good.ppt printed on Office Laser")));
}

namespace {
struct NoFileRow {
    const char *name;
    QString (*make)(TempTree &); // the path, made below the tree; empty when that failed
    const char *why;
    friend void PrintTo(const NoFileRow &row, std::ostream *os) { *os << row.name; }
};
class NoReadableFile : public testing::TestWithParam<NoFileRow> {};
} // namespace

// What is there but is no file the office could read fails at 120 in plain
// words, and the office is never asked to open it.
TEST_P(NoReadableFile, FailsToOpenWithWhatItIs)
{
    const NoFileRow &c = GetParam();
    TempTree tree;
    ASSERT_EQ(::chmod(QFile::encodeName(tree.path()).constData(), 0755), 0);
    const QString path = c.make(tree);
    ASSERT_FALSE(path.isEmpty());
    // As a user who may not read everything (root may).
    const QString got = asUnprivilegedUser([&] {
        FakePlatform run;
        Form1 window(run.platform);
        window.Combo1->addItem(Printer);
        window.Combo2->addItem(QStringLiteral("0 seconds"));
        window.queue().append(path);
        PushButton3_Click(window);
        const auto reports = run.dialogs->reports();
        // The description and the line that names the step; the office's calls to open.
        return (reports.empty() ? QStringLiteral("no report")
                                : reports[0].text.section(QStringLiteral("\r\r"), 0, 0)) +
               QLatin1Char('|') +
               run.office->calls().filter(QStringLiteral("Open")).join(QLatin1Char(' '));
    });
    EXPECT_EQ(got, QStringLiteral("PowerPoint could not open \"%1\": %2.\r\nin "
                                  "Tamberlin2021/08/31.Form1.PushButton3_Click at line 120|")
                       .arg(path, QString::fromLatin1(c.why)));
}

INSTANTIATE_TEST_SUITE_P(
    PrintRun, NoReadableFile,
    testing::Values(NoFileRow{"NamedPipe",
                              [](TempTree &tree) {
                                  const QString pipe = tree.at(QStringLiteral("pipe.pptx"));
                                  return ::mkfifo(QFile::encodeName(pipe).constData(), 0644) == 0
                                             ? pipe
                                             : QString();
                              },
                              "it is a named pipe (FIFO), not a file"},
                    NoFileRow{"Device", [](TempTree &) { return QStringLiteral("/dev/null"); },
                              "it is a device, not a file"},
                    NoFileRow{
                        "Folder",
                        [](TempTree &tree) { return tree.folder(QStringLiteral("folder.pptx")); },
                        "it is a folder, not a file"},
                    NoFileRow{"Unreadable",
                              [](TempTree &tree) {
                                  const QString locked = tree.file(QStringLiteral("locked.pptx"));
                                  return ::chmod(QFile::encodeName(locked).constData(), 0) == 0
                                             ? locked
                                             : QString();
                              },
                              "the file cannot be read: Permission denied"}),
    RowName);

TEST_F(PrintRun, EmptyPrinterSelectionFailsAt126AndStillPrints)
{
    form.Combo1->setCurrentIndex(-1);
    const QString a = deck(QStringLiteral("a.ppt"));
    queue({a});
    run();
    EXPECT_THAT(reportedSteps(), ElementsAre(126));
    EXPECT_THAT(fake.office->printed(), ElementsAre(a + QStringLiteral(" -> ")));
    EXPECT_TRUE(fake.office->calls().contains(QStringLiteral("Quit")));
    EXPECT_EQ(messageTexts().last(), QStringLiteral("Done."));
    // Printed, but not where it was meant to: the log does not call that printed.
    ASSERT_EQ(outcomes().size(), 1);
    EXPECT_TRUE(outcomes()[0].startsWith(QStringLiteral("a.ppt failed 126: ")))
        << outcomes()[0].toStdString();
}

namespace {
struct PauseRow {
    const char *name;
    int index;      // -1: nothing selected, the text is empty
    double seconds; // per file, fixed waits included
    bool reported;
    friend void PrintTo(const PauseRow &row, std::ostream *os) { *os << row.name; }
};
class PauseSelection : public PrintRunRow<PauseRow> {};
} // namespace

TEST_P(PauseSelection, ItsFirstCharacterIsThePause)
{
    const PauseRow &c = GetParam();
    queue({deck(QStringLiteral("a.ppt")), deck(QStringLiteral("b.ppt"))});
    form.Combo2->setCurrentIndex(c.index);
    const double before = fake.events->now;
    run();
    EXPECT_NEAR(fake.events->now - before, 2 * c.seconds, 1e-9);
    if (c.reported) {
        EXPECT_THAT(reportedSteps(), ElementsAre(140, 140));
        EXPECT_TRUE(
            fake.dialogs->reports()[0].text.startsWith(QStringLiteral("Type mismatch\r\n")));
    } else {
        EXPECT_TRUE(reportedSteps().empty());
    }
    EXPECT_EQ(messageTexts().last(), QStringLiteral("Done."));
}

INSTANTIATE_TEST_SUITE_P(PrintRun, PauseSelection,
                         testing::Values(PauseRow{"Zero", 0, 3, false},
                                         PauseRow{"Three", 3, 6, false},
                                         PauseRow{"Nine", 9, 12, false},
                                         PauseRow{"NothingSelected", -1, 2, true}),
                         RowName);

TEST_F(PrintRun, RowsAddedDuringARunAreNotPrintedButLowerThePercentage)
{
    queue({deck(QStringLiteral("a.ppt")), deck(QStringLiteral("b.ppt")),
           deck(QStringLiteral("c.ppt"))});
    duringRun = [&] {
        if (seen.size() == 1)
            form.queue().append(deck(QStringLiteral("late.ppt")));
    };
    run();
    EXPECT_THAT(valuesPerFile(), ElementsAre(33, 50, 75));
    EXPECT_EQ(fake.office->printed().size(), 3);
    EXPECT_FALSE(
        fake.office->calls().contains(QStringLiteral("Open:") + deck(QStringLiteral("late.ppt"))));
    EXPECT_EQ(form.queue().count(), 4);
}

TEST_F(PrintRun, RowsExchangedDuringARunPrintWhatEachPositionHolds)
{
    const QString a = deck(QStringLiteral("a.ppt")), b = deck(QStringLiteral("b.ppt")),
                  c = deck(QStringLiteral("c.ppt"));
    queue({a, b, c});
    duringRun = [&] {
        if (seen.size() ==
            2) { // while the first file waits: the drag gesture exchanges rows 2 and 3
            form.queue().setTextAt(2, c);
            form.queue().setTextAt(3, b);
        }
    };
    run();
    EXPECT_THAT(fake.office->printed(), ElementsAre(a + QStringLiteral(" -> ") + Printer,
                                                    c + QStringLiteral(" -> ") + Printer,
                                                    b + QStringLiteral(" -> ") + Printer));
    EXPECT_THAT(textsShown(), ElementsAre(QStringLiteral("Processing: a.ppt"),
                                          QStringLiteral("Processing: c.ppt"),
                                          QStringLiteral("Processing: b.ppt")));
}

TEST_F(PrintRun, RowsGoneDuringARunAreReportedAndNotPrinted)
{
    // The list can only be emptied mid-run when another long action reset the busy pointer.
    const QString a = deck(QStringLiteral("a.ppt"));
    queue({a, deck(QStringLiteral("b.ppt")), deck(QStringLiteral("c.ppt"))});
    duringRun = [&] {
        if (seen.size() == 2)
            form.queue().clear();
    };
    run();
    // Rows 2 and 3 cannot be read: each is reported and skipped, nothing prints twice.
    EXPECT_THAT(reportedSteps(), ElementsAre(112, 112));
    EXPECT_THAT(fake.office->printed(), ElementsAre(a + QStringLiteral(" -> ") + Printer));
    EXPECT_EQ(messageTexts().last(), QStringLiteral("Done."));
    EXPECT_EQ(form.ProgressBar1->value(), 0);
    // Rows that are gone are no files: the log has the one that printed, only.
    EXPECT_THAT(outcomes(), ElementsAre(QStringLiteral("a.ppt printed on Office Laser")));
}

TEST_F(PrintRun, ARunLogThatCannotBeWrittenIsSaidOnceAndTheFilesStillPrint)
{
    // A folder where the log file should be: no line can go there.
    ASSERT_TRUE(QDir().mkpath(fake.runLogPath()));
    const QString a = deck(QStringLiteral("a.ppt")), b = deck(QStringLiteral("b.ppt"));
    queue({a, b});
    run();
    EXPECT_THAT(fake.office->printed(), ElementsAre(a + QStringLiteral(" -> ") + Printer,
                                                    b + QStringLiteral(" -> ") + Printer));
    const QStringList texts = messageTexts();
    ASSERT_EQ(texts.size(), 2) << texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("The run log ") + fake.runLogPath() +
                                    QStringLiteral(" could not be written: ")))
        << texts[0].toStdString();
    EXPECT_EQ(fake.dialogs->messages[0].icon, Icon::Warning);
    EXPECT_EQ(texts[1], QStringLiteral("Done."));
    EXPECT_TRUE(fake.dialogs->reports().empty());
}

TEST_F(PrintRun, SelectionsAreReadAfreshForEveryFile)
{
    const QString a = deck(QStringLiteral("a.ppt")), b = deck(QStringLiteral("b.ppt"));
    queue({a, b});
    form.Combo2->setCurrentIndex(5);
    const double before = fake.events->now;
    duringRun = [&] {
        if (seen.size() == 3) { // after the first file printed, while it waits
            form.Combo1->setCurrentIndex(0);
            form.Combo2->setCurrentIndex(1);
        }
    };
    run();
    EXPECT_THAT(fake.office->printed(),
                ElementsAre(a + QStringLiteral(" -> ") + Printer, b + QStringLiteral(" -> PDF")));
    EXPECT_NEAR(fake.events->now - before, (2 + 2) + (2 + 2), 1e-9) << "both files pause 1 + 1";
}

TEST_F(PrintRun, TheTwentyNinthOfAHundredShowsTwentyNine)
{
    for (int k = 1; k <= 100; ++k)
        form.queue().append(deck(QString::number(k) + QStringLiteral(".ppt")));
    run();
    const std::vector<int> values = valuesPerFile();
    ASSERT_EQ(values.size(), 100u);
    for (int k = 1; k <= 100; ++k)
        EXPECT_EQ(values[static_cast<std::size_t>(k - 1)], k);
    EXPECT_EQ(fake.office->printed().size(), 100);
}

// Closing the window mid-run ends the program at once and stops the
// application the run started, before the next file is opened.
namespace {

class ReportingAutomation final : public PresentationAutomation {
public:
    explicit ReportingAutomation(SimAutomation &sim) : m_sim(sim) {}
    std::shared_ptr<PresentationApp> create() override { return m_sim.create(); }
    std::shared_ptr<PresentationApp> getRunning() override { return m_sim.getRunning(); }
    QString expectedName() const override { return m_sim.expectedName(); }
    QString productLabel() const override { return m_sim.productLabel(); }
    QString processName() const override { return m_sim.processName(); }
    void shutdown() override
    {
        m_sim.shutdown();
        std::fprintf(stderr, "office stopped after: %s\n",
                     m_sim.calls().join(QLatin1Char(' ')).toLocal8Bit().constData());
    }

private:
    SimAutomation &m_sim;
};

void closeDuringTheFirstFilesWait()
{
    FakePlatform fake;
    SimAutomation *sim = fake.office;
    auto owned = std::move(fake.platform.office);
    fake.platform.office = std::make_unique<ReportingAutomation>(*sim);
    fake.platform.program = std::make_unique<QtProgramControl>(*fake.platform.office);
    Form1 form(fake.platform);
    form.Combo1->addItem(Printer);
    form.Combo2->addItem(QStringLiteral("0 seconds"));
    form.queue().append(deck(QStringLiteral("a.ppt")));
    form.queue().append(deck(QStringLiteral("b.ppt")));
    form.show();
    fake.events->pumpAction = [&] {
        if (sim->calls().contains(QStringLiteral("Quit")))
            form.close();
    };
    PushButton3_Click(form);
    std::fprintf(stderr, "the run went on to its end\n");
}

} // namespace

TEST(PrintRunDeathTest, ClosingTheWindowEndsTheProgramAndStopsTheApplication)
{
    using testing::AllOf;
    using testing::HasSubstr;
    using testing::Not;
    EXPECT_EXIT(closeDuringTheFirstFilesWait(), testing::ExitedWithCode(0),
                AllOf(HasSubstr("office stopped after:"),
                      HasSubstr("Open:" + deck(QStringLiteral("a.ppt")).toStdString()),
                      Not(HasSubstr("Open:" + deck(QStringLiteral("b.ppt")).toStdString())),
                      Not(HasSubstr("went on"))));
}

// The real event loop: a click posted while the run waits is handled during the wait.
TEST(WaitSecondsOnTheWindowLoop, HandlesAClickWhileItWaits)
{
    QtEventLoop events;
    QPushButton button;
    QElapsedTimer clock;
    qint64 clickedAt = -1;
    QObject::connect(&button, &QPushButton::clicked, [&] { clickedAt = clock.elapsed(); });
    clock.start();
    QTimer::singleShot(50, &button, [&] { button.click(); });
    WaitSeconds(events, 0.3);
    const qint64 waited = clock.elapsed();
    EXPECT_GE(waited, 299);
    ASSERT_GE(clickedAt, 0) << "the click was not handled during the wait";
    EXPECT_LT(clickedAt, waited);
}
