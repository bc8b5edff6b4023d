// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/Unprivileged.h"

#include <QByteArray>

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

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

} // namespace deckrun::test
