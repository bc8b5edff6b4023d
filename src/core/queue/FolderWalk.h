// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The AddFolder module: turning a folder and everything below it into queue
// rows. "Add All File(s) In Folder" (gui/AddFolder.cpp) asks for an extension
// and a folder; the drop handler walks dropped folders with the pattern
// "*.*"; `deckrun --print` walks the folders it is given.

#include "platform/FileSystem.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace deckrun {

class QueueTarget;
class StepRunner;
struct Platform;

/**
 * Told of each file or folder a walk leaves out for a reason other than its
 * pattern and its lock-file rules: a folder that cannot be read, a folder
 * reached again through a link, a name that is no text or holds a control
 * character, a path too long, a pipe or device, a link to nothing. The path
 * is shown readably (readableName); `why` says what kept it out.
 */
using LeftOutSink = std::function<void(const QString &path, const QString &why)>;

/**
 * Walks `folder` and all folders below it in level order and appends every
 * file matching `pattern` (except names beginning with "~" and files whose
 * attribute value is exactly 34) to the queue, each path through
 * NormalizePath. Failures are reported through `steps` with the step numbers
 * 114 to 134 and the walk goes on. What it leaves out otherwise goes to
 * `leftOut` when given (batch mode names it); the window leaves it out
 * silently, logged to deckrun.walk. The links met below `folder` are followed
 * as `links` says: the window's walks go through the user's own tree,
 * `--print` may walk a tree that others write to.
 */
void AddFolderTree(QueueTarget &target, const QString &folder, const QString &pattern,
                   StepRunner &steps, const LeftOutSink &leftOut = {},
                   LinksFollowed links = LinksFollowed::Always);
/** The same, reporting failures under the drop handler's location. */
void AddFolderTree(QueueTarget &target, const QString &folder, const QString &pattern);

/**
 * Extends `folders` (each ending with one separator) in place with every
 * folder below them, level by level. Unreadable and vanished folders are
 * dropped silently; each real folder is walked once, so links that lead back
 * up end the walk instead of repeating it.
 */
void GetSubDirectories2016(Platform &platform, QStringList &folders, bool recurse);

/** The names of the files in `folder` matching `pattern` that open as files, in listing order. */
QStringList GetFilesInFolder(FileSystem &files, const QString &folder, const QString &pattern);

/** True when `path` names an existing file (not a folder) that can be opened. */
bool IsExistingFile(FileSystem &files, const QString &path);

/**
 * True when `name` holds a character whose code in the system's character set
 * (systemCharacterCode) is a control code, from 127 to 159, or "?".
 */
bool HasUnsafeChars(const QString &name);

/** The location the error reports of "Add All File(s) In Folder" name. */
QString AddFolderLocation();
/** The location the error reports of a drop on the list name. */
QString DropLocation();

} // namespace deckrun
