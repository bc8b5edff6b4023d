// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the office is kept from while it prints a deck someone else made: the
// network (a network namespace of its own, no interface up in it), the files
// printing does not need (a Landlock ruleset, which also refuses every TCP
// connection), memory beyond a bound (a limit on its data), and, for
// a Deckrun run as root, root's rights (it runs as another user). Decided
// before the office starts, applied in its process between fork and exec;
// what the system refuses is left out, and the office starts all the same.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <optional>
#include <vector>

namespace deckrun::uno {

struct OfficeConfinement {
    /** A network namespace of its own (a user namespace with it, where Deckrun is no root). */
    bool network = false;
    /** Only these files (Landlock): below `readable` to read and run, below `writable` all. */
    bool files = false;
    QStringList readable;
    QStringList writable;
    /** Folders the office makes its pipes in: sockets may be made and removed there, no more. */
    QStringList socketFolders;
    /** Bytes of data (heap and other private memory) the office may have; 0: no bound. */
    quint64 memoryBytes = 0;
    /** The user and group the office runs as when Deckrun runs as root. */
    struct User {
        uid_t uid;
        gid_t gid;
    };
    std::optional<User> runAs;
};

/** What the office got of its confinement, a bit each. */
enum Confined : int {
    NetworkConfined = 1,
    FilesConfined = 2,
    UserChanged = 4,
    // The system refused what the office's pipe depends on (another user, the
    // namespace's maps): it ended without starting, to be started without them.
    StartAgain = 8,
};

/**
 * The office's confinement for a start: the system's folders to read, the
 * user's own fonts, its `profile` and `workspace`, the folders its pipes go
 * in; the memory bound of officeMemoryBound().
 */
OfficeConfinement officeConfinement(const QString &programDir, const QString &profile,
                                    const QString &workspace, bool headless);

/**
 * Megabytes of data an office may have: 1024 (ten times what printing an
 * ordinary deck takes), or the environment variable DECKRUN_OFFICE_MEMORY
 * when it is set to a number.
 */
quint64 officeMemoryBound();

/**
 * The confinement as the office's process applies it between fork and exec:
 * everything it needs is made beforehand, so nothing there allocates.
 */
class ChildConfinement {
public:
    /** `deckrunUid`/`deckrunGid`: who the office must see itself as (its pipe is named by it). */
    ChildConfinement(const OfficeConfinement &confinement, uid_t deckrunUid, gid_t deckrunGid);
    /** In the child, async-signal-safe: applies what the system allows; what it got. */
    int apply() const noexcept;
    /** What is left to try after StartAgain: the same without another user, else without the
     * namespace. */
    void fallBack();

private:
    enum class Access { Read, Write, Device, Sockets };
    struct Rule {
        QByteArray path;
        Access access;
    };
    enum class Entered { Yes, No, Unmapped };
    bool changeUser() const noexcept;
    Entered enterNamespaces() const noexcept;
    bool restrictFiles() const noexcept;

    bool m_network;
    bool m_files;
    quint64 m_memory;
    std::optional<OfficeConfinement::User> m_runAs;
    std::vector<Rule> m_rules;
    QByteArray m_uidMap, m_gidMap; // "inside outside 1": the office sees itself as Deckrun's user
};

} // namespace deckrun::uno
