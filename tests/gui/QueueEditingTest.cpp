// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/queue/QueueModel.h"
#include "gui/Form1.h"
#include "gui/Handlers.h"
#include "gui/QueueView.h"
#include "support/FakePlatform.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {

QStringList rowsOf(Form1 &form)
{
    return form.queue().rows();
}

void fill(Form1 &form, int n)
{
    for (int i = 1; i <= n; ++i)
        form.queue().append(QStringLiteral("/d/f%1.ppt").arg(i));
}

QStringList names(std::initializer_list<int> numbers)
{
    QStringList out;
    for (int n : numbers)
        out << QStringLiteral("/d/f%1.ppt").arg(n);
    return out;
}

struct MoveCase {
    const char *label;
    int rows;
    int selected; // 0: none
    bool up;
    bool busy;
    std::vector<int> after; // the rows afterwards, by original number
    int selectedAfter;
    bool focused; // the list got the focus
};

class MoveButtons : public testing::TestWithParam<MoveCase> {};

} // namespace

TEST_P(MoveButtons, MoveTheSelectedRowOnePlace)
{
    const MoveCase c = GetParam();
    FakePlatform fake;
    Form1 form(fake.platform);
    fill(form, c.rows);
    if (c.selected)
        form.ListView1->selectPosition(c.selected);
    if (c.busy)
        form.setMousePointer(pointer::Busy);
    form.PushButton7->setFocus(); // the focus starts elsewhere

    (c.up ? form.PushButton4 : form.PushButton5)->click();

    QStringList expected;
    for (int n : c.after)
        expected << QStringLiteral("/d/f%1.ppt").arg(n);
    EXPECT_EQ(rowsOf(form), expected);
    EXPECT_EQ(form.ListView1->selectedPosition(), c.selectedAfter);
    EXPECT_EQ(form.focusWidget() == form.ListView1, c.focused);
    EXPECT_TRUE(fake.dialogs->messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Queue, MoveButtons,
    testing::Values(MoveCase{"UpOnRow1", 3, 1, true, false, {1, 2, 3}, 1, true},
                    MoveCase{"DownOnLastRow", 3, 3, false, false, {1, 2, 3}, 3, true},
                    MoveCase{"UpOnRow2Of2", 2, 2, true, false, {2, 1}, 1, true},
                    MoveCase{"DownOnRow1Of2", 2, 1, false, false, {2, 1}, 2, true},
                    MoveCase{"DownOnNextToLast", 4, 3, false, false, {1, 2, 4, 3}, 4, true},
                    MoveCase{"UpInTheMiddle", 4, 3, true, false, {1, 3, 2, 4}, 2, true},
                    MoveCase{"UpOnOneRow", 1, 1, true, false, {1}, 1, true},
                    MoveCase{"DownOnOneRow", 1, 1, false, false, {1}, 1, true},
                    MoveCase{"UpOnEmptyQueue", 0, 0, true, false, {}, 0, false},
                    MoveCase{"DownOnEmptyQueue", 0, 0, false, false, {}, 0, false},
                    MoveCase{"UpWhileBusy", 3, 2, true, true, {1, 2, 3}, 2, false},
                    MoveCase{"DownWhileBusy", 3, 2, false, true, {1, 2, 3}, 2, false},
                    MoveCase{"UpWithNoneSelected", 3, 0, true, false, {1, 2, 3}, 0, true},
                    MoveCase{"DownWithNoneSelected", 3, 0, false, false, {1, 2, 3}, 0, true}),
    [](const testing::TestParamInfo<MoveCase> &row) { return std::string(row.param.label); });

TEST(QueueEditing, DeleteKeyAnyModifierAndDoubleClickRemoveTheSelectedRow)
{
    struct Case {
        const char *label;
        std::function<void(Form1 &)> act;
    };
    auto key = [](Qt::KeyboardModifiers m) {
        return [m](Form1 &form) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, m);
            QApplication::sendEvent(form.ListView1, &press);
        };
    };
    const Case cases[] = {
        {"Delete", key(Qt::NoModifier)},
        {"Shift+Delete", key(Qt::ShiftModifier)},
        {"Ctrl+Delete", key(Qt::ControlModifier)},
        {"Alt+Delete", key(Qt::AltModifier)},
        {"DoubleClick", [](Form1 &form) { ListView1_DblClick(form); }},
    };
    for (const Case &c : cases) {
        FakePlatform fake;
        Form1 form(fake.platform);
        fill(form, 3);
        form.ListView1->selectPosition(2);
        c.act(form);
        EXPECT_EQ(rowsOf(form), names({1, 3})) << c.label;

        // Busy, empty and nothing selected: nothing changes, nothing is shown.
        form.setMousePointer(pointer::Busy);
        form.ListView1->selectPosition(1);
        c.act(form);
        EXPECT_EQ(rowsOf(form), names({1, 3})) << c.label;
        form.setMousePointer(pointer::Default);
        form.ListView1->selectionModel()->clear();
        c.act(form);
        EXPECT_EQ(rowsOf(form), names({1, 3})) << c.label;
        form.queue().clear();
        c.act(form);
        EXPECT_EQ(form.queue().count(), 0);
        EXPECT_TRUE(fake.dialogs->messages.empty());
    }
}

