// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Local sockets between a user's own processes: a folder no other user can
// put a name in first, and a look at who is at the other end before
// anything is said.

#include <QString>

namespace deckrun {

/**
 * The folder for the user's own sockets: XDG_RUNTIME_DIR when it is the
 * user's own and closed to others, else a folder of the user's own (0700)
 * in the temporary folder, made when missing. Empty where names need no
 * folder (Windows: a named pipe of the user's session); where no such
 * folder can be had, empty too, with `why` saying what is wrong.
 */
QString privateSocketFolder(QString *why);

/**
 * Why the socket `path` (and, when `descriptor` is a connection to it, the
 * process listening there) is not the user's own; empty when it is.
 */
QString strangerAt(const QString &path, long long descriptor = -1);

} // namespace deckrun
