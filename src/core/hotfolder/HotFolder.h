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

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace deckrun {

class FileHandover;
class HeldLock;

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
    /** Says what went wrong (on standard error); the names in it are the caller's to escape. */
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
     * Makes Processing/, Printed/ and Failed/, takes this watcher's lock and
     * makes its claim folder; false, with what is wrong said, when it cannot.
     */
    bool open();
    /** Keeps the lock fresh for the watchers on other machines (every minute). */
    void heartbeat();
    /** A file some watcher claimed, and what that watcher noted of it. */
    struct Claimed {
        QString path;    // where it is, in its claim folder
        QString name;    // its name there
        QString watcher; // the claim folder's name: the watcher that claimed it
        QString note;    // what the watcher noted ("job 12", "printed 12"); empty: nothing
    };

    /**
     * The files of the claim folders whose watcher ended (its lock can be
     * taken: no lock, its process is gone, or it was not refreshed for ten
     * minutes), and of this watcher's own from an earlier process of its
     * name, each handed to `handle` while that folder is held: it puts the
     * file back, or moves it out. Emptied folders go.
     */
    void takeOverOrphans(const std::function<void(const Claimed &)> &handle);
    /** Puts a claimed file back into the folder (under a free name), to be printed again. */
    void putBack(const Claimed &claimed);
    /**
     * Notes `text` beside the claimed file, where a watcher that takes over
     * after a crash reads it ("job 12": its print job; "printed 12": printed,
     * but it could not be moved out). False when it cannot be written.
     */
    bool note(const QString &claimed, const QString &text);

    /** How a claim ended. */
    enum class Claim { Claimed, Gone, Refused };
    /**
     * Claims `name` by moving it into this watcher's claim folder (numbered
     * when that name is there); `claimed` gets its path there. Gone: another
     * watcher took it first. Refused: it cannot be moved (said).
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
    QString noteOf(const QString &claimed) const;
    bool writable(const QString &sub);
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
