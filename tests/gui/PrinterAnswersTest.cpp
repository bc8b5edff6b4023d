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

#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {

/** The window with a print service of the test's own, and what the run asks. */
class AWindow : public testing::Test, public PrintWindow {
protected:
    AWindow()
    {
        form.Combo1->addItem(QStringLiteral("Office Laser"));
        form.Combo2->addItem(QStringLiteral("0 seconds"));
        form.queue().append({QStringLiteral("/decks/a.ppt"), QStringLiteral("/decks/b.ppt")});
    }
    Platform &platform() override { return fake.platform; }
    QueueModel &queue() override { return form.queue(); }
    bool &printingFlag() override { return form.IsPrinting; }
    PrintSettings printSettings() const override
    {
        PrintSettings twoSided;
        twoSided.sides = PrintSides::LongEdge;
        return twoSided;
    }
    QString printerName() const override { return form.printerName(); }
    QString pauseText() const override { return form.pauseText(); }
    void showBusy(bool) override {}
    void showPercent(int) override {}
    void showText(const QString &) override {}

    FakePlatform fake;
    // The window follows jobs through the print service it finds as it is made.
    ScriptedSpooler *spooler = [this] {
        fake.platform.spooler = std::make_unique<ScriptedSpooler>();
        return static_cast<ScriptedSpooler *>(fake.platform.spooler.get());
    }();
    Form1 form{fake.platform};
};

} // namespace

// Kills a check made after the first file printed, and one never made.
TEST_F(AWindow, RefusesARunItsPrinterCannotPrintBeforeAnyFile)
{
    spooler->supported[QStringLiteral("sides")] = {QStringLiteral("one-sided")};
    PushButton3_Click(*this);
    ASSERT_EQ(fake.dialogs->messages.size(), 1u);
    EXPECT_EQ(fake.dialogs->messages[0].text,
              QStringLiteral("The printer \"Office Laser\" cannot print two-sided (long edge): it "
                             "supports one-sided.\r\rNothing was printed."));
    EXPECT_TRUE(fake.office->calls().isEmpty());
}

// Reported for its file at step 130 with the printer's words, while the next
// file prints. Kills a job never followed, and a report that ends the run.
TEST_F(AWindow, ReportsAJobThePrinterStoppedAndGoesOn)
{
    spooler->script[1] = {{JobStatus{.state = SpooledJob::State::Stopped,
                                     .printerMessage = QStringLiteral("Paper jam in tray 1")}}};
    spooler->script[2] = {{JobStatus{.state = SpooledJob::State::Processing}}};
    fake.events->pumpAction = [this] {
        if (fake.office->printed().size() == 1)
            form.jobReports().look();
    };
    form.PushButton3->click();

    EXPECT_EQ(fake.dialogs->reportedSteps(printRunLocation()), std::vector<int>{130});
    EXPECT_TRUE(fake.dialogs->reports().at(0).text.startsWith(
        QStringLiteral("\"a.ppt\" (job 1 on \"Office Laser\") stopped at the printer: Paper jam "
                       "in tray 1\r\n")));
    EXPECT_EQ(fake.office->printed().size(), 2);
    const std::vector<QJsonObject> lines = readRunLog(fake.runLogPath());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1][QLatin1String("outcome")].toString(), QStringLiteral("stopped"));
}
