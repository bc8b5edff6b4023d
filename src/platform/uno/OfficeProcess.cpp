// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/OfficeProcess.h"

#include "platform/Failure.h"
#include "platform/Logging.h"
#include "platform/OfficeDeadline.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <optional>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace deckrun::uno {

// --- installation --------------------------------------------------------------

OfficeInstallation::OfficeInstallation(QString programDir) : m_programDir(std::move(programDir)) {}

QString OfficeInstallation::soffice() const
{
    return m_programDir + QStringLiteral("/soffice");
}

QString OfficeInstallation::officeBinary() const
{
    return m_programDir + QStringLiteral("/soffice.bin");
}

QString OfficeInstallation::fundamentalrc() const
{
    return m_programDir + QStringLiteral("/fundamentalrc");
}

bool OfficeInstallation::usable() const
{
    const QFileInfo office(officeBinary());
    return office.isFile() && office.isExecutable() && QFileInfo(fundamentalrc()).isFile() &&
           QFileInfo(m_programDir + QStringLiteral("/types.rdb")).isFile();
}

QString OfficeInstallation::productValue(const QString &property) const
{
    // The product node of the installed configuration; the value that the
    // branding sets is the last one given.
    QFile main(m_programDir + QStringLiteral("/../share/registry/main.xcd"));
    if (!main.open(QIODevice::ReadOnly))
        return QString();
    const QString text = QString::fromUtf8(main.readAll());
    const QRegularExpression value(
        QStringLiteral("<prop oor:name=\"%1\"[^>]*>\\s*<value>([^<]+)</value>")
            .arg(QRegularExpression::escape(property)));
    QString found;
    for (auto it = value.globalMatch(text); it.hasNext();)
        found = it.next().captured(1);
    return found;
}

QString OfficeInstallation::productName() const
{
    const QString name = productValue(QStringLiteral("ooName"));
    return name.isEmpty() ? QStringLiteral("LibreOffice") : name;
}

QString OfficeInstallation::setupVersion() const
{
    return productValue(QStringLiteral("ooSetupVersion"));
}

QStringList OfficeInstallation::remoteContentProviders() const
{
    // What printing a deck needs: its file, the package inside it, the
    // office's own files and resources. Everything else reaches out.
    static const QStringList local{QStringLiteral("file"),
                                   QStringLiteral("vnd.sun.star.pkg"),
                                   QStringLiteral("vnd.sun.star.zip"),
                                   QStringLiteral("vnd.sun.star.expand"),
                                   QStringLiteral("vnd.sun.star.tdoc"),
                                   QStringLiteral("vnd.sun.star.hier"),
                                   QStringLiteral("vnd.sun.star.help"),
                                   QStringLiteral("vnd.sun.star.extension"),
                                   QStringLiteral("vnd.libreoffice.image"),
                                   QStringLiteral("private")};
    // Each provider is a node of its own holding only properties.
    static const QRegularExpression provider(
        QStringLiteral("<node oor:name=\"([^\"]+)\"[^>]*>((?:(?!<node|</node>).)*)</node>"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression scheme(
        QStringLiteral("<prop oor:name=\"URLTemplate\"[^>]*>\\s*<value>([^<]*)</value>"));
    QStringList remote;
    QDirIterator files(m_programDir + QStringLiteral("/../share/registry"),
                       {QStringLiteral("*.xcd")}, QDir::Files);
    while (files.hasNext()) {
        QFile xcd(files.next());
        if (!xcd.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(xcd.readAll());
        for (auto it = provider.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch node = it.next();
            const QRegularExpressionMatch url = scheme.match(node.captured(2));
            if (url.hasMatch() && !local.contains(url.captured(1).trimmed()) &&
                !remote.contains(node.captured(1)))
                remote << node.captured(1);
        }
    }
    return remote;
}

// --- child process -----------------------------------------------------------------

namespace {

/** The text of a start that failed with `error`. */
Failure notStarted(const QString &program, int error)
{
    return Failure(QStringLiteral("LibreOffice could not be started (%1): %2")
                       .arg(program, QString::fromLocal8Bit(std::strerror(error))));
}

/** Null-terminated pointers into `strings`, as exec takes them. */
std::vector<char *> pointersTo(std::vector<QByteArray> &strings)
{
    std::vector<char *> pointers;
    pointers.reserve(strings.size() + 1);
    for (QByteArray &s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

/**
 * The office's environment: this process's, with the `extra` entries in
 * place of those of the same name, and without our own UNO bootstrap
 * setting, which is not the office's business. The pointers point into
 * `extra` and the environment.
 */
std::vector<char *> officeEnvironment(std::vector<QByteArray> &extra)
{
    std::vector<char *> envp;
    for (char **e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "URE_BOOTSTRAP=", 14) == 0)
            continue;
        const char *eq = std::strchr(*e, '=');
        const auto length = eq ? static_cast<std::size_t>(eq - *e + 1) : std::strlen(*e);
        const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const QByteArray &x) {
            return x.startsWith(QByteArrayView(*e, static_cast<qsizetype>(length)));
        });
        if (!replaced)
            envp.push_back(*e);
    }
    for (QByteArray &x : extra)
        envp.push_back(x.data());
    envp.push_back(nullptr);
    return envp;
}

/** Writes one word to the pipe `report`, from the child. */
void tell(int report, int word)
{
    [[maybe_unused]] const auto written = ::write(report, &word, sizeof word);
}

/**
 * In the child, between fork and exec: only async-signal-safe calls. The
 * office dies with the thread that starts it (the window's thread), even
 * when Deckrun is killed outright, and lives in a process group of its own.
 * It tells through `report` what it got of its confinement, then an exec
 * that failed.
 */
[[noreturn]] void execOffice(pid_t parent, char *const argv[], char *const envp[],
                             const ChildConfinement &confinement, int report)
{
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);
    const int confined = confinement.apply();
    tell(report, confined);
    if ((confined & StartAgain) != 0)
        ::_exit(127);
    // Again: a change of user clears it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; ++s)
        if (s != SIGKILL && s != SIGSTOP)
            ::sigaction(s, &byDefault, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (null > 2)
            ::close(null);
    }
    ::execve(argv[0], argv, envp);
    tell(report, errno);
    ::_exit(127);
}

/** The next word the child told through `report`; none once it closed (exec succeeded). */
std::optional<int> heard(int report)
{
    int word = 0;
    ssize_t got;
    do
        got = ::read(report, &word, sizeof word);
    while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof word))
        return word;
    return std::nullopt;
}

