// SPDX-License-Identifier: GPL-3.0-or-later
// A hot folder's file operations on POSIX systems, each made relative to an
// open folder: below the watched folder every path is reached from its
// descriptor one folder at a time (openat with O_NOFOLLOW), each of those
// folders checked to be this user's own and written by nobody else, and the
// last name is never followed (AT_SYMLINK_NOFOLLOW, O_NOFOLLOW, renameat2).
// How a path is reached is in PosixHandoverPaths.cpp, the moves and the look
// for writers in PosixHandoverMoves.cpp.
#include "platform/FileHandover.h"

#include "platform/Logging.h"
#include "platform/posix/PosixHandover.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace deckrun {

using posix::Descriptor;
using posix::encoded;
using posix::openOwnFolder;
using posix::openRegular;
using posix::reach;
using posix::Spot;
using posix::systemWords;
using posix::unfitFolder;

namespace {

/** Opens the folder `path` itself for listing; below the watched folder only one of this user's
 * own. */
Descriptor openFolder(const HandoverPlaces &places, const QString &path)
{
    if (path == places.root && places.rootFolder.isOpen())
        return places.rootFolder.duplicate();
    Spot spot = reach(places, path);
    QString why = spot.refused;
    Descriptor folder;
    if (why.isEmpty() && spot.belowRoot)
        folder = openOwnFolder(spot.folder.get(), spot.name, &why);
    else if (why.isEmpty())
        folder = Descriptor(::openat(spot.folder.get(), spot.name.constData(),
                                     O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
    if (!folder.isOpen())
        qCDebug(lcApp) << "a folder of the watched folder cannot be listed:" << path << why;
    return folder;
}

/** The names in an open folder whose own kind (links not followed) `wanted` takes. */
QStringList namesIn(Descriptor folder, bool (*wanted)(mode_t))
{
    QStringList names;
    DIR *listing = folder.isOpen() ? ::fdopendir(folder.release()) : nullptr;
    if (!listing)
        return names;
    while (const struct dirent *e = ::readdir(listing)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(listing), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            wanted(st.st_mode))
            names << QFile::decodeName(e->d_name);
    }
    ::closedir(listing);
    return names;
}

bool isFolderMode(mode_t mode)
{
    return S_ISDIR(mode);
}

bool isRegularMode(mode_t mode)
{
    return S_ISREG(mode);
}

/** Reads the open file to its end into `sink`; false on a read error. */
template <typename Sink> bool readAll(int fd, Sink &&sink)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (!sink(buffer, n))
            return false;
    }
}

