// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FileSystem.h"

struct stat;

namespace deckrun {

/**
 * The file system on POSIX systems. Attribute values are computed: 16 for a
 * folder, 2 for a name that starts with ".", 1 when the mode bits grant this
 * user no write, 32 for a regular file, 1024 for a symbolic link. Listings
 * come sorted by name.
 */
class PosixFileSystem final : public FileSystem {
public:
    bool fileIsPresent(const QString &path) override;
    int attributes(const QString &path) override;
    bool isExistingFile(const QString &path) override;
    QStringList listFiles(const QString &folder, const QString &pattern) override;
    QStringList listExistingFiles(const QString &folder, const QString &pattern,
                                  int excludedValue) override;
    std::vector<SubFolder> subFolders(const QString &folder,
                                      std::vector<SubFolder> *partial) override;
    FolderListing readFolder(const QString &folder, const QString &pattern, int excludedValue,
                             FolderListing *partial, const QString &filePrefix,
                             LinksFollowed links) override;
    bool isRootFolder(const QString &folder) override;
    std::optional<FolderIdentity> folderIdentity(const QString &folder) override;
    QString whyNotReadable(const QString &path) override;

private:
    static int attributeValue(QStringView name, const struct stat &own, const struct stat *target);
};

namespace posix {
/** A path as the system's bytes; the last path's bytes are kept for the next question. */
QByteArray native(const QString &path);
} // namespace posix

} // namespace deckrun
