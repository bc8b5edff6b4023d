// SPDX-License-Identifier: GPL-3.0-or-later
// The window and what the printer answers: a run the printer cannot print is
// refused before any file prints, and a job the printer stops later is
// reported for its file while the run goes on.

#include "core/queue/QueueModel.h"
#include "gui/Form1.h"
#include "gui/JobReports.h"
#include "support/FakePlatform.h"
#include "support/RunLogLines.h"
#include "support/ScriptedSpooler.h"

#include <QComboBox>
#include <QPushButton>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;
using testing::ElementsAre;

namespace {

/** The window with the print service of the test's own, and a run's settings. */
class AWindow : public testing::Test {
protected:
    AWindow()
    {
        auto owned = std::make_unique<ScriptedSpooler>();
        spooler = owned.get();
        fake.platform.spooler = std::move(owned);
        form = std::make_unique<Form1>(fake.platform);
        form->Combo1->addItem(QStringLiteral("Office Laser"));
        form->Combo2->addItem(QStringLiteral("0 seconds"));
        form->queue().append({QStringLiteral("/decks/a.ppt"), QStringLiteral("/decks/b.ppt")});
    }

    FakePlatform fake;
    ScriptedSpooler *spooler;
    std::unique_ptr<Form1> form;
};

/** What "Start Printing" reaches, with settings of the test's own for the run. */
class AskingWindow final : public PrintWindow {
public:
    AskingWindow(Form1 &form, PrintSettings asked) : m_form(form), m_asked(std::move(asked)) {}
    Platform &platform() override { return m_form.platform(); }
    QueueModel &queue() override { return m_form.queue(); }
    bool &printingFlag() override { return m_form.IsPrinting; }
    PrintSettings runSettings() const override { return m_asked; }
    QString printerName() const override { return m_form.printerName(); }
    QString pauseText() const override { return m_form.pauseText(); }
    void showBusy(bool) override {}
    void showPercent(int) override {}
    void showText(const QString &) override {}

private:
    Form1 &m_form;
    PrintSettings m_asked;
};

} // namespace

// Kills a check made after the first file printed, and one that never asks.
TEST_F(AWindow, RefusesARunItsPrinterCannotPrintBeforeAnyFile)
{
    spooler->supported[QStringLiteral("sides")] = {QStringLiteral("one-sided")};
    PrintSettings asked;
    asked.sides = PrintSides::LongEdge;
    AskingWindow window(*form, asked);
    PushButton3_Click(window);
    ASSERT_EQ(fake.dialogs->messages.size(), 1u);
    EXPECT_EQ(fake.dialogs->messages[0].text,
              QStringLiteral("The printer \"Office Laser\" cannot print two-sided (long edge): it "
                             "supports one-sided.\r\rNothing was printed."));
    EXPECT_TRUE(fake.office->calls().isEmpty());
    EXPECT_FALSE(form->IsPrinting);
}

// A job the printer stopped is reported for its file, at step 130 with the
// printer's words, while the next file prints. Kills a job never followed,
// and a report that ends the run.
TEST_F(AWindow, ReportsAJobThePrinterStoppedAndGoesOn)
{
    JobStatus jammed;
    jammed.state = SpooledJob::State::Stopped;
    jammed.printerMessage = QStringLiteral("Paper jam in tray 1");
    spooler->script[1] = {{jammed}};
    JobStatus printing;
    printing.state = SpooledJob::State::Processing;
    spooler->script[2] = {{printing}};
    fake.events->pumpAction = [this] {
        if (fake.office->printed().size() == 1)
            form->jobReports().look();
    };
    form->PushButton3->click();

    EXPECT_THAT(fake.dialogs->reportedSteps(printRunLocation()), ElementsAre(130));
    EXPECT_TRUE(fake.dialogs->reports().at(0).text.startsWith(
        QStringLiteral("\"a.ppt\" (job 1 on \"Office Laser\") stopped at the printer: Paper jam "
                       "in tray 1\r\n")));
    EXPECT_EQ(fake.office->printed().size(), 2);
    const std::vector<QJsonObject> lines = readRunLog(fake.runLogPath());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1][QLatin1String("outcome")].toString(), QStringLiteral("stopped"));
    EXPECT_EQ(lines[1][QLatin1String("job")].toInt(), 1);
    EXPECT_EQ(lines[2][QLatin1String("outcome")].toString(), QStringLiteral("printed"));
}
