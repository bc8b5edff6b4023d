// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The queue's handlers, by their given names: editing the list in place
// (QueueEditing.cpp) and adding files (AddFiles.cpp, AddFolder.cpp, the walk
// in core/queue/FolderWalk.cpp). The
// window forwards its list's and buttons' events here.

#include "core/queue/QueueTarget.h"
#include "gui/WindowPointer.h"

#include <Qt>

class QDragMoveEvent;
class QDropEvent;
class QModelIndex;
class QPoint;

namespace deckrun {

struct Platform;
class QueueModel;
class QueueView;

/** What the queue's handlers reach in the window: the services, the queue, its list, the pointer.
 */
class QueueWindow : public QueueTarget, public WindowPointer {
public:
    virtual QueueView &queueList() = 0;
};

// Editing
void ListView1_KeyDown(QueueWindow &window, int keyCode, Qt::KeyboardModifiers shift);
void ListView1_DblClick(QueueWindow &window);
void ListView1_ItemClick(QueueWindow &window, const QModelIndex &item);
void ListView1_MouseDown(QueueWindow &window, Qt::MouseButton button);
/** `pos` in the list's viewport; `screenY` the pointer's vertical screen position. */
void ListView1_MouseMove(QueueWindow &window, const QPoint &pos, int screenY);
void ListView1_MouseUp(QueueWindow &window, Qt::MouseButton button);
void PushButton4_Click(QueueWindow &window); // Move Up
void PushButton5_Click(QueueWindow &window); // Move Down
void PushButton7_Click(QueueWindow &window); // Clear List

// Adding
void PushButton1_Click(QueueWindow &window); // Add PowerPoint File(s)
void PushButton2_Click(QueueWindow &window); // Add All File(s) In Folder
void ListView1_OLEDragOver(QueueWindow &window, QDragMoveEvent *event);
void ListView1_OLEDragDrop(QueueWindow &window, QDropEvent *event);

} // namespace deckrun
