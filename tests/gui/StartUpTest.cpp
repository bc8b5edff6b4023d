// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/queue/QueueModel.h"
#include "gui/Form1.h"
#include "gui/Handlers.h"
#include "gui/ProgressBar.h"
#include "gui/QueueView.h"
#include "platform/qt/QtServices.h"
#include "support/FakePlatform.h"
#include "support/Messages.h"
#include "support/TempTree.h"

#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <gtest/gtest.h>

#include <cctype>
#include <string>

using namespace deckrun;
using namespace deckrun::test;

namespace {

struct PauseCase {
    const char *stored; // nullptr: nothing stored
    int selected;
    bool reported;
};

class StartUpPause : public testing::TestWithParam<PauseCase> {};

} // namespace

TEST_P(StartUpPause, RestoresTheStoredPause)
{
    const PauseCase c = GetParam();
    FakePlatform fake;
    if (c.stored)
        fake.settings->values.insert(QStringLiteral("Combo2"), QString::fromUtf8(c.stored));
    Form1 form(fake.platform);
    form.Form_Load();

    ASSERT_EQ(form.Combo2->count(), 10);
    EXPECT_EQ(form.Combo2->itemText(0), QStringLiteral("0 seconds"));
    EXPECT_EQ(form.Combo2->itemText(1), QStringLiteral("1 seconds"));
    EXPECT_EQ(form.Combo2->itemText(9), QStringLiteral("9 seconds"));
    EXPECT_EQ(form.Combo2->currentIndex(), c.selected);
    const auto reports = fake.dialogs->reports();
    if (c.reported) {
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_TRUE(reports[0].text.contains(
            QStringLiteral("\r\nin Tamberlin2021/08/31.Form1.Form_Load at line 144\r\r")));
    } else {
        EXPECT_TRUE(reports.empty());
    }
    // Selecting from code stores the choice, as a click does; a failed restore stores nothing.
    if (c.selected >= 0) {
        EXPECT_EQ(fake.settings->values.value(QStringLiteral("Combo2")),
                  QString::number(c.selected));
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, StartUpPause,
                         testing::Values(PauseCase{nullptr, 5, false}, PauseCase{"0", 0, false},
                                         PauseCase{"9", 9, false}, PauseCase{"-1", -1, false},
                                         PauseCase{"abc", -1, true}, PauseCase{"10", -1, true},
                                         PauseCase{"-2", -1, true}, PauseCase{"99999", -1, true}),
                         [](const testing::TestParamInfo<PauseCase> &row) {
                             const std::string stored =
                                 row.param.stored ? row.param.stored : "none";
                             std::string name = "stored_";
                             for (char ch : stored)
                                 name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : 'm';
                             return name;
                         });

TEST(StartUp, SetsCaptionColumnAndTitle)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Form1"));
    form.Form_Load();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Deckrun"));
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_EQ(fake.dialogs->applicationTitle(), QStringLiteral("Deckrun"));
    EXPECT_EQ(form.queue().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("PowerPoint File(s)"));
    EXPECT_EQ(form.ListView1->header()->sectionSize(0), 433); // 6500 twips at 96 dpi
    EXPECT_TRUE(fake.dialogs->messages.empty());
}

TEST(StartUp, OpensTheHomePageOnlyOnDrawSeven)
{
    struct Case {
        double random;
        bool opens;
    };
    for (const Case c : {Case{0.06, true}, Case{0.0699, true}, Case{0.05, false}, Case{0.07, false},
                         Case{0.0, false}, Case{0.999, false}}) {
        FakePlatform fake;
        fake.events->random = c.random;
        Form1 form(fake.platform);
        form.Form_Load();
        EXPECT_EQ(fake.shell->urls.size(), c.opens ? 1 : 0) << c.random;
        if (c.opens) {
            EXPECT_EQ(fake.shell->urls.first(), QStringLiteral(DECKRUN_HOME_PAGE));
        }
    }
}

TEST(StartUp, LoadsTheHandCursorOnlyWhenPresent)
{
    TempTree program;
    {
        FakePlatform fake;
        fake.program->folder = program.path();
        Form1 form(fake.platform);
        form.Form_Load();
        EXPECT_FALSE(form.hasMouseIcon());
        EXPECT_TRUE(fake.dialogs->messages.empty());
    }
    QImage hand(32, 32, QImage::Format_ARGB32);
    hand.fill(Qt::black);
    ASSERT_TRUE(hand.save(program.at(QStringLiteral("HAND-M.CUR")), "PNG"));
    FakePlatform fake;
    fake.program->folder = program.path();
    Form1 form(fake.platform);
    form.Form_Load();
    EXPECT_TRUE(form.hasMouseIcon());
}

TEST(StartUp, UnusableHandCursorIsReportedAtStep104)
{
    TempTree program;
    program.file(QStringLiteral("HAND-M.CUR"), "not a picture");
    FakePlatform fake;
    fake.program->folder = program.path();
    Form1 form(fake.platform);
    form.Form_Load();
    ASSERT_EQ(fake.dialogs->reports().size(), 1u);
    EXPECT_TRUE(fake.dialogs->reports()[0].text.contains(QStringLiteral("at line 104")));
    EXPECT_EQ(form.Combo2->currentIndex(), 5); // start-up went on
}

