// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/posix/PosixFileSystem.h"

#include "platform/Failure.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace deckrun {

QChar pathSeparator() { return QLatin1Char('/'); }

std::unique_ptr<FileSystem> makeSystemFileSystem() { return std::make_unique<PosixFileSystem>(); }

namespace {
QByteArray native(const QString &path) { return QFile::encodeName(path); }
} // namespace

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
        throw Failure(QStringLiteral("File not found: %1").arg(path), 53);
    int value = 0;
    if (S_ISLNK(st.st_mode)) {
        value |= attr::ReparsePoint;
        struct stat target {};
        if (::stat(name.constData(), &target) == 0)
            st = target;
    }
    if (S_ISDIR(st.st_mode))
        value |= attr::Directory;
    else if (S_ISREG(st.st_mode))
        value |= attr::Archive;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (path.mid(slash + 1).startsWith(QLatin1Char('.')))
        value |= attr::Hidden;
    if (::access(name.constData(), W_OK) != 0)
        value |= attr::ReadOnly;
    return value;
}

bool PosixFileSystem::isExistingFile(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(native(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

QStringList PosixFileSystem::listFiles(const QString &, const QString &)
{
    throw Failure(QStringLiteral("Folder listing is not available yet."));
}

std::vector<SubFolder> PosixFileSystem::subFolders(const QString &, std::vector<SubFolder> *)
{
    throw Failure(QStringLiteral("Folder listing is not available yet."));
}

bool PosixFileSystem::isRootFolder(const QString &folder)
{
    return folder == QLatin1String("/");
}

std::optional<FolderIdentity> PosixFileSystem::folderIdentity(const QString &folder)
{
    struct stat st {};
    if (::stat(native(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return FolderIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

} // namespace deckrun
