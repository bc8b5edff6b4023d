// SPDX-License-Identifier: GPL-3.0-or-later
// The file system on Windows: the real attributes, wildcard listing by the
// system itself (which also matches long extensions through short names), the
// open test without access rights, and sub-folder listing with the codes
// 70 (permission denied) and 76 (path not found).

#include "platform/Failure.h"
#include "platform/FileSystem.h"

#include <windows.h>

#include <memory>

namespace deckrun {

QChar pathSeparator() { return QLatin1Char('\\'); }

namespace {

std::wstring wide(const QString &path) { return path.toStdWString(); }

QString withSeparator(const QString &folder)
{
    return folder.endsWith(QLatin1Char('\\')) ? folder : folder + QLatin1Char('\\');
}

int errorCode(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return 70;
    default:
        return 76;
    }
}

struct FindCloser {
    void operator()(HANDLE h) const
    {
        if (h != INVALID_HANDLE_VALUE)
            FindClose(h);
    }
};

class WinFileSystem final : public FileSystem {
public:
    bool fileIsPresent(const QString &path) override
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        return !path.isEmpty()
            && GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data) != 0;
    }

    int attributes(const QString &path) override
    {
        const DWORD value = GetFileAttributesW(wide(path).c_str());
        if (path.isEmpty() || value == INVALID_FILE_ATTRIBUTES)
            throw Failure(QStringLiteral("File not found: %1").arg(path), 53);
        return static_cast<int>(value & 0xFFFF);
    }

    bool isExistingFile(const QString &path) override
    {
        if (path.isEmpty())
            return false;
        const HANDLE h = CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING,
                                     FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(h);
        return true;
    }

    QStringList listFiles(const QString &folder, const QString &pattern) override
    {
        QStringList names;
        WIN32_FIND_DATAW data;
        const std::unique_ptr<void, FindCloser> find(
            FindFirstFileW(wide(withSeparator(folder) + pattern).c_str(), &data));
        if (find.get() == INVALID_HANDLE_VALUE)
            return names;
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names << QString::fromWCharArray(data.cFileName);
        } while (FindNextFileW(find.get(), &data));
        return names;
    }

    std::vector<SubFolder> subFolders(const QString &folder, std::vector<SubFolder> *partial) override
    {
        std::vector<SubFolder> found;
        WIN32_FIND_DATAW data;
        const std::unique_ptr<void, FindCloser> find(
            FindFirstFileW(wide(withSeparator(folder) + QStringLiteral("*")).c_str(), &data));
        if (find.get() == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND) // an empty root has no "." entry
                return found;
            if (partial)
                *partial = found;
            throw Failure(QStringLiteral("Path not found: %1").arg(folder), errorCode(error));
        }
        do {
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                found.push_back(SubFolder{QString::fromWCharArray(data.cFileName)});
        } while (FindNextFileW(find.get(), &data));
        const DWORD error = GetLastError();
        if (error != ERROR_NO_MORE_FILES) {
            if (partial)
                *partial = found;
            throw Failure(QStringLiteral("Permission denied: %1").arg(folder), errorCode(error));
        }
        return found;
    }

    bool isRootFolder(const QString &folder) override
    {
        wchar_t root[MAX_PATH + 1] = {};
        const std::wstring path = wide(withSeparator(folder));
        return GetVolumePathNameW(path.c_str(), root, MAX_PATH)
            && QString::fromWCharArray(root).compare(QString::fromStdWString(path),
                                                     Qt::CaseInsensitive)
            == 0;
    }

    std::optional<FolderIdentity> folderIdentity(const QString &folder) override
    {
        const HANDLE h = CreateFileW(wide(folder).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return std::nullopt;
        BY_HANDLE_FILE_INFORMATION info;
        const bool ok = GetFileInformationByHandle(h, &info) != 0;
        CloseHandle(h);
        if (!ok || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return std::nullopt;
        return FolderIdentity{info.dwVolumeSerialNumber,
                              (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32)
                                  | info.nFileIndexLow};
    }
};

} // namespace

std::unique_ptr<FileSystem> makeSystemFileSystem() { return std::make_unique<WinFileSystem>(); }

} // namespace deckrun
