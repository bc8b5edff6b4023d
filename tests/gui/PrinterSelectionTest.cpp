// SPDX-License-Identifier: GPL-3.0-or-later
// The printer list filled at start-up, the stored choice, and a failing pause help (its
// text is checked with the Help button's, in StartUpTest).

#include "gui/Form1.h"
#include "gui/Handlers.h"
#include "platform/qt/QtServices.h"
#include "support/FakePlatform.h"
#include "support/Messages.h"
#include "support/TempTree.h"

#include <QComboBox>
#include <QRegularExpression>

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
    [](const testing::TestParamInfo<PrinterCase> &row) { return std::string(row.param.name); });

TEST(PrinterList, UserChoicesAreStoredAtOnce)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    form.Form_Load();
    fake.settings->writes.clear();

    form.Combo1->setCurrentIndex(0);
    form.Combo2->setCurrentIndex(0);
    form.Combo2->setCurrentIndex(9);
    EXPECT_EQ(fake.settings->writes.filter(QRegularExpression(QStringLiteral("^Combo"))),
              QStringList({QStringLiteral("Combo1=0"), QStringLiteral("Combo2=0"),
                           QStringLiteral("Combo2=9")}));
    // The printer's name goes in right after its index.
    EXPECT_EQ(
        fake.settings->writes.mid(0, 2),
        QStringList({QStringLiteral("Combo1=0"), QStringLiteral("PrinterName=Office Laser")}));
}

namespace {

struct NameCase {
    const char *label;
    QStringList printers;
    const char *storedIndex; // nullptr: nothing stored
    const char *storedName;  // nullptr: nothing stored (a store from before the name was kept)
    int selected;
    bool reported;
};
[[maybe_unused]] void PrintTo(const NameCase &c, std::ostream *os)
{
    *os << c.label;
}

class PrinterName : public testing::TestWithParam<NameCase> {};

const QStringList OneAdded = {QStringLiteral("Archive PDF"), QStringLiteral("Office Laser"),
                              QStringLiteral("PDF"), QStringLiteral("Colour Inkjet")};

} // namespace

TEST_P(PrinterName, TheStoredNameWinsOverTheIndexWhileThatPrinterIsThere)
{
    const NameCase c = GetParam();
    FakePlatform fake;
    fake.printers->names = c.printers;
    fake.printers->defaultName = QStringLiteral("Office Laser");
    if (c.storedIndex)
        fake.settings->values.insert(QStringLiteral("Combo1"), QString::fromUtf8(c.storedIndex));
    if (c.storedName)
        fake.settings->values.insert(QStringLiteral("PrinterName"),
                                     QString::fromUtf8(c.storedName));
    Form1 form(fake.platform);
    form.Form_Load();

    EXPECT_EQ(form.Combo1->currentIndex(), c.selected);
    EXPECT_EQ(fake.dialogs->reports().size(), c.reported ? 1u : 0u);
    if (c.selected >= 0) {
        // Written back through the click handler: the index of today, and the name.
        EXPECT_EQ(fake.settings->values.value(QStringLiteral("Combo1")),
                  QString::number(c.selected));
        EXPECT_EQ(fake.settings->values.value(QStringLiteral("PrinterName")),
                  c.printers.at(c.selected));
    }
}

INSTANTIATE_TEST_SUITE_P(
    StartUp, PrinterName,
    testing::Values(
        // "PDF" was index 1; a printer that sorts first moved it to 2.
        NameCase{"NameWinsAfterAPrinterWasAdded", OneAdded, "1", "PDF", 2, false},
        NameCase{"NameWinsAfterAPrinterWasRemoved", {"PDF", "Colour Inkjet"}, "1", "PDF", 0, false},
        NameCase{"NameWinsOverAnIndexPastTheEnd", {"PDF"}, "3", "PDF", 0, false},
        NameCase{"NameWinsOverTheDefault", ThreePrinters, nullptr, "Colour Inkjet", 2, false},
        // Without the name, or with its printer gone, the index rule holds unchanged.
        NameCase{"OlderStoreIndexOnly", OneAdded, "1", nullptr, 1, false},
        NameCase{"PrinterGoneIndexRule", ThreePrinters, "2", "Gone Printer", 2, false},
        NameCase{"PrinterGonePastTheEnd", ThreePrinters, "5", "Gone Printer", -1, true},
        NameCase{"NamesDifferInCase", ThreePrinters, "0", "pdf", 0, false},
        NameCase{"EmptyNameNothingChosen", ThreePrinters, "-1", "", -1, false},
        NameCase{"PrinterGoneNoIndex", ThreePrinters, nullptr, "Gone Printer", 0, false}),
    [](const testing::TestParamInfo<NameCase> &row) { return std::string(row.param.label); });

TEST(PrinterName, RealStoreKeepsTheChoiceWhenAPrinterIsAdded)
{
    // Two runs of the window on the real settings store: "PDF" is chosen,
    // then a printer that sorts first is installed.
    TempTree dir;
    const QString file = dir.at(QStringLiteral("Deckrun.conf"));
    {
        FakePlatform fake;
        fake.platform.settings = std::make_unique<QtSettingsStore>(file);
        fake.printers->names = ThreePrinters;
        Form1 form(fake.platform);
        form.Form_Load();
        form.Combo1->setCurrentIndex(1); // the user picks "PDF"
    }
    FakePlatform fake;
    fake.platform.settings = std::make_unique<QtSettingsStore>(file);
    fake.printers->names = OneAdded;
    Form1 form(fake.platform);
    form.Form_Load();
    EXPECT_EQ(form.Combo1->currentText(), QStringLiteral("PDF"));
    QtSettingsStore stored(file);
    EXPECT_EQ(stored.read(QStringLiteral("Combo1"), QString()), QStringLiteral("2"));
    EXPECT_EQ(stored.read(QStringLiteral("PrinterName"), QString()), QStringLiteral("PDF"));
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
    PushButton9_Click(*fake.platform.dialogs);
    const auto reports = fake.dialogs->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].text.contains(
        QStringLiteral("in Tamberlin2021/08/31.Form1.PushButton9_Click at line 100")));
}
