// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPersistentModelIndex>
#include <QTreeView>

namespace deckrun {

/**
 * `ListView1`: a report-style view with one column over the queue model. It
 * turns the view's raw input into the list events the handlers know (key
 * down, item click, mouse down/move/up, double click, drag over, drop).
 */
class QueueView final : public QTreeView {
    Q_OBJECT

public:
    explicit QueueView(QWidget *parent = nullptr);

    /** The selected row's position (1-based), 0 when no row is selected. */
    int selectedPosition() const;
    /** Makes the row at `position` the selected (current) row. */
    void selectPosition(int position);
    /** Scrolls as little as needed to show the row at `position`. */
    void ensureVisible(int position);

    // The drag gesture of the handlers: a button went down on the list, and
    // the row whose path is being carried over the others.
    bool DragButtonDown = false;
    QPersistentModelIndex DragItem;

signals:
    void keyDown(int keyCode, Qt::KeyboardModifiers modifiers);
    void itemClick(const QModelIndex &item);
    void mouseDown(Qt::MouseButton button);
    void mouseMove(const QPoint &pos, int screenY);
    void mouseUp(Qt::MouseButton button);
    void dblClick();
    void oleDragOver(QDragMoveEvent *event);
    void oleDragDrop(QDropEvent *event);

protected:
    bool viewportEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool m_buttonHeld = false; // a press was seen and its release not yet
};

} // namespace deckrun
