// SPDX-License-Identifier: GPL-3.0-or-later
// The printer list filled at start-up, the stored choice, and the pause help.

#include "app/Form1.h"
#include "app/Handlers.h"
#include "support/FakePlatform.h"

#include <QComboBox>

#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {

struct PrinterCase {
    const char *name;
    QStringList printers;
    const char *defaultPrinter;
    const char *stored; // nullptr: nothing stored
    int selected;
    bool reported;
    const char *storedAfter; // nullptr: nothing stored
};
// Names the case in test listings instead of dumping its bytes.
[[maybe_unused]] void PrintTo(const PrinterCase &c, std::ostream *os)
{
    *os << c.name;
}

class PrinterList : public testing::TestWithParam<PrinterCase> {};

const QStringList ThreePrinters = {QStringLiteral("Office Laser"), QStringLiteral("PDF"),
                                   QStringLiteral("Colour Inkjet")};

} // namespace

TEST_P(PrinterList, FillsAndRestoresTheChoice)
{
    const PrinterCase c = GetParam();
    FakePlatform fake;
    fake.printers->names = c.printers;
    fake.printers->defaultName = QString::fromUtf8(c.defaultPrinter);
    if (c.stored)
        fake.settings->values.insert(QStringLiteral("Combo1"), QString::fromUtf8(c.stored));
    Form1 form(fake.platform);
    form.Form_Load();

    // Every printer is listed in the system's order, whatever was stored.
    QStringList listed;
    for (int i = 0; i < form.Combo1->count(); ++i)
        listed << form.Combo1->itemText(i);
    EXPECT_EQ(listed, c.printers);
    EXPECT_EQ(form.Combo1->currentIndex(), c.selected);

    const auto reports = fake.dialogs->reports();
    if (c.reported) {
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_TRUE(reports[0].text.contains(
            QStringLiteral("\r\nin Tamberlin2021/08/31.Form1.Form_Load at line 136\r\r")));
    } else {
        EXPECT_TRUE(reports.empty()) << reports[0].text.toStdString();
    }
    if (c.storedAfter)
        EXPECT_EQ(fake.settings->values.value(QStringLiteral("Combo1")),
                  QString::fromUtf8(c.storedAfter));
    else
        EXPECT_FALSE(fake.settings->values.contains(QStringLiteral("Combo1")))
            << fake.settings->writes.join(QStringLiteral(" ")).toStdString();
    // Filling never stores an entry as a side effect: only the final choice is written.
    EXPECT_LE(fake.settings->writes.filter(QStringLiteral("Combo1=")).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    StartUp, PrinterList,
    testing::Values(
        // First start: the default printer, stored at once.
        PrinterCase{"FirstStartTakesTheDefault", ThreePrinters, "PDF", nullptr, 1, false, "1"},
        PrinterCase{"DefaultNotListed", ThreePrinters, "Elsewhere", nullptr, -1, false, nullptr},
        // A stored index wins over the default, even when it now names another printer.
        PrinterCase{"StoredIndexWins", ThreePrinters, "PDF", "2", 2, false, "2"},
        PrinterCase{"StoredFirstEntry", ThreePrinters, "PDF", "0", 0, false, "0"},
        PrinterCase{"StoredNoneStaysEmpty", ThreePrinters, "PDF", "-1", -1, false, "-1"},
        PrinterCase{"StoredPastTheEnd", ThreePrinters, "PDF", "3", -1, true, "3"},
        PrinterCase{"StoredBelowNone", ThreePrinters, "PDF", "-2", -1, true, "-2"},
        PrinterCase{"StoredNotANumber", ThreePrinters, "PDF", "Laser", -1, true, "Laser"},
        PrinterCase{"StoredTooLarge", ThreePrinters, "PDF", "70000", -1, true, "70000"},
        PrinterCase{"StoredWithBlanks", ThreePrinters, "PDF", " 1 ", 1, false, "1"},
        // No default printer: every printer still listed, none selected.
        PrinterCase{"NoDefaultListsAll", ThreePrinters, "", nullptr, -1, false, nullptr},
        PrinterCase{"NoDefaultStoredIndex", ThreePrinters, "", "2", 2, false, "2"},
        PrinterCase{"NoPrinterAtAll", {}, "", nullptr, -1, true, nullptr}),
    [](const testing::TestParamInfo<PrinterCase> &info) { return std::string(info.param.name); });

TEST(PrinterList, UserChoicesAreStoredAtOnce)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    form.Form_Load();
    fake.settings->writes.clear();

    form.Combo1->setCurrentIndex(0);
    form.Combo2->setCurrentIndex(0);
    form.Combo2->setCurrentIndex(9);
    EXPECT_EQ(fake.settings->writes,
              QStringList({QStringLiteral("Combo1=0"), QStringLiteral("Combo2=0"),
                           QStringLiteral("Combo2=9")}));
}

TEST(PauseHelp, ShowsTwoParagraphsWithTheApplicationTitle)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    form.Form_Load();
    fake.dialogs->messages.clear();

    PushButton9_Click(form);
    ASSERT_EQ(fake.dialogs->messages.size(), 1u);
    const ShownMessage &m = fake.dialogs->messages[0];
    EXPECT_EQ(m.text, QStringLiteral(
                          "Please use this pause feature if blank pages are being printed or if "
                          "files are being skipped.\r\n\r\nBy pausing, you will give time for the "
                          "print jobs to queue properly with the physical printer."));
    EXPECT_EQ(m.title, QStringLiteral("Deckrun"));
    EXPECT_EQ(m.buttons, Buttons::Ok);
    EXPECT_EQ(m.icon, Icon::None);
}

TEST(PauseHelp, AFailingMessageBoxIsReportedAtStep100)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    int shown = 0;
    fake.dialogs->onMessage = [&](const ShownMessage &m) {
        if (m.title != QLatin1String("Application Error") && shown++ == 0)
            throw Failure(QStringLiteral("Out of memory"), 7);
    };
    PushButton9_Click(form);
    const auto reports = fake.dialogs->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].text.contains(
        QStringLiteral("in Tamberlin2021/08/31.Form1.PushButton9_Click at line 100")));
}