bool writeAll(int fd, const char *bytes, qsizetype size)
{
    for (qsizetype done = 0; done < size;) {
        const ssize_t n = ::write(fd, bytes + done, static_cast<std::size_t>(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

/**
 * Makes this process's folder for private copies in the user's own cache,
 * and removes those of this user's watchers that were killed (their process
 * is gone); empty, with why, when it cannot be made.
 */
QString makeCopiesFolder(QString *why)
{
    const QString parent = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                           QStringLiteral("/deckrun");
    QDir().mkpath(parent);
    const QStringList left = QDir(parent).entryList({QStringLiteral("watch-*")},
                                                    QDir::Dirs | QDir::NoSymLinks | QDir::Hidden);
    for (const QString &name : left) {
        const auto pid = static_cast<pid_t>(name.section(QLatin1Char('-'), 1, 1).toLongLong());
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
            QDir(parent + QLatin1Char('/') + name).removeRecursively();
    }
    // mkdtemp makes it 0700, under a name nobody could take first.
    QByteArray folder = encoded(parent + QStringLiteral("/watch-%1-XXXXXX").arg(::getpid()));
    if (::mkdtemp(folder.data()))
        return QFile::decodeName(folder);
    *why = systemWords(errno);
    return {};
}

/** A lock file reached through the folder it lies in, held open while the lock is held. */
class FolderHeldLock final : public HeldLock {
public:
    FolderHeldLock(Descriptor folder, std::unique_ptr<QLockFile> lock)
        : m_folder(std::move(folder)), m_lock(std::move(lock))
    {}
    ~FolderHeldLock() override { m_lock->unlock(); }

    bool refresh() override
    {
        QFile lock(m_lock->fileName());
        const bool fresh =
            lock.open(QIODevice::ReadWrite | QIODevice::ExistingOnly) &&
            lock.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
        if (!fresh)
            qCDebug(lcApp) << "a lock could not be refreshed:" << lock.errorString();
        return fresh;
    }

private:
    Descriptor m_folder; // what the lock's name is reached through
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace

FileHandover::FileHandover() : m_places(std::make_unique<HandoverPlaces>()) {}

FileHandover::~FileHandover()
{
    dropPrivateCopy();
    if (!m_places->copies.isEmpty())
        ::rmdir(encoded(m_places->copies).constData());
}

QString FileHandover::holdRoot(const QString &folder)
{
    Descriptor root(::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.isOpen())
        return systemWords(errno);
    m_places->root = folder;
    m_places->rootFolder = std::move(root);
    return {};
}

QString FileHandover::whyNotOwn(const QString &folder)
{
    const Spot spot = reach(*m_places, folder);
    if (!spot.refused.isEmpty())
        return spot.refused;
    struct stat st {};
    if (::fstatat(spot.folder.get(), spot.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return systemWords(errno);
    return unfitFolder(st);
}

bool FileHandover::othersMayRename(const QString &folder)
{
    struct stat st {};
    return ::stat(encoded(folder).constData(), &st) == 0 &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0;
}

std::optional<FileState> FileHandover::state(const QString &path)
{
    const Spot spot = reach(*m_places, path);
    struct stat st {};
    if (!spot.refused.isEmpty() ||
        ::fstatat(spot.folder.get(), spot.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    const FileKind kind = S_ISREG(st.st_mode)   ? FileKind::Regular
                          : S_ISLNK(st.st_mode) ? FileKind::Link
                                                : FileKind::Other;
    return FileState{static_cast<qint64>(st.st_size),
                     QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 +
                                                    st.st_mtim.tv_nsec / 1000000),
                     kind};
}

bool FileHandover::isFolder(const QString &path)
{
    struct stat st {};
    const Spot spot = reach(*m_places, path);
    if (!spot.belowRoot) // the watched folder itself, as named
        return ::stat(encoded(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
    return spot.refused.isEmpty() &&
           ::fstatat(spot.folder.get(), spot.name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(st.st_mode);
}

QStringList FileHandover::folders(const QString &folder)
{
    return namesIn(openFolder(*m_places, folder), isFolderMode);
}

QStringList FileHandover::files(const QString &folder)
{
    return namesIn(openFolder(*m_places, folder), isRegularMode);
}

QString FileHandover::makeFolders(const QString &path)
{
    const QString prefix = m_places->root + QLatin1Char('/');
    if (!m_places->rootFolder.isOpen() || !path.startsWith(prefix))
        return QDir().mkpath(path) ? QString() : QStringLiteral("it cannot be made");
    Descriptor at = m_places->rootFolder.duplicate();
    QString walked = m_places->root;
    for (const QString &part :
         path.mid(prefix.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        walked += QLatin1Char('/') + part;
        // Readable by all, as the files dropped are; written by the watcher alone.
        if (::mkdirat(at.get(), encoded(part).constData(), 0755) != 0 && errno != EEXIST)
            return QStringLiteral("\"%1\": %2").arg(walked, systemWords(errno));
        QString why;
        at = openOwnFolder(at.get(), encoded(part), &why);
        if (!at.isOpen())
            return QStringLiteral("\"%1\": %2").arg(walked, why);
    }
    return {};
}

bool FileHandover::removeEmptyFolder(const QString &path)
{
    const Spot spot = reach(*m_places, path);
    return spot.refused.isEmpty() &&
           ::unlinkat(spot.folder.get(), spot.name.constData(), AT_REMOVEDIR) == 0;
}

MoveOutcome FileHandover::move(const QString &from, const QString &to, QString *error)
{
    const Spot source = reach(*m_places, from);
    const Spot target = reach(*m_places, to);
    for (const Spot *spot : {&source, &target}) {
        if (!spot->refused.isEmpty()) {
            if (error)
                *error = spot->refused;
            return MoveOutcome::Failed;
        }
    }
    return posix::moveAt(source.folder.get(), source.name, target.folder.get(), target.name, error);
}

std::unique_ptr<HeldLock> FileHandover::tryLock(const QString &path, int staleMilliseconds)
{
    Spot spot = reach(*m_places, path);
    if (!spot.refused.isEmpty()) {
        qCDebug(lcApp) << "a lock cannot be reached:" << path << spot.refused;
        return nullptr;
    }
    // The lock file's own format is Qt's, shared with every watcher; its name
    // is reached through the folder held open, whatever becomes of the path.
    auto lock = std::make_unique<QLockFile>(QStringLiteral("/proc/self/fd/%1/%2")
                                                .arg(spot.folder.get())
                                                .arg(QFile::decodeName(spot.name)));
    lock->setStaleLockTime(staleMilliseconds);
    if (!lock->tryLock(0))
        return nullptr;
    return std::make_unique<FolderHeldLock>(std::move(spot.folder), std::move(lock));
}

CreateOutcome FileHandover::createNew(const QString &path, QString *error)
{
    const Spot spot = reach(*m_places, path);
    QString why = spot.refused;
    if (why.isEmpty()) {
        const Descriptor made(::openat(spot.folder.get(), spot.name.constData(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (made.isOpen())
            return CreateOutcome::Created;
        if (errno == EEXIST)
            return CreateOutcome::Exists;
        why = systemWords(errno);
    }
    if (error)
        *error = why;
    return CreateOutcome::Failed;
}

std::optional<QByteArray> FileHandover::contentHash(const QString &path)
{
    QString why;
    const Descriptor file = openRegular(*m_places, path, &why);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const bool read = file.isOpen() && readAll(file.get(), [&](const char *bytes, ssize_t n) {
                          hash.addData(QByteArrayView(bytes, n));
                          return true;
                      });
    if (!read)
        return std::nullopt;
    return hash.result();
}

std::optional<QByteArray> FileHandover::read(const QString &path)
{
    constexpr qsizetype Most = qsizetype(64) * 1024; // notes and reports are small
    QString why;
    const Descriptor file = openRegular(*m_places, path, &why);
    QByteArray text;
    const bool read = file.isOpen() && readAll(file.get(), [&](const char *bytes, ssize_t n) {
                          text.append(bytes, qMin<qsizetype>(n, Most - text.size()));
                          return text.size() < Most;
                      });
    if (!read && text.size() < Most)
        return std::nullopt;
    return text;
}

QString FileHandover::write(const QString &path, const QByteArray &bytes)
{
    const Spot spot = reach(*m_places, path);
    if (!spot.refused.isEmpty())
        return spot.refused;
    // A name of its own, hidden and ending as a note does: one left by a
    // crash is removed with the notes whose file is gone.
    QByteArray temporary;
    Descriptor file;
    for (int attempt = 0; attempt < 8 && !file.isOpen(); ++attempt) {
        temporary = ".deckrun-" + QByteArray::number(QRandomGenerator::system()->generate64(), 16) +
                    ".deckrun";
        file = Descriptor(::openat(spot.folder.get(), temporary.constData(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!file.isOpen() && errno != EEXIST)
            break;
    }
    if (!file.isOpen())
        return systemWords(errno);
    if (!writeAll(file.get(), bytes.constData(), bytes.size()) ||
        ::renameat(spot.folder.get(), temporary.constData(), spot.folder.get(),
                   spot.name.constData()) != 0) {
        QString why = systemWords(errno);
        ::unlinkat(spot.folder.get(), temporary.constData(), 0);
        return why;
    }
    return {};
}

bool FileHandover::remove(const QString &path)
{
    const Spot spot = reach(*m_places, path);
    return spot.refused.isEmpty() && ::unlinkat(spot.folder.get(), spot.name.constData(), 0) == 0;
}

std::optional<PrivateCopy> FileHandover::privateCopy(const QString &path, QString *error)
{
    dropPrivateCopy();
    QString why;
    const Descriptor source = openRegular(*m_places, path, &why);
    if (source.isOpen() && m_places->copies.isEmpty())
        m_places->copies = makeCopiesFolder(&why);
    const QString copy =
        m_places->copies + QLatin1Char('/') + path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    Descriptor target;
    if (why.isEmpty()) {
        target = Descriptor(::open(encoded(copy).constData(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!target.isOpen())
            why = systemWords(errno);
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (why.isEmpty() && !readAll(source.get(), [&](const char *bytes, ssize_t n) {
            hash.addData(QByteArrayView(bytes, n));
            return writeAll(target.get(), bytes, n);
        })) {
        why = systemWords(errno);
        ::unlink(encoded(copy).constData());
    }
    if (!why.isEmpty()) {
        if (error)
            *error = why;
        return std::nullopt;
    }
    m_places->copy = copy;
    return PrivateCopy{copy, hash.result()};
}

void FileHandover::dropPrivateCopy()
{
    if (!m_places->copy.isEmpty())
        ::unlink(encoded(std::exchange(m_places->copy, QString())).constData());
}

} // namespace deckrun
