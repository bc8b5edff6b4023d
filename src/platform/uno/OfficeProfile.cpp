// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/OfficeProfile.h"

#include "platform/Failure.h"
#include "platform/OfficeDeadline.h"
#include "platform/OfficeUser.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QUrl>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace deckrun::uno {

namespace {

constexpr int ProfileSlots = 8;

/** `folder`, made when missing, closed to other users when it is ours; false when it cannot be. */
bool privateFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    if (!QDir().mkpath(folder))
        return false;
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid())
        return false;
    return (info.st_mode & 077) == 0 || ::chmod(path.constData(), info.st_mode & 0700) == 0;
}

/**
 * The profile `folder`'s lock file, opened without following a link and
 * locked; -1 when another process holds it, or it is no file of this user's.
 * `made` says whether it was made just now.
 */
int lockProfile(const QString &folder, bool &made)
{
    const QByteArray path = QFile::encodeName(folder + QStringLiteral(".lock"));
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        made = fd >= 0;
        if (fd < 0 && errno == EEXIST)
            fd = ::open(path.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return -1;
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode) || held.st_uid != ::geteuid() ||
            ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return -1;
        }
        // Still the file of that name: one removed meanwhile (the cache
        // cleared) would hold nothing for the next Deckrun.
        if (::lstat(path.constData(), &named) == 0 && named.st_ino == held.st_ino &&
            named.st_dev == held.st_dev)
            return fd;
        ::close(fd);
    }
    return -1;
}

QByteArray itemLine(const QByteArray &path, const QByteArray &body)
{
    return "<item oor:path=\"" + path + "\">" + body + "</item>";
}

/** A line of the profile's settings, and what it sets (a line of the same two is replaced). */
struct Setting {
    QByteArray path;
    QByteArray name;
    QByteArray line;
};

const QByteArray ProviderData =
    "/org.openoffice.ucb.Configuration/ContentProviders/"
    "org.openoffice.ucb.Configuration:ContentProvidersDataPrimaryKeys['Local']/SecondaryKeys/"
    "org.openoffice.ucb.Configuration:ContentProvidersDataSecondaryKeys['Office']/ProviderData";

QList<Setting> deckrunSettings(const QStringList &remote)
{
    const QByteArray scripting = "/org.openoffice.Office.Common/Security/Scripting";
    QList<Setting> settings{
        {scripting, "BlockUntrustedRefererLinks",
         itemLine(scripting, "<prop oor:name=\"BlockUntrustedRefererLinks\" oor:op=\"fuse\">"
                             "<value>true</value></prop>")}};
    for (const QString &node : remote) {
        const QByteArray name = node.toHtmlEscaped().toUtf8();
        settings.append(
            {ProviderData, name,
             itemLine(ProviderData, "<node oor:name=\"" + name + "\" oor:op=\"remove\"/>")});
    }
    return settings;
}

bool sets(const QByteArray &line, const QByteArray &path, const QByteArray &name)
{
    return line.contains("oor:path=\"" + path + "\"") && line.contains("oor:name=\"" + name + '"');
}

/**
 * Whether `path` is a socket that refuses every connection, of this user's
 * or of the user its office runs as.
 */
bool deadSocket(const QByteArray &path)
{
    struct stat info {};
    sockaddr_un address{};
    if (::lstat(path.constData(), &info) != 0 || !S_ISSOCK(info.st_mode) ||
        static_cast<size_t>(path.size()) >= sizeof address.sun_path)
        return false;
    const std::optional<OfficeUser> office = officeUser();
    if (info.st_uid != ::getuid() && !(office && info.st_uid == office->uid))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool refused =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 &&
        errno == ECONNREFUSED;
    ::close(fd);
    return refused;
}

/** Whether process `pid` is this user's and names `wanted` (its profile) among its arguments. */
bool runsOnProfile(pid_t pid, const QByteArray &wanted)
{
    const QString procDir = QStringLiteral("/proc/%1").arg(pid);
    struct stat st {};
    if (::stat(QFile::encodeName(procDir).constData(), &st) != 0 || st.st_uid != ::getuid())
        return false;
    QFile f(procDir + QStringLiteral("/cmdline"));
    return f.open(QIODevice::ReadOnly) && f.readAll().split('\0').contains(wanted);
}

/** The folder the office makes its pipes in: the first of these it may write to. */
QString pipeFolder()
{
    return ::access("/tmp", W_OK) == 0 ? QStringLiteral("/tmp") : QStringLiteral("/var/tmp");
}

} // namespace

QString OfficeProfile::slotFolder(const QString &root, int slot)
{
    const QString base = QDir(root).absolutePath() + QStringLiteral("/profile");
    return slot == 0 ? base : base + QLatin1Char('-') + QString::number(slot);
}

