// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The LibreOffice installation and the office process Deckrun starts as its
// own child. Nothing here speaks UNO: this is the part that finds the files,
// prepares Deckrun's own profile and makes sure every process it started ends.

#include <QString>
#include <QStringList>

#include <mutex>

#include <sys/types.h>

#include <memory>

class QLockFile;

namespace deckrun::uno {

/** What is installed under LibreOffice's program folder. */
class OfficeInstallation {
public:
    explicit OfficeInstallation(QString programDir);

    const QString &programDir() const { return m_programDir; }
    QString soffice() const;
    /** The office process itself, started without the launcher script and splash helper. */
    QString officeBinary() const;
    QString fundamentalrc() const;
    /** The soffice launcher, the UNO bootstrap file and the type library are present. */
    bool usable() const;
    /** The product name the office reports ("LibreOffice"), read from its configuration files. */
    QString productName() const;
    /** The configuration version ("7.4") that a profile must carry as its last version. */
    QString setupVersion() const;

private:
    QString productValue(const QString &property) const;
    QString m_programDir;
};

/**
 * One of Deckrun's own office profiles: a folder under the profile root, with
 * a lock that keeps two Deckrun processes from sharing it, and the pipe name
 * the office listens on while it runs there. The lock is held by open
 * descriptors, one of them on a name outside the file system, so removing
 * the profile root (clearing the cache) never frees a profile in use.
 */
class OfficeProfile {
public:
    /** Takes the first free profile slot under `root`; throws Failure when none is free. */
    static std::unique_ptr<OfficeProfile> acquire(const QString &root);
    /** The folder of slot 0 under `root` (where another instance would be found). */
    static QString slotFolder(const QString &root, int slot);
    /** The pipe name of the office running on the profile `folder`. */
    static QString pipeNameFor(const QString &folder);
    /** The socket files an office on the profile `folder` makes for its pipes. */
    static QStringList socketFilesFor(const QString &folder);
    /** The profile `folder` as the office's -env:UserInstallation takes it. */
    static QString urlOf(const QString &folder);

    ~OfficeProfile();
    const QString &folder() const { return m_folder; }
    QString pipeName() const { return pipeNameFor(m_folder); }
    /** The profile as the office's -env:UserInstallation takes it. */
    QString url() const;
    /**
     * Writes the installed version as the profile's last version once, so the
     * office skips its first-start work (about 0.7 s) at every later start.
     */
    void seed(const QString &setupVersion) const;

    OfficeProfile(const OfficeProfile &) = delete;
    OfficeProfile &operator=(const OfficeProfile &) = delete;

private:
    OfficeProfile(QString folder, std::unique_ptr<QLockFile> lock, int held);
    /** Removes the socket files a stopped office left for this profile. */
    void removeDeadSockets() const;
    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    int m_held = -1; // the descriptor bound to the profile's name while it is ours
};

/**
 * The office started as Deckrun's child, in a process group of its own so
 * that the launcher and the office process behind it end together. The child
 * dies with the thread that starts it (PR_SET_PDEATHSIG), so it is started
 * from the window's thread, which lives as long as Deckrun; its group is
 * signalled only while its leader is ours and not yet reaped.
 */
class OfficeChild {
public:
    /**
     * Starts `program` with `arguments` and the extra `environment` entries
     * ("NAME=value"), output to /dev/null; throws Failure when it cannot.
     */
    OfficeChild(const QString &program, const QStringList &arguments,
                const QStringList &environment = {});
    /** Stops the process when it still runs. */
    ~OfficeChild();
    OfficeChild(const OfficeChild &) = delete;
    OfficeChild &operator=(const OfficeChild &) = delete;

    pid_t pid() const { return m_pid; }
    /** False once the process has ended (it is then reaped). */
    bool running();
    int exitStatus() const { return m_status; }
    /** Waits up to `seconds` for the process to end by itself; true when it ended. */
    bool waitForExit(double seconds);
    /**
     * Asks the group to end, waits up to `grace` seconds, then kills it; with no
     * grace it is killed at once. Returns at once when ended.
     */
    void stop(double grace);
    /**
     * Kills the group at once, from any thread: the thread that owns the
     * child may be waiting on it meanwhile, and reaps it as usual.
     */
    void kill();

private:
    void signalGroup(int signal);
    pid_t m_pid = -1;
    std::mutex m_reaping; // the reap, and every signal to the group, one at a time
    bool m_ended = false;
    int m_status = 0;
};

/**
 * Stops every office process of this user that runs on the profile
 * `profileUrl` (one left there by an earlier Deckrun), and waits up to
 * `seconds` for them to end. Only offices on that profile are touched, never
 * an office on another profile. Returns how many were found.
 */
int stopOfficesOnProfile(const QString &profileUrl, double seconds);

/** Exit statuses with which the office asks to be started again (after setting up a new profile).
 */
bool asksForRestart(int exitStatus);

/**
 * Makes Deckrun's children its own to reap: SIGCHLD back to its default when
 * the parent left it ignored (the kernel would reap them, and the exit status
 * with which the office asks for a restart would be lost).
 */
void reapOwnChildren();

/**
 * The locale the office must run in, as LC_ALL: "C.UTF-8" when the inherited
 * one (LC_ALL, else LC_CTYPE, else LANG) is not UTF-8 or not installed, empty
 * when it will do. The office decodes the file URLs it is handed in its
 * locale's encoding.
 */
QString officeLocale();

} // namespace deckrun::uno