TEST(Form1Layout, ControlsStandWhereTheTableSays)
{
    // At 96 dpi, 15 twips to the pixel: the pixels a user measures on screen.
    ASSERT_DOUBLE_EQ(QGuiApplication::primaryScreen()->logicalDotsPerInch(), 96.0);
    FakePlatform fake;
    Form1 form(fake.platform);
    struct Placement {
        QWidget *w;
        int left, top, width, height;
    };
    const Placement table[] = {
        {form.PushButton6, 8, 8, 520, 27},     {form.ListView1, 8, 42, 456, 169},
        {form.PushButton4, 472, 42, 56, 81},   {form.PushButton5, 472, 130, 56, 81},
        {form.PushButton1, 8, 217, 256, 27},   {form.PushButton2, 272, 217, 256, 27},
        {form.PushButton7, 8, 251, 256, 27},   {form.PushButton8, 272, 251, 256, 27},
        {form.Frame1, 8, 281, 520, 55},        {form.Combo1, 16, 20, 340, 23},
        {form.PushButton10, 364, 20, 140, 23}, {form.Frame2, 8, 342, 520, 56},
        {form.Combo2, 16, 20, 448, 23},        {form.PushButton9, 472, 20, 32, 23},
        {form.PushButton3, 8, 403, 520, 27},   {form.ProgressBar1, 8, 437, 520, 27}};
    for (const Placement &p : table) {
        EXPECT_EQ(p.w->geometry(), QRect(p.left, p.top, p.width, p.height))
            << p.w->objectName().toStdString();
    }
    EXPECT_EQ(form.Combo1->parentWidget(), form.Frame1);
    // The print settings: the button beside the printer, the line in the frame's title row.
    EXPECT_TRUE(form.PushButton10->parentWidget() == form.Frame1 &&
                form.Label1->parentWidget() == form.Frame1);
    EXPECT_TRUE(form.Label1->geometry().right() == 503 && form.Label1->geometry().bottom() < 20);
    EXPECT_EQ(form.Combo2->parentWidget(), form.Frame2);
    EXPECT_EQ(form.PushButton9->parentWidget(), form.Frame2);
    EXPECT_EQ(form.size(), QSize(536, 471));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(form.PushButton3->text(), QStringLiteral("Start Printing"));
    EXPECT_EQ(form.ProgressBar1->text(), QStringLiteral("Progress Bar"));
    EXPECT_DOUBLE_EQ(form.PushButton1->font().pointSizeF(), 11.25);
    EXPECT_TRUE(form.Frame1->font().bold());
    EXPECT_EQ(
        form.ListView1->toolTip(),
        QStringLiteral("Drag and drop files here. Double-click item to remove it. Move | line "
                       "to right and out of window to reveal full names."));

    // Tab order: list, Move Up, Move Down, Add, Add All, printer, print settings, Start, Help,
    // Clear, Samples, pause, ?
    const QWidget *expected[] = {
        form.ListView1,   form.PushButton4,  form.PushButton5, form.PushButton1, form.PushButton2,
        form.Combo1,      form.PushButton10, form.PushButton3, form.PushButton6, form.PushButton7,
        form.PushButton8, form.Combo2,       form.PushButton9};
    auto nextFocusable = [](const QWidget *w) {
        QWidget *n = w->nextInFocusChain();
        while (!(n->focusPolicy() & Qt::TabFocus))
            n = n->nextInFocusChain();
        return n;
    };
    for (std::size_t i = 0; i + 1 < std::size(expected); ++i)
        EXPECT_EQ(nextFocusable(expected[i]), expected[i + 1])
            << expected[i]->objectName().toStdString();
}

namespace {
struct HelpCase {
    const char *name;
    QPushButton *Form1::*button;
    QString text;
    friend void PrintTo(const HelpCase &row, std::ostream *os) { *os << row.name; }
};
class HelpButton : public testing::TestWithParam<HelpCase> {};
} // namespace

TEST_P(HelpButton, ShowsItsTextUnderTheApplicationTitle)
{
    const HelpCase &c = GetParam();
    FakePlatform fake;
    Form1 form(fake.platform);
    form.Form_Load();
    (form.*c.button)->click();
    ASSERT_EQ(fake.dialogs->messages.size(), 1u);
    expectMessageBox(fake.dialogs->messages[0], c.text, Buttons::Ok, QStringLiteral("Deckrun"));
}

INSTANTIATE_TEST_SUITE_P(
    Window, HelpButton,
    testing::Values(
        HelpCase{"Help", &Form1::PushButton6,
                 QStringLiteral("This program works with PowerPoint Presentations like .ppt and "
                                ".pptx but not PowerPoint Shows like .pps")},
        // Two paragraphs.
        HelpCase{"PauseHelp", &Form1::PushButton9,
                 QStringLiteral("Please use this pause feature if blank pages are being printed "
                                "or if files are being skipped.\r\n\r\nBy pausing, you will "
                                "give time for the print jobs to queue properly with the physical "
                                "printer.")}),
    [](const testing::TestParamInfo<HelpCase> &row) { return std::string(row.param.name); });

TEST(PointerRule, HandOverButtonsArrowElsewhereHourglassStays)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    PushButton_MouseMove(form);
    EXPECT_EQ(form.mousePointer(), pointer::Custom);
    Frame1_MouseMove(form);
    EXPECT_EQ(form.mousePointer(), pointer::Default);
    PushButton_MouseMove(form);
    Form_MouseMove(form);
    EXPECT_EQ(form.mousePointer(), pointer::Default);

    form.setMousePointer(pointer::Busy);
    for (auto handler :
         {PushButton_MouseMove, Form_MouseMove, Frame1_MouseMove, Frame2_MouseMove}) {
        handler(form);
        EXPECT_EQ(form.mousePointer(), pointer::Busy);
    }
}

TEST(Unload, ClosingTheWindowEndsTheProgramAtOnce)
{
    EXPECT_EXIT(
        {
            FakePlatform fake;
            SimAutomation office;
            fake.platform.program = std::make_unique<QtProgramControl>(office);
            Form1 form(fake.platform);
            form.show();
            form.close();
            std::exit(3); // reached only when closing did not end the program
        },
        testing::ExitedWithCode(0), "");
}
