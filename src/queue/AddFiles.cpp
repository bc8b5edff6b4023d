// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Form1.h"
#include "app/Handlers.h"

#include <QDropEvent>

namespace deckrun {

void PushButton1_Click(Form1 &) {}
void ListView1_OLEDragOver(Form1 &, QDragMoveEvent *event) { event->ignore(); }
void ListView1_OLEDragDrop(Form1 &, QDropEvent *) {}

} // namespace deckrun
