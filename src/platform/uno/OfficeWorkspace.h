// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one folder an office may write to, under the temporary folder and
// closed to everyone else: a copy of the deck it opens (so that nothing the
// deck names beside it can be read), its temporary files, and each print
// job's PDF. It goes with the office; one that a Deckrun killed outright left
// behind goes at the next start of an office, once nobody holds its lock.

#include <QString>

#include <sys/types.h>

#include <memory>
#include <optional>

class QTemporaryDir;

namespace deckrun::uno {

class OfficeWorkspace {
public:
    /**
     * Makes a workspace under `base` (by default the temporary folder),
     * removing first, once per process, what earlier Deckruns left there;
     * throws Failure when it cannot.
     */
    static std::unique_ptr<OfficeWorkspace> make(const QString &base = {});
    /**
     * Removes from `base` this user's workspaces that no live Deckrun holds,
     * and the print folders earlier versions left there (untouched for an
     * hour); how many went.
     */
    static int removeLeftovers(const QString &base);

    ~OfficeWorkspace();
    OfficeWorkspace(const OfficeWorkspace &) = delete;
    OfficeWorkspace &operator=(const OfficeWorkspace &) = delete;

    const QString &path() const { return m_path; }
    /** The office's own temporary folder (its TMPDIR). */
    QString temporaryFolder() const;
    /** Where an office started as another user keeps its profile (made fresh for it). */
    QString profileRoot() const;
    /**
     * A copy of `deck` for the office to open, under the deck's own name, in
     * place of the one before; throws Failure when it cannot be made.
     */
    QString copyIn(const QString &deck);
    /** A folder for one print job, the office's to write to; removed with the object. */
    std::unique_ptr<QTemporaryDir> jobFolder() const;
    /** From now on what is made here is the office's user's (Deckrun runs as root). */
    void handTo(uid_t uid, gid_t gid);

private:
    OfficeWorkspace(QString path, int lock);
    void handOver(const QString &path) const;

    QString m_path;
    int m_lock = -1; // held while the office runs: the sign it is in use
    int m_copies = 0;
    struct Owner {
        uid_t uid;
        gid_t gid;
    };
    std::optional<Owner> m_owner;
};

} // namespace deckrun::uno
