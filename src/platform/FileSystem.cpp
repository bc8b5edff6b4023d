// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileSystem.h"

#include "platform/Failure.h"
#include "platform/Logging.h"

#include <QFile>
#include <QFileInfo>

namespace deckrun {

bool FileSystem::IsFolder(const QString &path)
{
    try {
        return (attributes(path) & attr::Directory) != 0;
    } catch (const Failure &failure) {
        qCDebug(lcWalk) << "taken as no folder:" << path << failure.description();
        return false;
    }
}

QString readableName(const QByteArray &bytes)
{
    QString shown;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const auto lead = static_cast<unsigned char>(bytes.at(i));
        const qsizetype length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (i + length <= n) {
            // One character at a time: it is taken only when it reads back as the same bytes.
            const QByteArray one = bytes.mid(i, length);
            const QString decoded = QString::fromUtf8(one);
            if (!decoded.contains(QChar::ReplacementCharacter) && decoded.toUtf8() == one) {
                shown += decoded;
                i += length;
                continue;
            }
        }
        // A byte that is no text stands as a lone surrogate of its own, which
        // no decoded name holds; oneLine() shows it as "\\xNN".
        shown += QChar(char16_t(0xDC00 + lead));
        ++i;
    }
    return shown;
}

QString FileSystem::whyNotReadable(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return QString();
    if (info.isDir())
        return QStringLiteral("it is a folder, not a file");
    if (!info.isFile())
        return QStringLiteral("it is not a regular file");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("the file cannot be read: ") + file.errorString();
    return QString();
}

FolderListing FileSystem::readFolder(const QString &folder, const QString &pattern,
                                     int excludedValue, FolderListing *partial,
                                     const QString &filePrefix, LinksFollowed links)
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
    if (links != LinksFollowed::Always) {
        // No owners to compare here: no link is followed.
        const QString base = folder.endsWith(pathSeparator()) ? folder : folder + pathSeparator();
        const auto isLink = [&](const QString &name) {
            if (!QFileInfo(base + name).isSymLink())
                return false;
            listing.leftOut.push_back(
                {base + name, QStringLiteral("it is a link, and links are not followed here")});
            return true;
        };
        std::erase_if(listing.subFolders, [&](const SubFolder &sub) { return isLink(sub.name); });
        listing.files.removeIf(isLink);
    }
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
        } catch (const Failure &failure) {
            // gone between the two looks: not an existing file any more
            qCDebug(lcWalk) << "left out, gone since listed:" << path << failure.description();
        }
    }
    return out;
}

} // namespace deckrun
