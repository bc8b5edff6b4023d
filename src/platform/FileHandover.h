// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Handing files over between processes through a folder they share (the
// watched folder of `deckrun --watch`): a move that never replaces what is
// already there, whether a file is still being written, locks that tell a
// live watcher from one that ended, and the plain file operations a hot
// folder needs. The hot folder's rules (core/hotfolder) reach the disk only
// through FileHandover, so tests can put a fault of their own under them.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace deckrun {

/** How a move ended. */
enum class MoveOutcome {
    Moved,
    SourceGone,  // nothing at the source: another process moved it first
    TargetTaken, // a file of that name is already there; nothing was moved
    Failed,      // anything else (permissions, another file system)
};

/**
 * Moves `from` to `to` (on the same file system) in one step, so that of
 * several processes moving the same file exactly one succeeds, and never
 * replaces a file at `to`. `error` gets the system's words when it failed.
 */
MoveOutcome moveWithoutReplacing(const QString &from, const QString &to, QString *error = nullptr);

/**
 * Those of `paths` that a process on this machine holds open for writing, as
 * far as Deckrun may look (on Linux, the processes of its own user, or all of
 * them as root). A writer on another machine is not seen.
 */
QStringList filesOpenForWriting(const QStringList &paths);

/** A file's size and last change: what tells whether it still grows. */
struct FileState {
    qint64 size = -1;
    QDateTime modified;
    friend bool operator==(const FileState &, const FileState &) = default;
};

/** How making a new file ended. */
enum class CreateOutcome { Created, Exists, Failed };

/** A lock file this process holds; released when dropped. */
class HeldLock {
public:
    virtual ~HeldLock() = default;
    /** Marks the lock fresh, for the processes on other machines that judge it by its age. */
    virtual bool refresh() = 0;
};

/** The file operations of a hot folder. The implementation here is the system's own. */
class FileHandover {
public:
    virtual ~FileHandover() = default;

    /** The file's size and last change; none when nothing is there. */
    virtual std::optional<FileState> state(const QString &path);
    virtual bool isFolder(const QString &path);
    /** The names of the folders in `folder`, hidden ones included. */
    virtual QStringList folders(const QString &folder);
    /** The names of the files (no folders) in `folder`, hidden ones included. */
    virtual QStringList files(const QString &folder);
    /** Makes `path` and the folders above it; the system's words when it could not. */
    virtual QString makeFolders(const QString &path);
    /** Removes `path` when it is an empty folder. */
    virtual bool removeEmptyFolder(const QString &path);
    /** moveWithoutReplacing(). */
    virtual MoveOutcome move(const QString &from, const QString &to, QString *error);
    /** filesOpenForWriting(). */
    virtual QStringList openForWriting(const QStringList &paths);
    /**
     * Takes the lock file `path`, or takes it over from a process that ended
     * (or, on another machine, did not refresh it for `staleMilliseconds`);
     * none when a live process holds it or it cannot be written.
     */
    virtual std::unique_ptr<HeldLock> tryLock(const QString &path, int staleMilliseconds);
    /** Makes `path` as a new, empty file; never opens one that is there. */
    virtual CreateOutcome createNew(const QString &path, QString *error);
    /** A SHA-256 of the file's content; none when it cannot be read. */
    virtual std::optional<QByteArray> contentHash(const QString &path);
    /** The whole of the small file at `path`; none when it cannot be read. */
    virtual std::optional<QByteArray> read(const QString &path);
    /** Writes `bytes` as the whole of the file at `path`; the system's words when it could not. */
    virtual QString write(const QString &path, const QByteArray &bytes);
    virtual bool remove(const QString &path);
    /** Whether `folder` lies on a network file system (whose changes are not told of). */
    virtual bool onNetworkFileSystem(const QString &folder);
};

} // namespace deckrun
