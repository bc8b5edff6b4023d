// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a watcher notes beside a file it claimed, in its claim folder under a
// hidden name, where a watcher that takes the claim over after a crash reads
// it: the print job the file went to ("job 12"), or that it was printed
// ("printed 12") or failed ("failed 120") and only moving it out is left.

#include <QString>

namespace deckrun {

struct ClaimNote {
    enum class Kind { None, Job, Printed, Failed };
    Kind kind = Kind::None;
    int number = 0; // the job's id (Job, Printed; 0 when there was none), the failing step (Failed)

    static ClaimNote job(int id) { return {Kind::Job, id}; }
    static ClaimNote printed(int id) { return {Kind::Printed, id}; }
    static ClaimNote failed(int step) { return {Kind::Failed, step}; }

    /** The note as it is written ("job 12"); empty for none. */
    QString text() const;
    /** The note a written text says; none for anything else. */
    static ClaimNote read(const QString &text);

    /**
     * The note's name beside the claimed file `claimedName`: ".NAME.deckrun",
     * hidden so that no listing takes it for a file; for a name too long for
     * that, its beginning and a hash of the whole of it, within the 255 bytes
     * of a file system's names.
     */
    static QString nameFor(const QString &claimedName);
    /** Whether `name` is a note's (or one being written). */
    static bool isNoteName(const QString &name);

    friend bool operator==(const ClaimNote &, const ClaimNote &) = default;
};

/** A file some watcher claimed, and what that watcher noted of it. */
struct Claimed {
    QString path;    // where it is, in its claim folder
    QString name;    // its name there
    QString watcher; // the claim folder's name: the watcher that claimed it
    ClaimNote note = {};
    /** The claim's identity (claimIdentity); empty when its content cannot be read. */
    QString identity = {};
};

} // namespace deckrun
