// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Handing files over between processes through a folder they share (the
// watched folder of `deckrun --watch`): a move that never replaces what is
// already there, whether a file is still being written, locks that tell a
// live watcher from one that ended, and the plain file operations a hot
// folder needs. The hot folder's rules (core/hotfolder) reach the disk only
// through FileHandover, so tests can put a fault of their own under them.
//
// Whoever may write to the watched folder may plant links and folders in it.
// Once the folder is held (holdRoot), every path below it is reached from
// its open descriptor one folder at a time: never through a link, and only
// through folders of this user's own that nobody else may write. The last
// name is never followed either: a link is moved, replaced or removed as a
// link, never opened; files are made new, never opened over what is there.
// Each system defines the operations in its own folder (posix/, win/).

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

/** What a name in a folder is, itself: a link is a link, whatever it leads to. */
enum class FileKind { Regular, Link, Other };

/** A file's size and last change (what tells whether it still grows), and its kind. */
struct FileState {
    qint64 size = -1;
    QDateTime modified;
    FileKind kind = FileKind::Regular;
    friend bool operator==(const FileState &, const FileState &) = default;
};

/** A copy of a file where nobody else can reach it, and its content's SHA-256. */
struct PrivateCopy {
    QString path;
    QByteArray hash;
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

/** The watched folder and this process's private copies, as each system keeps them. */
class HandoverPlaces;

/** The file operations of a hot folder. The implementation here is the system's own. */
class FileHandover {
public:
    FileHandover();
    virtual ~FileHandover();
    FileHandover(const FileHandover &) = delete;
    FileHandover &operator=(const FileHandover &) = delete;

    /**
     * Holds `folder` open (as named: a link to it is followed) as the one
     * every later path below it is reached from; the system's words when it
     * cannot be opened.
     */
    virtual QString holdRoot(const QString &folder);
    /**
     * Why `folder` cannot be a folder of this user's own ("it is a link, ...",
     * "it belongs to another user ...", "others than its owner may write to
     * it ..."); empty when it can.
     */
    virtual QString whyNotOwn(const QString &folder);
    /** Whether others may write to `folder` while it lacks the sticky bit: they can rename what is
     * in it. */
    virtual bool othersMayRename(const QString &folder);

    /** The state of the name itself (a link is not followed); none when nothing is there. */
    virtual std::optional<FileState> state(const QString &path);
    virtual bool isFolder(const QString &path);
    /** The names of the folders (not links to folders) in `folder`, hidden ones included. */
    virtual QStringList folders(const QString &folder);
    /** The names of the regular files (no links) in `folder`, hidden ones included. */
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
    /** A SHA-256 of the regular file's content; none when it cannot be read. */
    virtual std::optional<QByteArray> contentHash(const QString &path);
    /** The whole of the small regular file at `path`; none when it cannot be read. */
    virtual std::optional<QByteArray> read(const QString &path);
    /**
     * Writes `bytes` as the whole of the file at `path`, made new under a
     * name of its own and then put in the place of whatever is there; the
     * system's words when it could not.
     */
    virtual QString write(const QString &path, const QByteArray &bytes);
    /** Removes the name (a link as a link). */
    virtual bool remove(const QString &path);
    /** Whether `folder` lies on a network file system (whose changes are not told of). */
    virtual bool onNetworkFileSystem(const QString &folder);
    /**
     * Copies the regular file at `path`, opened once, into a folder of this
     * process's own that nobody else may enter, under the same name, so that
     * what is printed is what was checked; none, with why in `error`, when
     * it is no regular file or cannot be read. The copy before it goes.
     */
    virtual std::optional<PrivateCopy> privateCopy(const QString &path, QString *error);
    /** Removes the last private copy. */
    virtual void dropPrivateCopy();

private:
    std::unique_ptr<HandoverPlaces> m_places;
};

} // namespace deckrun
