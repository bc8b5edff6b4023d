// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/QueueView.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTextDocument>
#include <QToolTip>

namespace deckrun {

QueueView::QueueView(QWidget *parent) : QTreeView(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);        // keeps 100,000 rows cheap to lay out
    setTextElideMode(Qt::ElideMiddle); // a long path keeps its file name in sight
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false); // rows are never dragged out of the list
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setMouseTracking(true);
    header()->setStretchLastSection(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

int QueueView::selectedPosition() const
{
    const QModelIndex current = currentIndex();
    if (!current.isValid() || !selectionModel() || !selectionModel()->isSelected(current))
        return 0;
    return current.row() + 1;
}

void QueueView::selectPosition(int position)
{
    const QModelIndex idx = model()->index(position - 1, 0);
    selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect |
                                               QItemSelectionModel::Rows);
}

void QueueView::ensureVisible(int position)
{
    scrollTo(model()->index(position - 1, 0), QAbstractItemView::EnsureVisible);
}

bool QueueView::viewportEvent(QEvent *event)
{
    // Over a row the tip shows the row's full path and, below it, the list's
    // help text, which the row's own tip would otherwise hide.
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const QModelIndex row = indexAt(help->pos());
        const QString path = row.data(Qt::ToolTipRole).toString();
        if (!path.isEmpty()) {
            const QString tip =
                toolTip().isEmpty() ? path : path + QStringLiteral("\n\n") + toolTip();
            // Plain text: a path is never markup.
            QToolTip::showText(help->globalPos(),
                               Qt::convertFromPlainText(tip, Qt::WhiteSpaceNormal), viewport(),
                               visualRect(row));
            return true;
        }
    }
    return QTreeView::viewportEvent(event);
}

void QueueView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete) {
        emit keyDown(46, event->modifiers());
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void QueueView::mousePressEvent(QMouseEvent *event)
{
    QTreeView::mousePressEvent(event);
    const QModelIndex hit = indexAt(event->position().toPoint());
    if (hit.isValid())
        emit itemClick(hit);
    m_buttonHeld = true;
    emit mouseDown(event->button());
}

void QueueView::mouseMoveEvent(QMouseEvent *event)
{
    // A release the list never saw (a message box opened while the button
    // was down and took it) is delivered at the first move with no button
    // held, so the gesture ends instead of reordering rows on a plain hover.
    if (m_buttonHeld && event->buttons() == Qt::NoButton) {
        m_buttonHeld = false;
        emit mouseUp(Qt::NoButton);
    }
    // The list's own rubber-band and drag handling stay off: the gesture is ours.
    emit mouseMove(event->position().toPoint(), qRound(event->globalPosition().y()));
    event->accept();
}

void QueueView::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeView::mouseReleaseEvent(event);
    m_buttonHeld = false;
    emit mouseUp(event->button());
}

void QueueView::mouseDoubleClickEvent(QMouseEvent *event)
{
    emit dblClick();
    event->accept();
}

void QueueView::dragEnterEvent(QDragEnterEvent *event)
{
    event->setDropAction(event->proposedAction());
    event->accept();
    emit oleDragOver(event);
}

void QueueView::dragMoveEvent(QDragMoveEvent *event)
{
    event->setDropAction(event->proposedAction());
    event->accept();
    emit oleDragOver(event);
}

void QueueView::dropEvent(QDropEvent *event)
{
    event->acceptProposedAction();
    emit oleDragDrop(event);
}

} // namespace deckrun
