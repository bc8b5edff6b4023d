// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileHandover.h"

#include "platform/Logging.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStorageInfo>

namespace deckrun {

namespace {

class QtHeldLock final : public HeldLock {
public:
    explicit QtHeldLock(std::unique_ptr<QLockFile> lock) : m_lock(std::move(lock)) {}
    ~QtHeldLock() override { m_lock->unlock(); }

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
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace

std::optional<FileState> FileHandover::state(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    return FileState{info.size(), info.lastModified()};
}

bool FileHandover::isFolder(const QString &path)
{
    return QFileInfo(path).isDir();
}

QStringList FileHandover::folders(const QString &folder)
{
    return QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
}

QStringList FileHandover::files(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

QString FileHandover::makeFolders(const QString &path)
{
    if (QDir().mkpath(path))
        return {};
    return QStringLiteral("it cannot be made");
}

bool FileHandover::removeEmptyFolder(const QString &path)
{
    return QDir().rmdir(path);
}

MoveOutcome FileHandover::move(const QString &from, const QString &to, QString *error)
{
    return moveWithoutReplacing(from, to, error);
}

QStringList FileHandover::openForWriting(const QStringList &paths)
{
    return filesOpenForWriting(paths);
}

std::unique_ptr<HeldLock> FileHandover::tryLock(const QString &path, int staleMilliseconds)
{
    auto lock = std::make_unique<QLockFile>(path);
    lock->setStaleLockTime(staleMilliseconds);
    if (!lock->tryLock(0))
        return nullptr;
    return std::make_unique<QtHeldLock>(std::move(lock));
}

CreateOutcome FileHandover::createNew(const QString &path, QString *error)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return CreateOutcome::Created;
    if (file.exists())
        return CreateOutcome::Exists;
    if (error)
        *error = file.errorString();
    return CreateOutcome::Failed;
}

std::optional<QByteArray> FileHandover::contentHash(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return std::nullopt;
    return hash.result();
}

std::optional<QByteArray> FileHandover::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.read(qint64(64) * 1024); // notes and reports are small
}

QString FileHandover::write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return file.errorString();
    if (file.write(bytes) != bytes.size() || !file.flush())
        return file.errorString();
    return {};
}

bool FileHandover::remove(const QString &path)
{
    return QFile::remove(path);
}

bool FileHandover::onNetworkFileSystem(const QString &folder)
{
    const QByteArray type = QStorageInfo(folder).fileSystemType().toLower();
    for (const char *network :
         {"nfs", "cifs", "smb", "9p", "afs", "ceph", "glusterfs", "fuse.sshfs", "davfs", "lustre"})
        if (type.startsWith(network))
            return true;
    return false;
}

} // namespace deckrun
