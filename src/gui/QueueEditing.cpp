// SPDX-License-Identifier: GPL-3.0-or-later
// Editing the queue in place: Delete and double-click remove the selected row,
// "Move Up" / "Move Down" move it one place, "Clear List" empties the queue,
// and the drag gesture carries a clicked row's path over the others by
// exchanging texts. The buttons run their numbered steps under the error
// report; the list's own events carry none.

#include "core/common/ErrorReport.h"
#include "core/queue/QueueModel.h"
#include "gui/QueueHandlers.h"
#include "gui/QueueView.h"
#include "platform/Platform.h"

#include <QPixmap>

namespace deckrun {

namespace {

// The list's pointer during the gesture; the icon beside the program, or a
// drag shape of the system's own when the icon is missing or unreadable.
QCursor dragPointer(QueueWindow &window)
{
    const QString icon =
        window.platform().program->programFolder() + pathSeparator() + QStringLiteral("drag.ico");
    const QPixmap picture(icon);
    if (picture.isNull())
        return QCursor(Qt::DragMoveCursor);
    return QCursor(picture);
}

// Delete key and double-click: the same three steps.
void removeSelectedRow(QueueWindow &window)
{
    if (window.isBusy())
        return;
    QueueModel &queue = window.queue();
    if (queue.count() == 0)
        return;
    const int selected = window.queueList().selectedPosition();
    if (selected == 0)
        return; // rows present but none selected: nothing to remove
    queue.removeAt(selected);
}

// Move Up (-1) and Move Down (+1) share their shape; only the positions differ.
void moveSelectedRow(QueueWindow &window, int direction, const QString &location)
{
    StepRunner steps(*window.platform().dialogs, location);
    QueueModel &queue = window.queue();
    QueueView &list = window.queueList();

    if (steps.test(100, [&] { return window.isBusy(); }))
        return;
    if (steps.test(102, [&] { return queue.count() == 0; }))
        return;
    int p = 0;
    steps.step(104, [&] { p = list.selectedPosition(); });
    // With no selected row there is nothing to move: the list only gets the focus.
    const bool atEdge = steps.test(106, [&] {
        if (p == 0)
            return true;
        return direction < 0 ? p < 2 : p >= queue.count();
    });
    if (atEdge) {
        steps.step(118, [&] { list.setFocus(); });
        return;
    }
    const int target = direction < 0 ? p - 1 : p + 1;
    steps.step(108, [&] {
        const QString text = queue.textAt(p);
        queue.insertAt(direction < 0 ? p - 1 : p + 2, text);
    });
    steps.step(110, [&] { queue.removeAt(direction < 0 ? p + 1 : p); });
    steps.step(112, [&] { list.selectPosition(target); });
    steps.step(114, [&] { list.ensureVisible(target); });
    steps.step(116, [&] { list.setFocus(); });
}

} // namespace

void ListView1_KeyDown(QueueWindow &window, int keyCode, Qt::KeyboardModifiers)
{
    // Shift, Ctrl and Alt are not looked at: Shift+Delete acts as Delete.
    if (keyCode == 46)
        removeSelectedRow(window);
}

void ListView1_DblClick(QueueWindow &window)
{
    removeSelectedRow(window);
}

void PushButton4_Click(QueueWindow &window)
{
    moveSelectedRow(window, -1, FormLocation("PushButton4_Click"));
}

void PushButton5_Click(QueueWindow &window)
{
    moveSelectedRow(window, +1, FormLocation("PushButton5_Click"));
}

void PushButton7_Click(QueueWindow &window)
{
    StepRunner steps(*window.platform().dialogs, FormLocation("PushButton7_Click"));
    // A failing busy test counts as passed: the list is still cleared.
    if (steps.passes(100, [&] { return !window.isBusy(); }))
        steps.step(100, [&] { window.queue().clear(); });
}

void ListView1_ItemClick(QueueWindow &window, const QModelIndex &item)
{
    window.queueList().viewport()->setCursor(dragPointer(window));
    window.queueList().setDragEnabled(false); // manual mode: no drag-out of rows
    const QModelIndex clicked =
        item.isValid() ? item : window.queue().index(window.queueList().selectedPosition() - 1, 0);
    window.queueList().DragItem = clicked;
}

void ListView1_MouseDown(QueueWindow &window, Qt::MouseButton)
{
    window.queueList().DragButtonDown = true;
}

void ListView1_MouseMove(QueueWindow &window, const QPoint &pos, int screenY)
{
    if (!window.isBusy())
        window.setMousePointer(pointer::Default);
    QueueView &list = window.queueList();
    if (!list.DragButtonDown)
        return;
    QueueModel &queue = window.queue();
    const QModelIndex hit = list.indexAt(pos);
    if (!hit.isValid() || !list.DragItem.isValid())
        return;
    const int h = hit.row() + 1;
    const int dragged = list.DragItem.row() + 1;
    const QString draggedText = queue.textAt(dragged);
    const QString hitText = queue.textAt(h);
    if (hitText == draggedText)
        return;
    queue.setTextAt(dragged, hitText);
    queue.setTextAt(h, draggedText);
    list.selectPosition(h);
    list.DragItem = queue.index(h - 1, 0);

    // Auto-scroll by the pointer's height on the screen, not in the window.
    if (screenY < 305) {
        if (h > 1)
            list.ensureVisible(h - 1);
    } else if (screenY >= 365) {
        if (h + 1 <= queue.count())
            list.ensureVisible(h + 1);
    }
}

void ListView1_MouseUp(QueueWindow &window, Qt::MouseButton)
{
    window.queueList().DragButtonDown = false;
    // Back to the arrow: the list shows the window's own pointer again.
    window.queueList().viewport()->unsetCursor();
}

} // namespace deckrun