std::unique_ptr<OfficeProfile> OfficeProfile::acquire(const QString &root)
{
    if (!privateFolder(root))
        throw Failure(
            QStringLiteral("The folder \"%1\" for LibreOffice's Deckrun profile could not be made.")
                .arg(QDir::toNativeSeparators(root)));
    for (int slot = 0; slot < ProfileSlots; ++slot) {
        const QString folder = slotFolder(root, slot);
        bool made = false;
        const int lock = lockProfile(folder, made);
        if (lock < 0)
            continue;
        // A lock file made afresh while an office runs there: the cache was
        // cleared under a Deckrun that still prints on this profile.
        if (made && !officesOnProfile(urlOf(folder)).isEmpty()) {
            ::close(lock);
            continue;
        }
        std::unique_ptr<OfficeProfile> profile(new OfficeProfile(folder, lock));
        profile->removeDeadSockets(); // those of a Deckrun that was killed outright
        return profile;
    }
    throw Failure(
        QStringLiteral("Every LibreOffice profile of Deckrun is in use by another Deckrun."));
}

OfficeProfile::OfficeProfile(QString folder, int lock) : m_folder(std::move(folder)), m_lock(lock)
{}

OfficeProfile::~OfficeProfile()
{
    // The office on this profile has ended (it is stopped before its profile
    // is let go): socket files it left go while the profile is still ours.
    removeDeadSockets();
    ::close(m_lock);
}

void OfficeProfile::removeDeadSockets() const
{
    for (const QString &file : socketFilesFor(m_folder))
        removeDeadSocket(file);
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
 * The socket files an office on the profile `folder` makes for another start
 * of the same profile to hand its arguments to. The office removes it only
 * when it ends by itself; one that was stopped leaves it behind, one per
 * profile. Named as the office names it: the user's number, then a digest of
 * the profile's URL, each byte in hex without its leading zero.
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
    QStringList files;
    for (const QString &temporary : {QStringLiteral("/tmp/"), QStringLiteral("/var/tmp/")})
        files << temporary + QStringLiteral("OSL_PIPE_%1_SingleOfficeIPC_").arg(::getuid()) + hex;
    return files;
}

void OfficeProfile::seed(const QString &setupVersion, const QStringList &remote) const
{
    const QString user = m_folder + QStringLiteral("/user");
    const QString file = user + QStringLiteral("/registrymodifications.xcu");
    const auto unwritten = [&file] {
        return Failure(QStringLiteral("LibreOffice's Deckrun profile \"%1\" could not be written.")
                           .arg(QDir::toNativeSeparators(file)));
    };
    if (!QDir().mkpath(user))
        throw unwritten();
    QList<Setting> settings = deckrunSettings(remote);
    QList<QByteArray> kept;
    bool versioned = setupVersion.isEmpty();
    QFile current(file);
    if (current.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = current.readAll().split('\n');
        for (const QByteArray &line : lines) {
            const QByteArray item = line.trimmed();
            if (!item.startsWith("<item "))
                continue;
            versioned =
                versioned || sets(item, "/org.openoffice.Setup/Product", "ooSetupLastVersion");
            if (std::none_of(settings.begin(), settings.end(),
                             [&](const Setting &s) { return sets(item, s.path, s.name); }))
                kept << item;
        }
    }
    QList<QByteArray> items = kept;
    if (!versioned)
        items << itemLine("/org.openoffice.Setup/Product",
                          "<prop oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>" +
                              setupVersion.toHtmlEscaped().toUtf8() + "</value></prop>");
    for (const Setting &s : settings)
        items << s.line;
    const QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
                            "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
                            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n" +
                            items.join('\n') + "\n</oor:items>\n";
    current.close();
    if (current.open(QIODevice::ReadOnly) && current.readAll() == text)
        return;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit())
        throw unwritten();
}

QString newPipeName()
{
    quint64 random[2];
    QRandomGenerator::system()->fillRange(random);
    return QStringLiteral("deckrun-") +
           QString::fromLatin1(
               QByteArray(reinterpret_cast<const char *>(random), sizeof random).toHex());
}

QString pipeSocketFile(const QString &pipeName)
{
    return pipeFolder() + QStringLiteral("/OSL_PIPE_%1_").arg(::getuid()) + pipeName;
}

PipeSocket pipeSocketAt(const QString &path, uid_t officeUid)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return PipeSocket::Absent;
    return S_ISSOCK(info.st_mode) && info.st_uid == officeUid ? PipeSocket::Office
                                                              : PipeSocket::Stranger;
}

void removeDeadSocket(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    if (deadSocket(file))
        ::unlink(file.constData());
}

QList<pid_t> officesOnProfile(const QString &profileUrl)
{
    const QByteArray wanted = "-env:UserInstallation=" + profileUrl.toUtf8();
    QList<pid_t> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const auto pid = static_cast<pid_t>(entry.toInt(&isPid));
        if (isPid && pid != ::getpid() && runsOnProfile(pid, wanted))
            found << pid;
    }
    return found;
}

// --- offices left on a profile ---------------------------------------------------------

namespace {

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
    std::vector<int> handles;
    int found = 0;
    for (const pid_t pid : officesOnProfile(profileUrl)) {
        // Through a handle on the process itself, looked at again once the
        // handle is held, so a process id taken over meanwhile is never signalled.
        const int fd = pidfdOpen(pid);
        if (fd >= 0) {
            if (runsOnProfile(pid, wanted) && pidfdSignal(fd, SIGKILL)) {
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
