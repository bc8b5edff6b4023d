// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>

namespace deckrun {

/**
 * The application object. A failure that escapes a handler without an error
 * report of its own stops at the event loop: the window stays usable.
 */
class Application final : public QApplication {
    Q_OBJECT

public:
    Application(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace deckrun
