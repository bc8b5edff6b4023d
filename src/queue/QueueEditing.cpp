// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Form1.h"
#include "app/Handlers.h"

namespace deckrun {

// Queue editing arrives with the queue work; until then the list is inert.
void ListView1_KeyDown(Form1 &, int, Qt::KeyboardModifiers) {}
void ListView1_DblClick(Form1 &) {}
void ListView1_ItemClick(Form1 &, const QModelIndex &) {}
void ListView1_MouseDown(Form1 &, Qt::MouseButton) {}
void ListView1_MouseMove(Form1 &, const QPoint &, int) {}
void ListView1_MouseUp(Form1 &, Qt::MouseButton) {}
void PushButton4_Click(Form1 &) {}
void PushButton5_Click(Form1 &) {}
void PushButton7_Click(Form1 &) {}

} // namespace deckrun
