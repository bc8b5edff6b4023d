// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Who the office runs as. A watcher is a door for whoever may drop files: run
// as root, its office (which reads those files) runs as the watched folder's
// owner instead, where the system lets it.

#include <QString>

#include <optional>

namespace deckrun {

struct OfficeUser {
    unsigned uid;
    unsigned gid;
};

/**
 * For a watcher of `folder`: when Deckrun runs as root, from now on its
 * office runs as the owner of `folder` (when that is another user), and the
 * words to say once about it; empty when Deckrun runs as a user of its own.
 */
QString runOfficeAsOwnerOf(const QString &folder);

/** The user the office runs as when not as Deckrun's own. */
std::optional<OfficeUser> officeUser();

} // namespace deckrun