/** The data memory process `pid` has now, in bytes; 0 when it cannot be read. */
quint64 dataOf(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmData:"))
            return line.mid(7).trimmed().split(' ').value(0).toULongLong() * 1024;
    return 0;
}

/** Says once what of its confinement the system refused the office, when anything. */
void tellWhatWasRefused(const OfficeConfinement &asked, int got)
{
    static std::once_flag userTold, restTold;
    if (asked.runAs && (got & UserChanged) == 0)
        std::call_once(userTold, [] {
            qCWarning(lcOffice) << "LibreOffice runs as root after all: this system lets it run "
                                   "as another user only in a user namespace, and refused one.";
        });
    QStringList refused;
    if (asked.network && (got & NetworkConfined) == 0)
        refused << QStringLiteral("a network namespace of its own");
    if (asked.files && (got & FilesConfined) == 0)
        refused << QStringLiteral("a Landlock ruleset");
    if (!refused.isEmpty())
        std::call_once(restTold, [&refused] {
            qCWarning(lcOffice).noquote()
                << QStringLiteral("this system refuses LibreOffice %1; its own settings still "
                                  "keep it from linked content.")
                       .arg(refused.join(QStringLiteral(" and ")));
        });
}

} // namespace

OfficeChild::OfficeChild(const QString &program, const QStringList &arguments,
                         const QStringList &environment, const OfficeConfinement &confinement)
{
    reapOwnChildren();
    std::vector<QByteArray> args{QFile::encodeName(program)};
    for (const QString &a : arguments)
        args.push_back(a.toUtf8());
    const std::vector<char *> argv = pointersTo(args);
    std::vector<QByteArray> extra;
    for (const QString &e : environment)
        extra.push_back(e.toUtf8());
    const std::vector<char *> envp = officeEnvironment(extra);
    ChildConfinement child(confinement, ::getuid(), ::getgid());
    m_confined = start(argv, envp, child, program);
    if ((m_confined & StartAgain) != 0) {
        child.fallBack();
        m_confined = start(argv, envp, child, program);
    }
    if ((m_confined & StartAgain) != 0) {
        child.fallBack();
        m_confined = start(argv, envp, child, program);
    }
    m_user = (m_confined & UserChanged) != 0 ? confinement.runAs->uid : ::geteuid();
    tellWhatWasRefused(confinement, m_confined);
    qCDebug(lcOffice) << "the office runs" << ((m_confined & NetworkConfined) ? "without" : "with")
                      << "the network," << ((m_confined & FilesConfined) ? "held" : "not held")
                      << "to its files, as user" << m_user;
}

