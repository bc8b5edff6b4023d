// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/PrivateSockets.h"

#include <QDir>
#include <QFile>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace deckrun {

namespace {

/** Whether `path` is a folder of this user's own (not a link) that nobody else may enter. */
bool ownClosedFolder(const QByteArray &path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

} // namespace

QString privateSocketFolder(QString *why)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && ownClosedFolder(runtime))
        return QFile::decodeName(runtime);
    QString own = QDir::tempPath() + QStringLiteral("/deckrun-%1").arg(::getuid());
    const QByteArray path = QFile::encodeName(own);
    ::mkdir(path.constData(), 0700);
    if (ownClosedFolder(path))
        return own;
    if (why)
        *why =
            QStringLiteral("\"%1\" is not a folder of this user's own, closed to others").arg(own);
    return {};
}

QString strangerAt(const QString &path, long long descriptor)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISSOCK(info.st_mode) ||
        info.st_uid != ::getuid())
        return QStringLiteral("\"%1\" is not a socket of this user's own").arg(path);
    ucred peer{};
    socklen_t length = sizeof peer;
    if (descriptor >= 0 &&
        (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
         peer.uid != ::getuid()))
        return QStringLiteral("the process listening on \"%1\" is another user's").arg(path);
    return {};
}

} // namespace deckrun
