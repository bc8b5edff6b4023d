// SPDX-License-Identifier: GPL-3.0-or-later
// What every system's hot folder does alike; the file operations themselves
// are in posix/PosixFileHandover.cpp and win/WinFileHandover.cpp.
#include "platform/FileHandover.h"

#include <QStorageInfo>

namespace deckrun {

QStringList FileHandover::openForWriting(const QStringList &paths)
{
    return filesOpenForWriting(paths);
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
