// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Adding files by the file-open dialog and by dropping files and folders on
// the queue list; the program's own arguments are added as a drop.

#include <QStringList>

namespace deckrun {

class QueueWindow;

/**
 * Appends dropped items in order, exactly as a drop on the queue list does:
 * a file as it is, a folder as every file in it and below it (pattern "*.*").
 * Failures are reported under the drop handler's location and the next item
 * goes on.
 */
void AddDroppedItems(QueueWindow &window, const QStringList &items);

/**
 * Queues `paths` exactly as a drop of them on the queue list would. A path
 * that does not exist is left out and named in one message afterwards (and on
 * standard error); the others are queued all the same.
 */
void openCommandLinePaths(QueueWindow &window, const QStringList &paths);

} // namespace deckrun
