// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/ProgressBar.h"

namespace deckrun {

ProgressBar::ProgressBar(QWidget *parent) : QProgressBar(parent)
{
    setRange(0, 100);
    setValue(0);
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
}

void ProgressBar::setText(const QString &text)
{
    m_text = text;
    // The format is shown literally: '%' would otherwise be taken for a placeholder.
    QString shown = text;
    shown.replace(QLatin1Char('%'), QLatin1String("%%"));
    setFormat(shown);
    setAccessibleName(text);
}

} // namespace deckrun
