// SPDX-License-Identifier: GPL-3.0-or-later
// How a hot folder's paths are reached on POSIX systems: from the watched
// folder's descriptor, one folder at a time, each checked to be this user's
// own and written by nobody else, never through a link.
#include "platform/posix/PosixHandover.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace deckrun::posix {

Descriptor Descriptor::duplicate() const
{
    return Descriptor(m_fd < 0 ? -1 : ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0));
}

void Descriptor::reset()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
}

QString systemWords(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray encoded(const QString &name)
{
    return QFile::encodeName(name);
}

QString unfitFolder(const struct stat &st)
{
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("it is a link, and links are never followed here");
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("it is not a folder");
    if (st.st_uid != ::geteuid())
        return QStringLiteral("it belongs to another user (uid %1, where this one is uid %2)")
            .arg(st.st_uid)
            .arg(::geteuid());
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("others than its owner may write to it (mode %1)")
            .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return {};
}

Descriptor openOwnFolder(int at, const QByteArray &name, QString *why)
{
    Descriptor folder(::openat(at, name.constData(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!folder.isOpen()) {
        const int error = errno;
        // A link or a file in its place says what it is; anything else, the system.
        *why = ::fstatat(at, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? unfitFolder(st)
                                                                              : QString();
        if (why->isEmpty())
            *why = systemWords(error);
        return {};
    }
    *why = ::fstat(folder.get(), &st) != 0 ? systemWords(errno) : unfitFolder(st);
    return why->isEmpty() ? std::move(folder) : Descriptor();
}

Spot reach(const HandoverPlaces &places, const QString &path)
{
    Spot spot;
    const QString prefix = places.root + QLatin1Char('/');
    if (!places.rootFolder.isOpen() || !path.startsWith(prefix)) {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        const QString parent = slash > 0    ? path.left(slash)
                               : slash == 0 ? QStringLiteral("/")
                                            : QStringLiteral(".");
        spot.folder = Descriptor(
            ::open(encoded(parent).constData(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
        if (!spot.folder.isOpen())
            spot.refused = systemWords(errno);
        spot.name = encoded(path.mid(slash + 1));
        return spot;
    }
    const QStringList parts = path.mid(prefix.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts.contains(QStringLiteral("..")) ||
        parts.contains(QStringLiteral("."))) {
        spot.refused = QStringLiteral("it names no place below the watched folder");
        return spot;
    }
    Descriptor at = places.rootFolder.duplicate();
    QString walked = places.root;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        walked += QLatin1Char('/') + parts[i];
        QString why;
        Descriptor next = openOwnFolder(at.get(), encoded(parts[i]), &why);
        if (!next.isOpen()) {
            spot.refused = QStringLiteral("\"%1\": %2").arg(walked, why);
            return spot;
        }
        at = std::move(next);
    }
    spot.folder = std::move(at);
    spot.name = encoded(parts.last());
    spot.belowRoot = true;
    return spot;
}

Descriptor openRegular(const HandoverPlaces &places, const QString &path, QString *why)
{
    const Spot spot = reach(places, path);
    if (!spot.refused.isEmpty()) {
        *why = spot.refused;
        return {};
    }
    // Non-blocking, so that a pipe put in its place cannot hold the watcher.
    Descriptor file(::openat(spot.folder.get(), spot.name.constData(),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.isOpen()) {
        *why = errno == ELOOP ? QStringLiteral("it is a link, and links are never followed here")
                              : systemWords(errno);
        return {};
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = QStringLiteral("it is not a regular file");
        return {};
    }
    return file;
}

} // namespace deckrun::posix
