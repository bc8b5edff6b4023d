// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The LibreOffice installation and the office process Deckrun starts as its
// own child. Nothing here speaks UNO: this is the part that finds the files,
// prepares Deckrun's own profile and makes sure every process it started ends.

#include "platform/uno/OfficeConfinement.h"
#include "platform/uno/OfficeProfile.h"

#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <atomic>
#include <mutex>
#include <vector>

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
    /**
     * The installation's content providers that reach beyond this machine's
     * files (http, WebDAV, FTP, CMIS, and any other it has), by their node names.
     */
    QStringList remoteContentProviders() const;

private:
    QString productValue(const QString &property) const;
    QString m_programDir;
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
     * ("NAME=value"), output to /dev/null, kept from what `confinement` names
     * as far as the system allows; throws Failure when it cannot start.
     */
    OfficeChild(const QString &program, const QStringList &arguments,
                const QStringList &environment = {}, const OfficeConfinement &confinement = {});
    /** Stops the process when it still runs. */
    ~OfficeChild();
    OfficeChild(const OfficeChild &) = delete;
    OfficeChild &operator=(const OfficeChild &) = delete;

    pid_t pid() const { return m_pid; }
    /** What it got of its confinement (the Confined bits). */
    int confined() const { return m_confined; }
    /** The user it runs as, as the files it makes show. */
    uid_t user() const { return m_user; }
    /**
     * The most data memory (bytes) it was seen with: looked at again while
     * it runs; once it has ended, as it was last seen.
     */
    quint64 peakMemory();
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
    /** Forks and execs; the confinement it got, or StartAgain. */
    int start(const std::vector<char *> &argv, const std::vector<char *> &envp,
              const ChildConfinement &confinement, const QString &program);
    void signalGroup(int signal);
    pid_t m_pid = -1;
    int m_confined = 0;
    uid_t m_user = 0;
    std::atomic<quint64> m_peak{0};
    std::mutex m_reaping; // the reap, and every signal to the group, one at a time
    bool m_ended = false;
    int m_status = 0;
};

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