TEST(QueueEditing, OtherKeysAreLeftToTheList)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    fill(form, 3);
    form.ListView1->selectPosition(2);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(form.ListView1, &press);
    EXPECT_EQ(form.queue().count(), 3);
}

TEST(QueueEditing, ClearListEmptiesUnlessBusy)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    fill(form, 5);
    ListView1_ItemClick(form, form.queue().index(2, 0));
    form.setMousePointer(pointer::Busy);
    form.PushButton7->click();
    EXPECT_EQ(form.queue().count(), 5);
    form.setMousePointer(pointer::Default);
    form.PushButton7->click();
    EXPECT_EQ(form.queue().count(), 0);
    EXPECT_FALSE(form.ListView1->DragItem.isValid()); // its row has left the queue
    form.PushButton7->click();
    EXPECT_TRUE(fake.dialogs->messages.empty());
}

namespace {

/** A shown window with `n` rows, laid out so rows have their places on screen. */
struct DragFixture {
    explicit DragFixture(int n) : form(fake.platform)
    {
        fill(form, n);
        form.show();
        QCoreApplication::processEvents();
        form.ListView1->doItemsLayout();
    }
    QPoint centre(int position)
    {
        return form.ListView1->visualRect(form.queue().index(position - 1, 0)).center();
    }
    void press(int position)
    {
        form.ListView1->selectPosition(position); // the list selects the clicked row first
        ListView1_ItemClick(form, form.queue().index(position - 1, 0));
        ListView1_MouseDown(form, Qt::LeftButton);
    }
    int lastFullyVisible()
    {
        const int height = form.ListView1->viewport()->height();
        int last = 0;
        for (int p = 1; p <= form.queue().count(); ++p) {
            const QRect r = form.ListView1->visualRect(form.queue().index(p - 1, 0));
            if (r.top() >= 0 && r.bottom() < height)
                last = p;
        }
        return last;
    }
    int scroll() { return form.ListView1->verticalScrollBar()->value(); }

    FakePlatform fake;
    Form1 form;
};

} // namespace

TEST(DragGesture, OneMoveFromRow2ToRow5ExchangesJustThoseTwo)
{
    DragFixture f(6);
    f.press(2);
    ListView1_MouseMove(f.form, f.centre(5), 330);
    EXPECT_EQ(rowsOf(f.form), names({1, 5, 3, 4, 2, 6}));
    EXPECT_EQ(f.form.ListView1->selectedPosition(), 5);
    EXPECT_EQ(f.form.ListView1->DragItem.row(), 4);

    // The dragged path travels on; after the release moves exchange nothing.
    ListView1_MouseMove(f.form, f.centre(6), 330);
    EXPECT_EQ(rowsOf(f.form), names({1, 5, 3, 4, 6, 2}));
    ListView1_MouseUp(f.form, Qt::LeftButton);
    EXPECT_FALSE(f.form.ListView1->DragButtonDown);
    ListView1_MouseMove(f.form, f.centre(1), 330);
    EXPECT_EQ(rowsOf(f.form), names({1, 5, 3, 4, 6, 2}));

    // A later press that hits no row carries on with the row last dragged.
    ListView1_MouseDown(f.form, Qt::LeftButton);
    ListView1_MouseMove(f.form, f.centre(1), 330);
    EXPECT_EQ(rowsOf(f.form), names({2, 5, 3, 4, 6, 1}));
    EXPECT_TRUE(f.fake.dialogs->messages.empty());
}

TEST(DragGesture, EqualTextsNoRowAndBusyWindow)
{
    DragFixture f(3);
    f.form.queue().setTextAt(3, f.form.queue().textAt(1));
    f.press(1);
    ListView1_MouseMove(f.form, f.centre(3), 330); // same text: nothing to exchange
    EXPECT_EQ(f.form.ListView1->selectedPosition(), 1);
    ListView1_MouseMove(f.form, QPoint(5, f.form.ListView1->viewport()->height() - 2), 330);
    EXPECT_EQ(rowsOf(f.form), names({1, 2, 1}));

    // The gesture has no busy test, and the hourglass stays while busy.
    f.form.setMousePointer(pointer::Busy);
    ListView1_MouseMove(f.form, f.centre(2), 330);
    EXPECT_EQ(rowsOf(f.form), names({2, 1, 1}));
    EXPECT_EQ(f.form.mousePointer(), pointer::Busy);
    f.form.setMousePointer(pointer::Custom);
    ListView1_MouseMove(f.form, f.centre(2), 330);
    EXPECT_EQ(f.form.mousePointer(), pointer::Default);
}

