// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Deckrun's own office profiles under the user's cache, the settings Deckrun
// keeps in them, and the pipe an office started on one listens on.

#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <memory>

namespace deckrun::uno {

/**
 * One of Deckrun's own office profiles: a folder under the profile root,
 * held by a lock (flock) on a file beside it, so that two Deckruns never
 * share one. The lock is the kernel's: it goes with the process, however the
 * process ends, and no other user can take it first.
 */
class OfficeProfile {
public:
    /** Takes the first free profile slot under `root`; throws Failure when none is free. */
    static std::unique_ptr<OfficeProfile> acquire(const QString &root);
    /** The folder of slot `slot` under `root`. */
    static QString slotFolder(const QString &root, int slot);
    /** The socket files an office on the profile `folder` makes to hand a second start's work on.
     */
    static QStringList socketFilesFor(const QString &folder);
    /** The profile `folder` as the office's -env:UserInstallation takes it. */
    static QString urlOf(const QString &folder);

    ~OfficeProfile();
    const QString &folder() const { return m_folder; }
    /** The profile as the office's -env:UserInstallation takes it. */
    QString url() const;
    /**
     * Writes Deckrun's settings into the profile, keeping the office's own:
     * the installed version as its last one, so the office skips its
     * first-start work (about 0.7 s) at every later start, once; and at every
     * start, that linked content is never loaded: links from a document are
     * blocked and the content providers that reach other machines (`remote`,
     * the installation's own node names) are gone.
     */
    void seed(const QString &setupVersion, const QStringList &remote = {}) const;

    OfficeProfile(const OfficeProfile &) = delete;
    OfficeProfile &operator=(const OfficeProfile &) = delete;

private:
    OfficeProfile(QString folder, int lock);
    /** Removes the socket files a stopped office left for this profile. */
    void removeDeadSockets() const;
    QString m_folder;
    int m_lock = -1; // the locked descriptor of the profile's lock file
};

/** A pipe name nobody can know before the office that listens on it starts. */
QString newPipeName();

/**
 * The socket file the office makes for `pipeName` (the office names it by
 * the user it sees itself as, which is Deckrun's).
 */
QString pipeSocketFile(const QString &pipeName);

/** What Deckrun finds at a pipe's socket file before it connects. */
enum class PipeSocket { Absent, Office, Stranger };

/** Whether `path` is a socket of the office's user `officeUid` (and nothing else). */
PipeSocket pipeSocketAt(const QString &path, uid_t officeUid);

/** Removes `path` when it is a socket of this user that nobody listens on any more. */
void removeDeadSocket(const QString &path);

/** The office processes of this user that run on the profile `profileUrl`. */
QList<pid_t> officesOnProfile(const QString &profileUrl);

/**
 * Stops every office process of this user that runs on the profile
 * `profileUrl` (one left there by an earlier Deckrun), and waits up to
 * `seconds` for them to end. Only offices on that profile are touched, never
 * an office on another profile. Returns how many were found.
 */
int stopOfficesOnProfile(const QString &profileUrl, double seconds);

} // namespace deckrun::uno
