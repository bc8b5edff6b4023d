// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/OfficeWorkspace.h"

#include "platform/Failure.h"
#include "platform/Logging.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace deckrun::uno {

namespace {

constexpr auto Prefix = "deckrun-office-";
constexpr auto LockName = "/.lock";
constexpr auto CopyPrefix = "deck-";

/** Whether `path` is a folder of this user's own, not a link. */
bool ownFolder(const QByteArray &path, struct stat &info)
{
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid();
}

/** Whether nobody holds the lock of the workspace `path` (its lock file may be missing). */
bool unheld(const QByteArray &path, const struct stat &folder)
{
    const int fd = ::open((path + LockName).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // Made a moment ago, its lock not yet taken; or one that never had one.
        return errno == ENOENT && folder.st_mtime < QDateTime::currentSecsSinceEpoch() - 60;
    }
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

Failure noCopy(const QString &deck, int error)
{
    return Failure(QStringLiteral("the file \"%1\" could not be copied for the office: %2")
                       .arg(deck, QString::fromLocal8Bit(std::strerror(error))));
}

/** Copies the regular file `from` to the new file `to`; the error, 0 when copied. */
int copyFile(const QByteArray &from, const QByteArray &to)
{
    const int in = ::open(from.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0)
        return errno;
    struct stat info {};
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        return EINVAL;
    }
    const int out =
        ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    int error = 0;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        for (ssize_t done = 0; done < got && error == 0;) {
            const ssize_t put = ::write(out, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno != EINTR)
                error = errno;
            done += put > 0 ? put : 0;
        }
        if (error != 0)
            break;
    }
    ::close(in);
    if (::close(out) != 0 && error == 0)
        error = errno;
    return error;
}

} // namespace

std::unique_ptr<OfficeWorkspace> OfficeWorkspace::make(const QString &base)
{
    const QString under = base.isEmpty() ? QDir::tempPath() : base;
    static std::once_flag swept;
    std::call_once(swept, [&under] {
        if (const int removed = removeLeftovers(under))
            qCDebug(lcOffice) << "removed" << removed << "folders earlier offices left in" << under;
    });
    QByteArray name =
        QFile::encodeName(under + QLatin1Char('/') + QLatin1String(Prefix)) + "XXXXXX";
    if (!::mkdtemp(name.data()))
        throw Failure(QStringLiteral("no room for the office's files in \"%1\": %2")
                          .arg(under, QString::fromLocal8Bit(std::strerror(errno))));
    const int lock = ::open((name + LockName).constData(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    std::unique_ptr<OfficeWorkspace> workspace(new OfficeWorkspace(QFile::decodeName(name), lock));
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0 ||
        !QDir().mkdir(workspace->temporaryFolder()))
        throw Failure(QStringLiteral("no room for the office's files in \"%1\".").arg(under));
    return workspace;
}

int OfficeWorkspace::removeLeftovers(const QString &base)
{
    int removed = 0;
    const qint64 hourAgo = QDateTime::currentSecsSinceEpoch() - 3600;
    const QStringList names = QDir(base).entryList(
        {QLatin1String(Prefix) + QLatin1Char('*'), QStringLiteral("deckrun-print-*")},
        QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const QString path = base + QLatin1Char('/') + name;
        const QByteArray file = QFile::encodeName(path);
        struct stat info {};
        if (!ownFolder(file, info))
            continue;
        const bool leftOver = name.startsWith(QLatin1String(Prefix))
                                  ? unheld(file, info)
                                  : info.st_mtime < hourAgo; // an earlier version's job
        if (leftOver && QDir(path).removeRecursively())
            ++removed;
    }
    return removed;
}

OfficeWorkspace::OfficeWorkspace(QString path, int lock) : m_path(std::move(path)), m_lock(lock) {}

OfficeWorkspace::~OfficeWorkspace()
{
    // Removed while the lock is still held: nobody else takes it for a leftover meanwhile.
    if (!QDir(m_path).removeRecursively())
        qCDebug(lcOffice) << "the office's folder could not be removed:" << m_path;
    if (m_lock >= 0)
        ::close(m_lock);
}

QString OfficeWorkspace::temporaryFolder() const
{
    return m_path + QStringLiteral("/tmp");
}

QString OfficeWorkspace::profileRoot() const
{
    return m_path + QStringLiteral("/profile");
}

QString OfficeWorkspace::copyIn(const QString &deck)
{
    const QStringList before =
        QDir(m_path).entryList({QLatin1String(CopyPrefix) + QLatin1Char('*')}, QDir::Dirs);
    for (const QString &old : before)
        QDir(m_path + QLatin1Char('/') + old).removeRecursively();
    const QString folder =
        m_path + QLatin1Char('/') + QLatin1String(CopyPrefix) + QString::number(++m_copies);
    if (!QDir().mkdir(folder))
        throw noCopy(deck, EEXIST);
    QString copy = folder + QLatin1Char('/') + QFileInfo(deck).fileName();
    if (const int error = copyFile(QFile::encodeName(deck), QFile::encodeName(copy)))
        throw noCopy(deck, error);
    handOver(folder);
    handOver(copy);
    return copy;
}

std::unique_ptr<QTemporaryDir> OfficeWorkspace::jobFolder() const
{
    auto folder = std::make_unique<QTemporaryDir>(m_path + QStringLiteral("/deckrun-print-XXXXXX"));
    if (folder->isValid())
        handOver(folder->path());
    return folder;
}

void OfficeWorkspace::handTo(uid_t uid, gid_t gid)
{
    m_owner = Owner{uid, gid};
    // The workspace itself stays Deckrun's (its leftovers are found by
    // their owner); the office may pass through it to what is its own.
    ::chmod(QFile::encodeName(m_path).constData(), 0711);
    QDirIterator everything(m_path,
                            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
    while (everything.hasNext()) {
        const QString entry = everything.next();
        if (!entry.endsWith(QLatin1String(LockName)))
            handOver(entry);
    }
}

void OfficeWorkspace::handOver(const QString &path) const
{
    if (m_owner && ::lchown(QFile::encodeName(path).constData(), m_owner->uid, m_owner->gid) != 0)
        qCDebug(lcOffice) << "could not hand to the office's user:" << path;
}

} // namespace deckrun::uno
