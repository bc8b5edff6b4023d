// SPDX-License-Identifier: GPL-3.0-or-later
// The window's own handlers: the Help button and the pointer rule (the hand
// over the buttons, the arrow elsewhere, the hourglass kept while busy).

#include "gui/Handlers.h"

#include "core/common/ErrorReport.h"
#include "gui/Form1.h"
#include "platform/Dialogs.h"

namespace deckrun {

void PushButton6_Click(Dialogs &dialogs)
{
    StepRunner steps(dialogs, FormLocation("PushButton6_Click"));
    steps.step(100, [&] {
        dialogs.messageBox(
            QStringLiteral("This program works with PowerPoint Presentations like .ppt and .pptx "
                           "but not PowerPoint Shows like .pps"),
            QString(), Buttons::Ok, Icon::None);
    });
}

namespace {
void restoreArrow(Form1 &form)
{
    if (!form.isBusy())
        form.setMousePointer(pointer::Default);
}
} // namespace

void Form_MouseMove(Form1 &form)
{
    restoreArrow(form);
}
void Frame1_MouseMove(Form1 &form)
{
    restoreArrow(form);
}
void Frame2_MouseMove(Form1 &form)
{
    restoreArrow(form);
}

void PushButton_MouseMove(Form1 &form)
{
    if (!form.isBusy())
        form.setMousePointer(pointer::Custom);
}

} // namespace deckrun
