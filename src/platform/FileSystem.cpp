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

} // namespace deckrun
