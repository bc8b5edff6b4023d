// SPDX-License-Identifier: GPL-3.0-or-later
// Windows services are told of in other ways; a watcher there runs under a
// service wrapper of the administrator's choice.

#include "platform/ServiceManager.h"

namespace deckrun {

void notifyServiceManager(const QByteArray &) {}

int serviceWatchdogMilliseconds()
{
    return 0;
}

} // namespace deckrun
