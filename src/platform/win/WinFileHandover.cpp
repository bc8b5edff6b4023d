// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileHandover.h"

#include "platform/Logging.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <string>
#include <utility>

#include <windows.h>

namespace deckrun {

namespace {

std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

} // namespace

MoveOutcome moveWithoutReplacing(const QString &from, const QString &to, QString *error)
{
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    if (MoveFileExW(native(from).c_str(), native(to).c_str(), 0))
        return MoveOutcome::Moved;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)
        return MoveOutcome::TargetTaken;
    if ((code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) &&
        GetFileAttributesW(native(from).c_str()) == INVALID_FILE_ATTRIBUTES)
        return MoveOutcome::SourceGone;
    if (error)
        *error = QStringLiteral("Windows error %1").arg(code);
    return MoveOutcome::Failed;
}

/** The watched folder as named, and the private copies' folder: Windows keeps no descriptors. */
class HandoverPlaces {
public:
    QString root;
    std::unique_ptr<QTemporaryDir> copies;
    QString copy;
};

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

FileHandover::FileHandover() : m_places(std::make_unique<HandoverPlaces>()) {}

FileHandover::~FileHandover() = default;

QString FileHandover::holdRoot(const QString &folder)
{
    m_places->root = folder;
    return QFileInfo(folder).isDir() ? QString() : QStringLiteral("it is not a folder");
}

QString FileHandover::whyNotOwn(const QString &folder)
{
    // Windows keeps a folder's rights in its access list, which is the
    // administrator's to set; links and junctions are refused all the same.
    const QFileInfo info(folder);
    if (info.isSymLink() || info.isJunction())
        return QStringLiteral("it is a link, and links are never followed here");
    if (!info.isDir())
        return QStringLiteral("it is not a folder");
    return {};
}

bool FileHandover::othersMayRename(const QString &)
{
    return false;
}

std::optional<FileState> FileHandover::state(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    const FileKind kind = info.isSymLink() || info.isJunction() ? FileKind::Link
                          : info.isFile()                       ? FileKind::Regular
                                                                : FileKind::Other;
    return FileState{info.size(), info.lastModified(), kind};
}

bool FileHandover::isFolder(const QString &path)
{
    return QFileInfo(path).isDir();
}

QStringList FileHandover::folders(const QString &folder)
{
    return QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden |
                                  QDir::NoSymLinks);
}

QStringList FileHandover::files(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
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
    if (QFileInfo(path).isSymLink() || !file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return std::nullopt;
    return hash.result();
}

std::optional<QByteArray> FileHandover::read(const QString &path)
{
    QFile file(path);
    if (QFileInfo(path).isSymLink() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.read(qint64(64) * 1024); // notes and reports are small
}

QString FileHandover::write(const QString &path, const QByteArray &bytes)
{
    // Written whole under a name of its own, then put in the place of the old.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return file.errorString();
    return {};
}

bool FileHandover::remove(const QString &path)
{
    return QFile::remove(path);
}

std::optional<PrivateCopy> FileHandover::privateCopy(const QString &path, QString *error)
{
    dropPrivateCopy();
    if (!m_places->copies)
        m_places->copies = std::make_unique<QTemporaryDir>();
    const QString copy = m_places->copies->filePath(QFileInfo(path).fileName());
    const std::optional<QByteArray> hash = contentHash(path);
    if (!hash || !m_places->copies->isValid() || !QFile::copy(path, copy)) {
        if (error)
            *error = QStringLiteral("the file cannot be read");
        return std::nullopt;
    }
    m_places->copy = copy;
    return PrivateCopy{copy, *hash};
}

void FileHandover::dropPrivateCopy()
{
    if (!m_places->copy.isEmpty())
        QFile::remove(std::exchange(m_places->copy, QString()));
}

QStringList filesOpenForWriting(const QStringList &paths)
{
    QStringList open;
    for (const QString &path : paths) {
        // Shared for reading only: refused while anyone holds it open for writing.
        const HANDLE file = CreateFileW(native(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_SHARING_VIOLATION)
                open << path;
            continue;
        }
        CloseHandle(file);
    }
    return open;
}

} // namespace deckrun
