// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/Unprivileged.h"

#include <QByteArray>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace deckrun::test {

QString asUnprivilegedUser(const std::function<QString()> &body)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return QStringLiteral("no pipe");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        QByteArray out;
        if (::geteuid() == 0) {
            const struct passwd *nobody = ::getpwnam("nobody");
            if (!nobody || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
                ::setuid(nobody->pw_uid) != 0 || ::geteuid() == 0)
                out = "could not become nobody";
        }
        if (out.isEmpty())
            out = body().toUtf8();
        for (qsizetype done = 0; done < out.size();) {
            const ssize_t n = ::write(channel[1], out.constData() + done, out.size() - done);
            if (n <= 0)
                break;
            done += n;
        }
        ::_exit(0);
    }
    ::close(channel[1]);
    QByteArray got;
    char buffer[4096];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        got.append(buffer, n);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        got += "\nthe child failed";
    return QString::fromUtf8(got);
}

UnprivilegedPeer::UnprivilegedPeer(const std::function<std::function<QString()>()> &setUp)
{
    int ready[2], stop[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(stop, O_CLOEXEC) != 0)
        return;
    m_stop = stop[1];
    m_thread = std::thread([this, setUp, ready, stop] {
        m_result = asUnprivilegedUser([&] {
            ::close(stop[1]); // its own copy would keep the end from closing
            const auto report = setUp();
            char byte = 'r';
            [[maybe_unused]] const auto told = ::write(ready[1], &byte, 1);
            [[maybe_unused]] const auto stopped = ::read(stop[0], &byte, 1);
            return report();
        });
        ::close(ready[1]); // a child that ended early: the read below returns
        ::close(stop[0]);
    });
    char byte = 0;
    [[maybe_unused]] const auto got = ::read(ready[0], &byte, 1);
    ::close(ready[0]);
}

QString UnprivilegedPeer::finish()
{
    if (m_stop >= 0)
        ::close(std::exchange(m_stop, -1));
    if (m_thread.joinable())
        m_thread.join();
    return m_result;
}

} // namespace deckrun::test
