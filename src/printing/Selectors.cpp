// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Form1.h"
#include "app/Handlers.h"
#include "platform/Platform.h"

#include <QComboBox>

namespace deckrun {

void FillPrinterList(Form1 &) {}

void Combo1_Click(Form1 &form)
{
    form.platform().settings->write(QStringLiteral("Combo1"),
                                    QString::number(form.Combo1->currentIndex()));
}

void Combo2_Click(Form1 &form)
{
    form.platform().settings->write(QStringLiteral("Combo2"),
                                    QString::number(form.Combo2->currentIndex()));
}

void Combo2_Change(Form1 &form) { Combo2_Click(form); }

void PushButton9_Click(Form1 &) {}

} // namespace deckrun
