// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/OfficeProcess.h"

#include "platform/Failure.h"
#include "platform/OfficeDeadline.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
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

// --- profile -------------------------------------------------------------------

namespace {

constexpr int ProfileSlots = 8;

constexpr int NameTaken = -1;
constexpr int NoName = -2; // no socket to be had: the lock file alone decides

/**
 * Binds a name in the abstract socket namespace for `folder` and this user;
 * the descriptor, NameTaken when another process holds the name, or NoName.
 * No file stands for it, so nothing done to the file system frees it, and
 * the kernel frees it with the process, however the process ends.
 */
int holdProfileName(const QString &folder)
{
    const QByteArray name =
        "deckrun-profile-" + QByteArray::number(::getuid()) + '-' +
        QCryptographicHash::hash(QDir(folder).absolutePath().toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(40);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    static_assert(sizeof address.sun_path > 80);
    std::memcpy(address.sun_path + 1, name.constData(), static_cast<std::size_t>(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return NoName;
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EADDRINUSE ? NameTaken : NoName;
    }
    return fd;
}

/** Whether `path` is a socket nobody listens on any more. */
bool deadSocket(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    struct stat info {};
    sockaddr_un address{};
    if (::lstat(file.constData(), &info) != 0 || !S_ISSOCK(info.st_mode) ||
        info.st_uid != ::getuid() || static_cast<size_t>(file.size()) >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, file.constData(), static_cast<size_t>(file.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool refused =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 &&
        errno == ECONNREFUSED;
    ::close(fd);
    return refused;
}

} // namespace

QString OfficeProfile::slotFolder(const QString &root, int slot)
{
    const QString base = QDir(root).absolutePath() + QStringLiteral("/profile");
    return slot == 0 ? base : base + QLatin1Char('-') + QString::number(slot);
}

QString OfficeProfile::pipeNameFor(const QString &folder)
{
    const QByteArray digest =
        QCryptographicHash::hash(QDir(folder).absolutePath().toUtf8(), QCryptographicHash::Sha1);
    return QStringLiteral("deckrun-") + QString::fromLatin1(digest.toHex().left(16));
}

std::unique_ptr<OfficeProfile> OfficeProfile::acquire(const QString &root)
{
    if (!QDir().mkpath(root))
        throw Failure(
            QStringLiteral("The folder \"%1\" for LibreOffice's Deckrun profile could not be made.")
                .arg(QDir::toNativeSeparators(root)));
    for (int slot = 0; slot < ProfileSlots; ++slot) {
        const QString folder = slotFolder(root, slot);
        // The name first: a lock file may have been removed under a Deckrun
        // that still runs an office here. The file stays for Deckruns on
        // other machines sharing this home.
        const int held = holdProfileName(folder);
        if (held == NameTaken)
            continue;
        auto lock = std::make_unique<QLockFile>(folder + QStringLiteral(".lock"));
        lock->setStaleLockTime(0); // stale only when its process is gone
        if (lock->tryLock(0)) {
            std::unique_ptr<OfficeProfile> profile(
                new OfficeProfile(folder, std::move(lock), held));
            profile->removeDeadSockets(); // those of a Deckrun that was killed outright
            return profile;
        }
        if (held >= 0)
            ::close(held);
    }
    throw Failure(
        QStringLiteral("Every LibreOffice profile of Deckrun is in use by another Deckrun."));
}

OfficeProfile::OfficeProfile(QString folder, std::unique_ptr<QLockFile> lock, int held)
    : m_folder(std::move(folder)), m_lock(std::move(lock)), m_held(held)
{}

OfficeProfile::~OfficeProfile()
{
    // The office on this profile has ended (it is stopped before its profile
    // is let go): socket files it left go while the profile is still ours.
    removeDeadSockets();
    m_lock.reset();
    if (m_held >= 0)
        ::close(m_held);
}

void OfficeProfile::removeDeadSockets() const
{
    for (const QString &file : socketFilesFor(m_folder)) {
        if (deadSocket(file))
            QFile::remove(file);
    }
}

QString OfficeProfile::url() const
{
    return urlOf(m_folder);
}

QString OfficeProfile::urlOf(const QString &folder)
{
    return QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded);
}

/**
 * The socket files an office on the profile `folder` made for its pipes:
 * the one Deckrun reaches it by and the one another start of the same
 * profile would hand its arguments to. The office removes them only when it
 * ends by itself; one that was stopped leaves them behind, one pair per
 * profile. Named as the office names them: the user's number, then the pipe
 * name (the second carries a digest of the profile's URL, each byte in hex
 * without its leading zero).
 */
QStringList OfficeProfile::socketFilesFor(const QString &folder)
{
    const QString url = urlOf(folder);
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray(reinterpret_cast<const char *>(url.utf16()), url.size() * 2),
        QCryptographicHash::Md5);
    QString hex;
    for (const char byte : digest)
        hex += QString::number(static_cast<unsigned char>(byte), 16);
    const QString prefix = QStringLiteral("OSL_PIPE_%1_").arg(::getuid());
    QStringList files;
    // In the first of these folders the office may write to.
    for (const QString &temporary : {QStringLiteral("/tmp/"), QStringLiteral("/var/tmp/")})
        files << temporary + prefix + pipeNameFor(folder)
              << temporary + prefix + QStringLiteral("SingleOfficeIPC_") + hex;
    return files;
}

void OfficeProfile::seed(const QString &setupVersion) const
{
    const QString user = m_folder + QStringLiteral("/user");
    const QString file = user + QStringLiteral("/registrymodifications.xcu");
    if (setupVersion.isEmpty() || QFileInfo::exists(file) || !QDir().mkpath(user))
        return;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return; // only a slower start
    out.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
              "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
              "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
              "<item oor:path=\"/org.openoffice.Setup/Product\">"
              "<prop oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>");
    out.write(setupVersion.toHtmlEscaped().toUtf8());
    out.write("</value></prop></item>\n</oor:items>\n");
    out.commit();
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

/**
 * In the child, between fork and exec: only async-signal-safe calls. The
 * office dies with the thread that starts it (the window's thread), even
 * when Deckrun is killed outright, and lives in a process group of its own;
 * a failed exec is reported through `report`.
 */
[[noreturn]] void execOffice(pid_t parent, char *const argv[], char *const envp[], int report)
{
    ::setpgid(0, 0);
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
    const int error = errno;
    [[maybe_unused]] const auto written = ::write(report, &error, sizeof error);
    ::_exit(127);
}

/** The error a child reported through `report` before its exec; 0 once it closed unread. */
int execError(int report)
{
    int error = 0;
    ssize_t got;
    do
        got = ::read(report, &error, sizeof error);
    while (got < 0 && errno == EINTR);
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

} // namespace

OfficeChild::OfficeChild(const QString &program, const QStringList &arguments,
                         const QStringList &environment)
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

    // The child reports a failed exec through this pipe; it closes unread when exec succeeds.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        throw notStarted(program, errno);
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0)
        execOffice(parent, argv.data(), envp.data(), report[1]);
    const int forkError = errno;
    ::close(report[1]);
    if (m_pid < 0) {
        ::close(report[0]);
        m_pid = -1;
        m_ended = true;
        throw notStarted(program, forkError);
    }
    ::setpgid(m_pid, m_pid); // also here, so the group exists before anyone signals it
    const int error = execError(report[0]);
    ::close(report[0]);
    if (error != 0) {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        m_ended = true;
        throw notStarted(program, error);
    }
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

// --- offices left on a profile ---------------------------------------------------------

namespace {

QList<QByteArray> commandLine(const QByteArray &procDir)
{
    QFile f(QString::fromLatin1(procDir + "/cmdline"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().split('\0');
}

int pidfdOpen(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

bool pidfdSignal(int fd, int signal)
{
#ifdef SYS_pidfd_send_signal
    return ::syscall(SYS_pidfd_send_signal, fd, signal, nullptr, 0) == 0;
#else
    (void)fd;
    (void)signal;
    return false;
#endif
}

} // namespace

int stopOfficesOnProfile(const QString &profileUrl, double seconds)
{
    const QByteArray wanted = "-env:UserInstallation=" + profileUrl.toUtf8();
    const auto onProfile = [&](const QByteArray &procDir) {
        struct stat st {};
        if (::stat(procDir.constData(), &st) != 0 || st.st_uid != ::getuid())
            return false;
        return commandLine(procDir).contains(wanted);
    };
    std::vector<int> handles;
    int found = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        if (!isPid || pid == ::getpid())
            continue;
        const QByteArray procDir = "/proc/" + entry.toLatin1();
        if (!onProfile(procDir))
            continue;
        // Through a handle on the process itself, looked at again once the
        // handle is held, so a process id taken over meanwhile is never signalled.
        const int fd = pidfdOpen(pid);
        if (fd >= 0) {
            if (onProfile(procDir) && pidfdSignal(fd, SIGKILL)) {
                ++found;
                handles.push_back(fd);
            } else {
                ::close(fd);
            }
        } else if (errno == ENOSYS && ::kill(pid, SIGKILL) == 0) {
            ++found;
        }
    }
    const auto deadline = deadlineAfter(seconds);
    for (const int fd : handles) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() > 0)
            ::poll(&p, 1, static_cast<int>(left.count()));
        ::close(fd);
    }
    return found;
}

} // namespace deckrun::uno
