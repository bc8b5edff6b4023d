// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A print server's hot folder, as `deckrun --watch FOLDER` keeps it: people
// and systems drop presentation files into FOLDER; each is claimed by moving
// it into the watcher's own folder under FOLDER/Processing/, printed, then
// moved to FOLDER/Printed/, or to FOLDER/Failed/ with its error report beside
// it. Several watchers, on one machine or on several sharing the folder over
// the network, can keep one folder: a move succeeds for one of them only, and
// each watcher's lock tells a live watcher from one that ended, whose claimed
// files are taken back. Every file operation goes through FileHandover.
//
// Whoever drops files may be hostile: only regular files are claimed, never a
// link; Processing/, Printed/, Failed/ and the claim folders must be real
// folders of the watcher's own user that nobody else may write, checked at
// the start and, by FileHandover, at every use.

#include "core/hotfolder/ClaimNote.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace deckrun {

class FileHandover;
class HeldLock;
enum class FileKind;

/** `name` as the `n`th candidate for a free name: "a.pptx", "a (2).pptx", "a (3).pptx" ... */
QString numberedName(const QString &name, int n);

/** A watcher's name under Processing/: its host and process ("printhost-4711"). */
QString watcherName(const QString &host, qint64 pid);

/**
 * numberedName(), shortened where it must be so that the name with a report's
 * ".txt" after it still fits a file system's 255 bytes: the stem loses its
 * last characters, never the number or the extension.
 */
QString fittingName(const QString &name, int n);

/** Where a file went once it was handled. */
struct MovedOut {
    QString shown;        // "Printed/a.pptx", "Failed/a (2).pptx"
    bool reportWritten{}; // a failed file's report lies beside it, as shown + ".txt"
};

class HotFolder {
public:
    /** Says what went wrong (on standard error); the names in it come escaped (oneLine). */
    using Say = std::function<void(const QString &text)>;

    HotFolder(FileHandover &files, QString folder, QString watcher, Say say);
    /** Gives up the claim folder (when empty) and the lock. */
    ~HotFolder();
    HotFolder(const HotFolder &) = delete;
    HotFolder &operator=(const HotFolder &) = delete;

    const QString &folder() const { return m_folder; }
    const QString &watcher() const { return m_watcher; }
    /** FOLDER/`sub` ("Processing", "Printed", "Failed"). */
    QString at(const QString &sub) const;

    /**
     * Holds the folder, makes Processing/, Printed/ and Failed/ and checks
     * that they are the watcher's own, takes this watcher's lock and makes
     * its claim folder; false, with what is wrong said, when it cannot. Warns
     * when others may write to the folder and it has no sticky bit.
     */
    bool open();
    /** Keeps the lock fresh for the watchers on other machines (every minute). */
    void heartbeat();

    /**
     * The files of the claim folders whose watcher ended (its lock can be
     * taken: no lock, its process is gone, or it was not refreshed for ten
     * minutes), and of this watcher's own from an earlier process of its
     * name, each handed to `handle` while that folder is held: it puts the
     * file back, or moves it out. Emptied folders go. Links, and claim
     * folders that are not the watcher's own (another user's), are left alone.
     */
    void takeOverOrphans(const std::function<void(const Claimed &)> &handle);
    /**
     * Puts a claimed file back into the folder (under a free name), to be
     * printed again; the name it got, none when it could not be moved (said).
     */
    std::optional<QString> putBack(const Claimed &claimed);
    /**
     * Notes `note` beside the claimed file, where a watcher that takes over
     * after a crash reads it. False when it cannot be written (said).
     */
    bool note(const QString &claimed, const ClaimNote &note);

    /** How a claim ended. */
    enum class Claim { Claimed, Gone, Refused };
    /**
     * Claims `name` by moving it into this watcher's claim folder (numbered
     * when that name is there); `claimed` gets its path there. Gone: another
     * watcher took it first. Refused: it cannot be moved, or what was moved
     * is no regular file (a link put in its place) and went back (said).
     */
    Claim claim(const QString &name, QString &claimed);

    /**
     * Moves the claimed file to Printed/, or to Failed/ with `report` beside
     * it, under `name` or the first numbered name free there; none, with
     * what is wrong said, when it cannot be moved (it stays in the claim folder).
     */
    std::optional<MovedOut> moveOut(const QString &claimed, const QString &name, bool printed,
                                    const QString &report);

private:
    void takeOver(const QString &claimFolder, const std::function<void(const Claimed &)> &handle);
    ClaimNote noteOf(const QString &claimed) const;
    /** Makes `path` when it is not there; true when it is a folder of the watcher's own (else
     * said). */
    bool ownFolder(const QString &path);
    bool writable(const QString &sub);
    /** Takes back a claim that is no regular file: it goes where it came from. */
    void leaveAlone(const QString &claimed, const QString &name, FileKind kind);
    std::optional<QString> moveToFree(const QString &from, const QString &folder,
                                      const QString &name);

    FileHandover &m_files;
    const QString m_folder;
    const QString m_watcher; // this watcher's name under Processing/
    const QString m_own;     // its claim folder
    Say m_say;
    std::unique_ptr<HeldLock> m_lock;
};

} // namespace deckrun