int OfficeChild::start(const std::vector<char *> &argv, const std::vector<char *> &envp,
                       const ChildConfinement &confinement, const QString &program)
{
    // The child tells its confinement and a failed exec through this pipe; it
    // closes once exec succeeds.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        throw notStarted(program, errno);
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0)
        execOffice(parent, argv.data(), envp.data(), confinement, report[1]);
    const int forkError = errno;
    ::close(report[1]);
    if (m_pid < 0) {
        ::close(report[0]);
        m_pid = -1;
        m_ended = true;
        throw notStarted(program, forkError);
    }
    ::setpgid(m_pid, m_pid); // also here, so the group exists before anyone signals it
    const std::optional<int> confined = heard(report[0]);
    const std::optional<int> error = confined ? heard(report[0]) : std::nullopt;
    ::close(report[0]);
    if (!confined || error || (*confined & StartAgain) != 0) {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        m_ended = true;
        if (confined && (*confined & StartAgain) != 0)
            return *confined;
        throw notStarted(program, error.value_or(ECHILD));
    }
    m_ended = false;
    return *confined;
}

quint64 OfficeChild::peakMemory()
{
    const std::lock_guard lock(m_reaping);
    if (!m_ended) {
        const quint64 now = dataOf(m_pid);
        if (now > m_peak)
            m_peak = now;
    }
    return m_peak;
}

OfficeChild::~OfficeChild()
{
    stop(2.0);
}

bool OfficeChild::running()
{
    const std::lock_guard lock(m_reaping);
    if (m_ended)
        return false;
    // Looks without reaping: while the ended leader is not reaped its process
    // group id cannot be taken by anyone else, so stragglers of the group can
    // still be signalled safely. After the reap the group is never signalled.
    siginfo_t info{};
    const int r = ::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (r == 0 && info.si_pid == 0)
        return true;
    if (r == 0) {
        ::kill(-m_pid, SIGKILL);
        m_status = info.si_code == CLD_EXITED ? info.si_status : -1;
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    } else {
        m_status = -1; // reaped elsewhere: the group is no longer known to be ours
    }
    m_ended = true;
    return false;
}

bool OfficeChild::waitForExit(double seconds)
{
    const auto deadline = deadlineAfter(seconds);
    auto pause = std::chrono::milliseconds(1);
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(8));
    }
    return true;
}

void OfficeChild::signalGroup(int signal)
{
    // Only while the leader is ours and not reaped (running() reaps it).
    const std::lock_guard lock(m_reaping);
    if (m_pid > 0 && !m_ended)
        ::kill(-m_pid, signal);
}

void OfficeChild::kill()
{
    signalGroup(SIGKILL);
}

void OfficeChild::stop(double grace)
{
    if (m_pid <= 0 || !running())
        return;
    if (grace > 0) {
        signalGroup(SIGTERM);
        signalGroup(SIGCONT); // a stopped office can only end once it runs again
        if (waitForExit(grace))
            return;
    }
    signalGroup(SIGKILL);
    waitForExit(5.0);
}

bool asksForRestart(int exitStatus)
{
    return exitStatus == 79 || exitStatus == 81;
}

void reapOwnChildren()
{
    struct sigaction current {};
    if (::sigaction(SIGCHLD, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0)
        return; // a handler of someone's own is theirs to keep
    const bool ignored = current.sa_handler == SIG_IGN;
    const bool notWaitedFor =
        current.sa_handler == SIG_DFL && (current.sa_flags & SA_NOCLDWAIT) != 0;
    if (!ignored && !notWaitedFor)
        return;
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ::sigaction(SIGCHLD, &byDefault, nullptr);
}

QString officeLocale()
{
    // The character type the office would get from this environment, read as
    // its C library reads it (LC_ALL, LC_CTYPE, LANG); a locale that is not
    // installed gives none, and the office would run in the C locale.
    bool utf8 = false;
    if (const locale_t inherited = ::newlocale(LC_CTYPE_MASK, "", nullptr)) {
        utf8 = std::strcmp(::nl_langinfo_l(CODESET, inherited), "UTF-8") == 0;
        ::freelocale(inherited);
    }
    return utf8 ? QString() : QStringLiteral("C.UTF-8");
}

} // namespace deckrun::uno
