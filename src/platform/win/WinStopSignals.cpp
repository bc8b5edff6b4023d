// SPDX-License-Identifier: GPL-3.0-or-later
// The console's requests to end (Ctrl+C, Ctrl+Break, closing the console
// window, log-off, shut-down) arrive on threads of the system's
// (WinConsoleControl.h); each is posted to the main thread as a queued call,
// under the control's lock, so that the receiver is never gone while one is
// on its way.

#include "platform/StopSignals.h"
#include "platform/win/WinConsoleControl.h"

#include <QMetaObject>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace deckrun {

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    win::ConsoleControl::install([this](const win::ConsoleRequest &request) {
        // Posting is all that may happen here: this runs on the system's thread.
        QMetaObject::invokeMethod(
            this,
            [this, signal = request.signal, name = QString::fromLatin1(request.name)] {
                emit stopAsked(signal, name);
            },
            Qt::QueuedConnection);
    });
}

StopSignals::~StopSignals()
{
    // No request reaches this object once this returns.
    win::ConsoleControl::uninstall();
}

void StopSignals::deliver(int signal)
{
    emit stopAsked(signal,
                   signal == SIGINT ? QStringLiteral("Ctrl+C") : QStringLiteral("Ctrl+Break"));
}

QString StopSignals::requestNames()
{
    return QStringLiteral("Ctrl+C, Ctrl+Break or closing the console window");
}

void StopSignals::endBy(int signal)
{
    std::fflush(nullptr);
    std::_Exit(128 + signal);
}

} // namespace deckrun
