// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Telling the service manager how a service fares (systemd's notify
// protocol, a datagram to $NOTIFY_SOCKET): "READY=1" once it works,
// "STATUS=..." for `systemctl status`, "WATCHDOG=1" while its main loop
// turns. Without a service manager that asks for it, nothing happens.

#include <QByteArray>

namespace deckrun {

/** Sends `state` ("READY=1", "STATUS=printed 3") to the service manager, if one listens. */
void notifyServiceManager(const QByteArray &state);

/** How often the service manager wants to hear "WATCHDOG=1", in milliseconds; 0: never. */
int serviceWatchdogMilliseconds();

} // namespace deckrun
