// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProgressBar>

namespace deckrun {

/**
 * `ProgressBar1`: the filled share shows the value while the text shows the
 * file in hand. The text is also the accessible name, so a screen reader
 * hears what the eye sees.
 */
class ProgressBar final : public QProgressBar {
    Q_OBJECT

public:
    explicit ProgressBar(QWidget *parent = nullptr);

    QString text() const override { return m_text; }
    void setText(const QString &text);

private:
    QString m_text;
};

} // namespace deckrun
