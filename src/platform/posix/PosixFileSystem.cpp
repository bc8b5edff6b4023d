// SPDX-License-Identifier: GPL-3.0-or-later
// The looks at one path; the listings of folders are in PosixListings.cpp.
#include "platform/posix/PosixFileSystem.h"

#include "platform/Failure.h"
#include "platform/Platform.h"

#include <QFile>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace deckrun {

QChar pathSeparator()
{
    return QLatin1Char('/');
}

std::unique_ptr<FileSystem> makeSystemFileSystem()
{
    return std::make_unique<PosixFileSystem>();
}

namespace {

QByteArray encoded(const QString &path)
{
    // Plain ASCII, by far the common case, needs no encoder.
    for (const QChar c : path)
        if (c.unicode() >= 0x80)
            return QFile::encodeName(path);
    return path.toLatin1();
}

// The read-only attribute: set when the mode bits that apply to this user
// grant no write. Read from the mode rather than asked of the kernel, so it
// describes the file the same way for every user, root included.
bool readOnly(const struct stat &st)
{
    static const uid_t uid = ::geteuid();
    static const gid_t gid = ::getegid();
    if (uid == 0)
        return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    if (st.st_uid == uid)
        return (st.st_mode & S_IWUSR) == 0;
    if (st.st_gid == gid)
        return (st.st_mode & S_IWGRP) == 0;
    return (st.st_mode & S_IWOTH) == 0;
}

} // namespace

namespace posix {

QByteArray native(const QString &path)
{
    // A walk asks about each folder several times in a row: the last path's
    // bytes are kept for the next question.
    thread_local QString lastPath;
    thread_local QByteArray lastBytes;
    if (path.size() != lastPath.size() || path != lastPath) {
        lastBytes = encoded(path);
        lastPath = path;
    }
    return lastBytes;
}

} // namespace posix

using posix::native;

int PosixFileSystem::attributeValue(QStringView name, const struct stat &own,
                                    const struct stat *target)
{
    int value = 0;
    const struct stat &st = target ? *target : own;
    if (S_ISLNK(own.st_mode))
        value |= attr::ReparsePoint;
    if (S_ISDIR(st.st_mode))
        value |= attr::Directory;
    else if (S_ISREG(st.st_mode))
        value |= attr::Archive;
    if (name.startsWith(QLatin1Char('.')))
        value |= attr::Hidden;
    if (readOnly(st))
        value |= attr::ReadOnly;
    return value;
}

bool PosixFileSystem::fileIsPresent(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(native(path).constData(), &st) == 0;
}

int PosixFileSystem::attributes(const QString &path)
{
    const QByteArray name = native(path);
    struct stat st {};
    if (path.isEmpty() || ::lstat(name.constData(), &st) != 0)
        throw Failure(QStringLiteral("File not found: %1").arg(path), code::FileNotFound);
    struct stat target {};
    const bool followed = S_ISLNK(st.st_mode) && ::stat(name.constData(), &target) == 0;
    QStringView last(path);
    while (last.size() > 1 && last.endsWith(QLatin1Char('/')))
        last.chop(1);
    last = last.mid(last.lastIndexOf(QLatin1Char('/')) + 1);
    return attributeValue(last, st, followed ? &target : nullptr);
}

bool PosixFileSystem::isExistingFile(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(native(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PosixFileSystem::isRootFolder(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    for (const QChar c : folder)
        if (c != QLatin1Char('/'))
            return false;
    return true;
}

std::optional<FolderIdentity> PosixFileSystem::folderIdentity(const QString &folder)
{
    struct stat st {};
    if (::stat(native(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return FolderIdentity{static_cast<std::uint64_t>(st.st_dev),
                          static_cast<std::uint64_t>(st.st_ino)};
}

QString PosixFileSystem::whyNotReadable(const QString &path)
{
    if (path.isEmpty())
        return QString();
    const QByteArray name = native(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return QString(); // missing: the office's own words say so
        return QStringLiteral("the file cannot be read: ") +
               QString::fromLocal8Bit(std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("it is a folder, not a file");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("it is a named pipe (FIFO), not a file");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("it is a device, not a file");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("it is a socket, not a file");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("it is not a regular file");
    // Opened as the office would open it; a regular file never blocks here.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return QStringLiteral("the file cannot be read: ") +
               QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    return QString();
}

} // namespace deckrun
