// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileSystem.h"

#include "platform/Failure.h"

namespace deckrun {

bool FileSystem::IsFolder(const QString &path)
{
    try {
        return (attributes(path) & attr::Directory) != 0;
    } catch (const Failure &) {
        return false;
    }
}

std::vector<ListedFile> FileSystem::listExistingFiles(const QString &folder, const QString &pattern)
{
    QString base = folder;
    if (!base.endsWith(pathSeparator()))
        base += pathSeparator();
    std::vector<ListedFile> out;
    for (const QString &name : listFiles(folder, pattern)) {
        const QString path = base + name;
        if (!isExistingFile(path))
            continue;
        try {
            out.push_back({name, attributes(path)});
        } catch (const Failure &) {
            // gone between the two looks: not an existing file any more
        }
    }
    return out;
}

} // namespace deckrun
