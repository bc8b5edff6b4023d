// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/Application.h"
#include "platform/Logging.h"

#include <exception>

namespace deckrun {

Application::Application(int &argc, char **argv) : QApplication(argc, argv)
{
    setOrganizationName(QStringLiteral("Orvanta"));
    setApplicationName(QStringLiteral("Deckrun"));
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        qCWarning(lcApp) << "event" << event->type() << "for" << receiver << "failed:" << e.what();
        return false;
    }
}

} // namespace deckrun
