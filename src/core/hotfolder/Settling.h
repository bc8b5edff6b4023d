// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Which files dropped into a watched folder are complete: a file is taken
// once it has not changed for the settling time and nobody here holds it
// open for writing. Pure: the clock, the files' states and the writers are
// the caller's, so every rule can be tried without a disk or a wait.

#include "platform/FileHandover.h"

#include <QHash>
#include <QStringList>

#include <functional>
#include <optional>

namespace deckrun {

class Settling {
public:
    explicit Settling(qint64 settleMilliseconds) : m_settle(settleMilliseconds) {}

    qint64 settleMilliseconds() const { return m_settle; }
    void setSettleMilliseconds(qint64 milliseconds) { m_settle = milliseconds; }

    /**
     * The files in the folder now, by name with their states: new ones begin
     * to settle at `now`, those no longer there are forgotten. Gives the names
     * that are new.
     */
    QStringList seen(const QHash<QString, FileState> &present, qint64 now);
    /** A change to `name` was told of at `now`: it settles from then. */
    void changed(const QString &name, qint64 now);
    /** `name` was taken, or is left alone: it is no longer watched. */
    void forget(const QString &name);
    bool contains(const QString &name) const { return m_candidates.contains(name); }
    bool isEmpty() const { return m_candidates.isEmpty(); }

    /** Milliseconds from `now` until the next file may have settled (0: now); none when none waits.
     */
    std::optional<qint64> due(qint64 now) const;

    /** How the caller reads a file's state now (none: it is gone). */
    using StateOf = std::function<std::optional<FileState>(const QString &name)>;
    /** Which of the names some process holds open for writing. */
    using Writers = std::function<QStringList(const QStringList &names)>;

    /**
     * The files that have settled at `now`, oldest change first (then by
     * name): each unchanged since its state was last seen for the settling
     * time, and written by nobody. A file found changed settles again from
     * `now`; one being written is looked at again after another settling
     * time; one gone is forgotten.
     */
    QStringList ready(qint64 now, const StateOf &stateOf, const Writers &writers);

private:
    struct Candidate {
        FileState state;
        qint64 changedAt = 0; // on the caller's clock
        bool looked = false;  // found settled and not being written
    };

    qint64 m_settle;
    QHash<QString, Candidate> m_candidates; // by name in the watched folder
};

} // namespace deckrun
