// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPushButton>

namespace deckrun {

/**
 * A push button that shows its 32 by 32 icon above its caption, the caption
 * wrapped at spaces: "Move Up" and "Move Down" are taller than wide.
 */
class StackedButton final : public QPushButton {
    Q_OBJECT

public:
    StackedButton(const QString &text, const QIcon &icon, QWidget *parent = nullptr);

    /** Our own arrow icon, pointing up or down. */
    static QIcon arrowIcon(bool up);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace deckrun
