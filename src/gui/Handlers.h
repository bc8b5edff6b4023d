// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window's own handlers, by their given names: the Help button, the
// pointer rule and the start-up hooks. The other subsystems declare theirs
// (queue/QueueHandlers.h, printing/PrintingHandlers.h, samples/Samples.h);
// Form1 forwards each event to its handler.

#include <QIcon>
#include <QString>

class QCursor;

namespace deckrun {

class Dialogs;
class Form1;

void PushButton6_Click(Dialogs &dialogs); // Help
void Form_MouseMove(Form1 &form);
void Frame1_MouseMove(Form1 &form);
void Frame2_MouseMove(Form1 &form);
void PushButton_MouseMove(Form1 &form); // the nine push buttons share one rule

// Start-up hooks called by Form_Load.
void ApplySkinAndColours(Form1 &form); // step 100
/** The hand cursor file as a pointer, hotspot included; throws Failure (481) when unreadable. */
QCursor LoadCursorFile(const QString &path);          // step 104
QIcon applicationIcon();                              // the window's icon, from the resources
QString ApplicationTitle(const QString &productName); // step 130

} // namespace deckrun
