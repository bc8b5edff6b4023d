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

FolderListing FileSystem::readFolder(const QString &folder, const QString &pattern,
                                     int excludedValue, FolderListing *partial,
                                     const QString &filePrefix)
{
    FolderListing listing;
    listing.identity = folderIdentity(folder);
    std::vector<SubFolder> read;
    try {
        listing.subFolders = subFolders(folder, &read);
    } catch (const Failure &) {
        if (partial) {
            partial->subFolders = std::move(read);
            partial->identity = listing.identity;
        }
        throw;
    }
    listing.files = listExistingFiles(folder, pattern, excludedValue);
    if (!filePrefix.isEmpty())
        for (QString &name : listing.files)
            name.prepend(filePrefix);
    return listing;
}

QStringList FileSystem::listExistingFiles(const QString &folder, const QString &pattern,
                                          int excludedValue)
{
    QString base = folder;
    if (!base.endsWith(pathSeparator()))
        base += pathSeparator();
    QStringList out;
    for (const QString &name : listFiles(folder, pattern)) {
        const QString path = base + name;
        if (!isExistingFile(path))
            continue;
        try {
            if (excludedValue == -1 || attributes(path) != excludedValue)
                out << name;
        } catch (const Failure &) {
            // gone between the two looks: not an existing file any more
        }
    }
    return out;
}

} // namespace deckrun
