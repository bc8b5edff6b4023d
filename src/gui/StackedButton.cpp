// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/StackedButton.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace deckrun {

namespace {
constexpr int IconSize = 32;
}

StackedButton::StackedButton(const QString &text, const QIcon &icon, QWidget *parent)
    : QPushButton(icon, text, parent)
{
    setIconSize(QSize(IconSize, IconSize));
}

QIcon StackedButton::arrowIcon(bool up)
{
    QPixmap pm(IconSize, IconSize);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    // A broad head over a short shaft, pointing up; mirrored for down.
    arrow.moveTo(16, 3);
    arrow.lineTo(29, 17);
    arrow.lineTo(21, 17);
    arrow.lineTo(21, 29);
    arrow.lineTo(11, 29);
    arrow.lineTo(11, 17);
    arrow.lineTo(3, 17);
    arrow.closeSubpath();
    if (!up)
        p.setTransform(QTransform(1, 0, 0, -1, 0, IconSize));
    p.setPen(QPen(QColor(0x1f, 0x4e, 0x8c), 1.5));
    p.setBrush(QColor(0x3a, 0x7b, 0xd5));
    p.drawPath(arrow);
    return QIcon(pm);
}

void StackedButton::paintEvent(QPaintEvent *)
{
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    p.drawControl(QStyle::CE_PushButton, option);

    const QRect area = rect().adjusted(3, 4, -3, -4);
    const QFontMetrics fm(font());
    const QRect textBounds = fm.boundingRect(area, Qt::AlignHCenter | Qt::TextWordWrap, text());
    const int total = IconSize + 2 + textBounds.height();
    const int top = area.top() + (area.height() - total) / 2;
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    icon().paint(&p, QRect(area.left() + (area.width() - IconSize) / 2, top, IconSize, IconSize),
                 Qt::AlignCenter, mode);
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    p.drawText(QRect(area.left(), top + IconSize + 2, area.width(), textBounds.height()),
               Qt::AlignHCenter | Qt::TextWordWrap, text());
}

} // namespace deckrun
