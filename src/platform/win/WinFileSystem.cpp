// SPDX-License-Identifier: GPL-3.0-or-later
// The file system on Windows: the Qt-free WinFiles behind the FileSystem
// interface. Its failures become the program's own, code unchanged.

#include "platform/CodePage.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/win/WinFiles.h"

#include <memory>

namespace deckrun {

QChar pathSeparator()
{
    return QLatin1Char('\\');
}

unsigned systemCharacterCode(char32_t character)
{
    return win::ansiCode(character);
}

namespace {

std::wstring wide(const QString &path)
{
    return path.toStdWString();
}

template <typename F> auto guarded(F &&call) -> decltype(call())
{
    try {
        return call();
    } catch (const win::FileError &e) {
        throw Failure(QString::fromStdWString(e.description()), e.code());
    }
}

std::vector<SubFolder> toSubFolders(const std::vector<std::wstring> &names)
{
    std::vector<SubFolder> out;
    out.reserve(names.size());
    for (const std::wstring &name : names)
        out.push_back(SubFolder{QString::fromStdWString(name)});
    return out;
}

class WinFileSystem final : public FileSystem {
public:
    bool fileIsPresent(const QString &path) override { return win::fileIsPresent(wide(path)); }

    int attributes(const QString &path) override
    {
        return guarded([&] { return win::attributes(wide(path)); });
    }

    bool isExistingFile(const QString &path) override { return win::isExistingFile(wide(path)); }

    QStringList listFiles(const QString &folder, const QString &pattern) override
    {
        QStringList names;
        for (const std::wstring &name : win::listFiles(wide(folder), wide(pattern)))
            names << QString::fromStdWString(name);
        return names;
    }

    std::vector<SubFolder> subFolders(const QString &folder,
                                      std::vector<SubFolder> *partial) override
    {
        std::vector<std::wstring> read;
        try {
            return toSubFolders(win::subFolders(wide(folder), &read));
        } catch (const win::FileError &e) {
            if (partial)
                *partial = toSubFolders(read);
            throw Failure(QString::fromStdWString(e.description()), e.code());
        }
    }

    bool isRootFolder(const QString &folder) override { return win::isRootFolder(wide(folder)); }

    std::optional<FolderIdentity> folderIdentity(const QString &folder) override
    {
        const auto id = win::folderIdentity(wide(folder));
        if (!id)
            return std::nullopt;
        return FolderIdentity{id->first, id->second};
    }
};

} // namespace

std::unique_ptr<FileSystem> makeSystemFileSystem()
{
    return std::make_unique<WinFileSystem>();
}

} // namespace deckrun
