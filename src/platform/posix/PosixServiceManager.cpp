// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ServiceManager.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace deckrun {

void notifyServiceManager(const QByteArray &state)
{
    const QByteArray path = qgetenv("NOTIFY_SOCKET");
    sockaddr_un address{};
    if (path.isEmpty() || static_cast<std::size_t>(path.size()) >= sizeof address.sun_path)
        return;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    if (address.sun_path[0] == '@')
        address.sun_path[0] = '\0'; // an abstract socket
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
    [[maybe_unused]] const auto sent =
        ::sendto(fd, state.constData(), static_cast<std::size_t>(state.size()), MSG_NOSIGNAL,
                 reinterpret_cast<sockaddr *>(&address), length);
    ::close(fd);
}

int serviceWatchdogMilliseconds()
{
    // Only this process is meant when the manager names a process at all.
    const QByteArray pid = qgetenv("WATCHDOG_PID");
    if (!pid.isEmpty() && pid.toLongLong() != static_cast<long long>(::getpid()))
        return 0;
    bool number = false;
    const qlonglong micro = qgetenv("WATCHDOG_USEC").toLongLong(&number);
    if (!number || micro <= 0)
        return 0;
    // Twice as often as the manager must hear it: a late turn is not yet a hang.
    return static_cast<int>(std::clamp<qlonglong>(micro / 2000, 1, qlonglong(1) << 30));
}

} // namespace deckrun
