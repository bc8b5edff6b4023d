// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every event handler of Form1, by its given name. Each lives with its
// subsystem; Form1 only forwards the events here.

#include <QIcon>
#include <QString>
#include <Qt>

class QCursor;
class QDragMoveEvent;
class QDropEvent;
class QModelIndex;
class QPoint;

namespace deckrun {

class Form1;

// app/
void PushButton6_Click(Form1 &form);
void Form_MouseMove(Form1 &form);
void Frame1_MouseMove(Form1 &form);
void Frame2_MouseMove(Form1 &form);
void PushButton_MouseMove(Form1 &form); // the nine push buttons share one rule

// queue/ editing
void ListView1_KeyDown(Form1 &form, int keyCode, Qt::KeyboardModifiers shift);
void ListView1_DblClick(Form1 &form);
void ListView1_ItemClick(Form1 &form, const QModelIndex &item);
void ListView1_MouseDown(Form1 &form, Qt::MouseButton button);
/** `pos` in the list's viewport; `screenY` the pointer's vertical screen position. */
void ListView1_MouseMove(Form1 &form, const QPoint &pos, int screenY);
void ListView1_MouseUp(Form1 &form, Qt::MouseButton button);
void PushButton4_Click(Form1 &form);
void PushButton5_Click(Form1 &form);
void PushButton7_Click(Form1 &form);

// queue/ adding
void PushButton1_Click(Form1 &form);
void PushButton2_Click(Form1 &form);
void ListView1_OLEDragOver(Form1 &form, QDragMoveEvent *event);
void ListView1_OLEDragDrop(Form1 &form, QDropEvent *event);

// printing/
void PushButton3_Click(Form1 &form);
void PushButton9_Click(Form1 &form);
void Combo1_Click(Form1 &form);
void Combo2_Click(Form1 &form);
void Combo2_Change(Form1 &form);

// samples/
void PushButton8_Click(Form1 &form);

// Start-up hooks called by Form_Load.
void ApplySkinAndColours(Form1 &form);       // step 100
/** The hand cursor file as a pointer, hotspot included; throws Failure (481) when unreadable. */
QCursor LoadCursorFile(const QString &path); // step 104
QIcon applicationIcon();                     // the window's icon, from the resources
QString ApplicationTitle(const QString &productName); // step 130
void FillPrinterList(Form1 &form);           // step 136
void CheckPowerPointInstalled(Form1 &form);  // step 146

} // namespace deckrun