TEST(DragGesture, ItemClickSetsTheDragPointerAndReleaseTakesItBack)
{
    DragFixture f(2);
    f.press(1);
    EXPECT_TRUE(f.form.ListView1->viewport()->testAttribute(Qt::WA_SetCursor));
    ListView1_MouseUp(f.form, Qt::LeftButton);
    EXPECT_FALSE(f.form.ListView1->viewport()->testAttribute(Qt::WA_SetCursor));
}

TEST(DragGesture, AutoScrollByTheScreenHeight)
{
    struct Case {
        int screenY;
        bool down;        // drag towards the bottom (else towards the top)
        int scrollChange; // sign
    };
    const Case cases[] = {{365, true, 1},   {364, true, 0},  {305, true, 0},  {304, true, 0},
                          {304, false, -1}, {305, false, 0}, {364, false, 0}, {365, false, 0}};
    for (const Case &c : cases) {
        DragFixture f(60);
        int target = 0;
        if (c.down) {
            f.form.ListView1->scrollToTop();
            target = f.lastFullyVisible();
            f.press(1);
        } else {
            f.form.ListView1->scrollTo(f.form.queue().index(29, 0),
                                       QAbstractItemView::PositionAtTop);
            target = 30;
            f.press(31);
        }
        ASSERT_GT(target, 1);
        const int before = f.scroll();
        ListView1_MouseMove(f.form, f.centre(target), c.screenY);
        const int change = f.scroll() - before;
        EXPECT_EQ((change > 0) - (change < 0), c.scrollChange)
            << c.screenY << (c.down ? " down" : " up");
    }
}

TEST(DragGesture, AutoScrollStopsAtTheEnds)
{
    DragFixture f(60);
    f.form.ListView1->scrollToTop();
    f.press(2);
    ListView1_MouseMove(f.form, f.centre(1), 100); // row 1: no row above
    EXPECT_EQ(f.scroll(), 0);
    f.form.ListView1->scrollToBottom();
    QCoreApplication::processEvents();
    const int bottom = f.scroll();
    f.press(59);
    ListView1_MouseMove(f.form, f.centre(60), 900); // last row: no row below
    EXPECT_EQ(f.scroll(), bottom);
    EXPECT_EQ(f.form.queue().textAt(60), QStringLiteral("/d/f59.ppt"));
}

TEST(DragGesture, AMoveWithNoButtonHeldEndsTheDrag)
{
    // Real mouse events on the list. A message box that opens while the
    // button is down takes the release, so the list never sees it; the next
    // move over the list, with no button held, ends the gesture instead of
    // reordering rows.
    DragFixture f(5);
    QWidget *viewport = f.form.ListView1->viewport();
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, f.centre(2));
    ASSERT_TRUE(f.form.ListView1->DragButtonDown);
    ASSERT_EQ(f.form.ListView1->DragItem.row(), 1);
    {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Application Error"),
                        QStringLiteral("Boom"), QMessageBox::Ok, &f.form);
        box.show();
        QTest::mouseRelease(&box, Qt::LeftButton, Qt::NoModifier, box.rect().center());
    }
    ASSERT_TRUE(f.form.ListView1->DragButtonDown); // the list has not seen the release

    for (int row : {4, 1, 5}) {
        QTest::mouseMove(viewport, f.centre(row));
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(rowsOf(f.form), names({1, 2, 3, 4, 5}));
    EXPECT_FALSE(f.form.ListView1->DragButtonDown);
    EXPECT_FALSE(viewport->testAttribute(Qt::WA_SetCursor)); // the drag pointer is gone

    // A gesture with the button held still carries the row along.
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, f.centre(2));
    QTest::mouseMove(viewport, f.centre(4));
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, f.centre(4));
    EXPECT_EQ(rowsOf(f.form), names({1, 4, 3, 2, 5}));
    EXPECT_FALSE(f.form.ListView1->DragButtonDown);
}

TEST(QueueList, RowTipKeepsTheListsHelpText)
{
    const QString help = QStringLiteral(
        "Drag and drop files here. Double-click item to remove it. Move | line to right and out "
        "of window to reveal full names.");
    DragFixture f(3);
    QWidget *viewport = f.form.ListView1->viewport();
    auto tipAt = [&](const QPoint &pos) {
        QToolTip::hideText();
        QHelpEvent event(QEvent::ToolTip, pos, viewport->mapToGlobal(pos));
        QApplication::sendEvent(viewport, &event);
        return QToolTip::text();
    };
    // Over a row: its full path and the help text below it.
    const QString overRow = tipAt(f.centre(2));
    EXPECT_TRUE(overRow.contains(QStringLiteral("/d/f2.ppt"))) << overRow.toStdString();
    EXPECT_TRUE(overRow.contains(help)) << overRow.toStdString();
    EXPECT_LT(overRow.indexOf(QStringLiteral("/d/f2.ppt")), overRow.indexOf(help));
    // Below the last row: the help text alone.
    const QString belowRows = tipAt(QPoint(5, viewport->height() - 3));
    EXPECT_EQ(belowRows, help);
    QToolTip::hideText();
}
