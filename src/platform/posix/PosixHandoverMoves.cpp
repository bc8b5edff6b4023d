// SPDX-License-Identifier: GPL-3.0-or-later
// The moves of a hot folder that never replace, and the look for the files
// some process still writes, on POSIX systems.
#include "platform/posix/PosixHandover.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace deckrun {

namespace posix {

namespace {

MoveOutcome failedBy(int error, int fromFolder, const QByteArray &from, QString *why)
{
    if (error == EEXIST || error == ENOTEMPTY)
        return MoveOutcome::TargetTaken;
    struct stat st {};
    // ENOENT also says the target's folder is missing: only a missing source is "gone".
    if (error == ENOENT && ::fstatat(fromFolder, from.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == ENOENT)
        return MoveOutcome::SourceGone;
    if (why)
        *why = systemWords(error);
    return MoveOutcome::Failed;
}

} // namespace

MoveOutcome moveAt(int fromFolder, const QByteArray &from, int toFolder, const QByteArray &to,
                   QString *error)
{
    const char *source = from.constData(), *target = to.constData();
#ifdef RENAME_NOREPLACE
    if (::renameat2(fromFolder, source, toFolder, target, RENAME_NOREPLACE) == 0)
        return MoveOutcome::Moved;
    // Some file systems (NFS, older network ones) do not know the flag.
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return failedBy(errno, fromFolder, from, error);
#endif
    // A hard link (of a link, the link itself) is refused when the name is
    // taken; of two processes that both linked the same source, only one can
    // unlink it.
    if (::linkat(fromFolder, source, toFolder, target, 0) == 0) {
        if (::unlinkat(fromFolder, source, 0) == 0)
            return MoveOutcome::Moved;
        const int unlinkError = errno;
        ::unlinkat(toFolder, target, 0);
        return failedBy(unlinkError, fromFolder, from, error);
    }
    if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS)
        return failedBy(errno, fromFolder, from, error);
    // No hard links either (some network shares): a plain rename, which a
    // source taken meanwhile still refuses, after a look at the target.
    struct stat st {};
    if (::fstatat(toFolder, target, &st, AT_SYMLINK_NOFOLLOW) == 0)
        return MoveOutcome::TargetTaken;
    if (::renameat(fromFolder, source, toFolder, target) == 0)
        return MoveOutcome::Moved;
    return failedBy(errno, fromFolder, from, error);
}

} // namespace posix

namespace {

using FileId = std::pair<dev_t, ino_t>;

/** Whether descriptor `fd` of process `pid` is open for writing, from its fdinfo flags (octal). */
bool writable(const char *pid, const char *fd)
{
    QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(QLatin1String(pid), QLatin1String(fd)));
    if (!info.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : info.readAll().split('\n')) {
        if (!line.startsWith("flags:"))
            continue;
        bool ok = false;
        const unsigned flags = line.mid(6).trimmed().toUInt(&ok, 8);
        return ok && (flags & O_ACCMODE) != O_RDONLY;
    }
    return false;
}

} // namespace

MoveOutcome moveWithoutReplacing(const QString &from, const QString &to, QString *error)
{
    return posix::moveAt(AT_FDCWD, QFile::encodeName(from), AT_FDCWD, QFile::encodeName(to), error);
}

QStringList filesOpenForWriting(const QStringList &paths)
{
    std::set<FileId> wanted;
    std::vector<std::pair<FileId, QString>> byId;
    for (const QString &path : paths) {
        struct stat st {};
        // The name itself: a link is no file being written.
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0) {
            wanted.insert({st.st_dev, st.st_ino});
            byId.push_back({{st.st_dev, st.st_ino}, path});
        }
    }
    std::set<FileId> written;
    DIR *proc = wanted.empty() ? nullptr : ::opendir("/proc");
    if (!proc)
        return {};
    while (const struct dirent *p = ::readdir(proc)) {
        if (p->d_name[0] < '0' || p->d_name[0] > '9')
            continue;
        const std::string fdPath = std::string("/proc/") + p->d_name + "/fd";
        DIR *fds = ::opendir(fdPath.c_str());
        if (!fds)
            continue; // another user's process, or one that just ended
        while (const struct dirent *f = ::readdir(fds)) {
            struct stat st {};
            if (f->d_name[0] == '.' || ::fstatat(::dirfd(fds), f->d_name, &st, 0) != 0)
                continue;
            const FileId id{st.st_dev, st.st_ino};
            if (wanted.count(id) && !written.count(id) && writable(p->d_name, f->d_name))
                written.insert(id);
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    QStringList open;
    for (const auto &[id, path] : byId)
        if (written.count(id))
            open << path;
    return open;
}

} // namespace deckrun
