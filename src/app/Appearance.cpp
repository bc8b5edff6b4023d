// SPDX-License-Identifier: GPL-3.0-or-later
// The window's look: the application title, the pointer rule of the
// mouse-move handlers, the skin, the help message and the application icon.

#include "app/ErrorReport.h"
#include "app/Form1.h"
#include "app/Handlers.h"
#include "platform/Platform.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>

namespace deckrun {

QString ApplicationTitle(const QString &productName)
{
    QString title = productName;
    const QChar space = QLatin1Char(' ');
    if (!title.contains(space))
        return title;
    // The first cut always happens; then cut word by word down to 40 characters.
    title.truncate(title.lastIndexOf(space));
    while (title.size() > 40 && title.contains(space))
        title.truncate(title.lastIndexOf(space));
    return title;
}

void ApplySkinAndColours(Form1 &)
{
    // The skin comes with the appearance work; without a skin file nothing changes.
}

void PushButton6_Click(Form1 &form)
{
    StepRunner r(*form.platform().dialogs,
                 QStringLiteral("in Tamberlin2021/08/31.Form1.PushButton6_Click "));
    r.step(100, [&] {
        form.platform().dialogs->messageBox(
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

void Form_MouseMove(Form1 &form) { restoreArrow(form); }
void Frame1_MouseMove(Form1 &form) { restoreArrow(form); }
void Frame2_MouseMove(Form1 &form) { restoreArrow(form); }

void PushButton_MouseMove(Form1 &form)
{
    if (!form.isBusy())
        form.setMousePointer(pointer::Custom);
}

QIcon applicationIcon()
{
    QIcon icon(QStringLiteral(":/deckrun/deckrun.png"));
    if (!icon.isNull() && !icon.availableSizes().isEmpty())
        return icon;
    // Drawn here until an icon file is bundled: a stack of slides with a print arrow.
    QPixmap pm(64, 64);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 2; i >= 0; --i) {
        p.setPen(QPen(QColor(0x1f, 0x4e, 0x8c), 2));
        p.setBrush(i == 0 ? QColor(0xf4, 0xf7, 0xfb) : QColor(0xc9, 0xd8, 0xee));
        p.drawRoundedRect(QRectF(6 + i * 6, 6 + i * 6, 40, 30), 3, 3);
    }
    p.setBrush(QColor(0xe0, 0x6c, 0x1f));
    p.setPen(Qt::NoPen);
    QPainterPath arrow;
    arrow.moveTo(40, 40);
    arrow.lineTo(60, 52);
    arrow.lineTo(40, 64 - 2);
    arrow.closeSubpath();
    p.drawPath(arrow);
    return QIcon(pm);
}

} // namespace deckrun
