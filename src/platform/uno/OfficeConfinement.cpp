// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/OfficeConfinement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace deckrun::uno {

namespace {

// Landlock's interface as the kernel defines it; the headers of an older
// system may lack the parts of later versions.
constexpr long CreateRuleset = 444;
constexpr long AddRule = 445;
constexpr long RestrictSelf = 446;
constexpr unsigned AskVersion = 1U;
constexpr int RulePathBeneath = 1;

constexpr std::uint64_t Execute = 1ULL << 0;
constexpr std::uint64_t WriteFile = 1ULL << 1;
constexpr std::uint64_t ReadFile = 1ULL << 2;
constexpr std::uint64_t ReadDir = 1ULL << 3;
constexpr std::uint64_t RemoveFile = 1ULL << 5;
constexpr std::uint64_t MakeSock = 1ULL << 9;
constexpr std::uint64_t Truncate = 1ULL << 14;
constexpr std::uint64_t IoctlDev = 1ULL << 15;
constexpr std::uint64_t FileRights = Execute | WriteFile | ReadFile | Truncate | IoctlDev;
constexpr std::uint64_t BindTcp = 1ULL << 0;
constexpr std::uint64_t ConnectTcp = 1ULL << 1;

struct RulesetAttr {
    std::uint64_t handledFs;
    std::uint64_t handledNet;
};

struct __attribute__((packed)) PathBeneathAttr {
    std::uint64_t allowed;
    std::int32_t parentFd;
};

/** The file-system rights a Landlock of version `abi` knows. */
std::uint64_t handledRights(long abi)
{
    std::uint64_t rights = (1ULL << 13) - 1; // version 1: execute to make-symlink
    if (abi >= 2)
        rights |= 1ULL << 13; // refer
    if (abi >= 3)
        rights |= Truncate;
    if (abi >= 5)
        rights |= IoctlDev;
    return rights;
}

/** Writes `text` to the process's own `file` under /proc/self. */
bool writeProc(const char *file, const QByteArray &text) noexcept
{
    const int fd = ::open(file, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.constData(), static_cast<size_t>(text.size())) ==
                         static_cast<ssize_t>(text.size());
    ::close(fd);
    return written;
}

/** The folders of the user's own fonts, which print as on the user's screen. */
QStringList userFontFolders()
{
    const QString home = QDir::homePath();
    return {home + QStringLiteral("/.fonts"), home + QStringLiteral("/.fonts.conf"),
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                QStringLiteral("/fonts"),
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                QStringLiteral("/fontconfig"),
            QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                QStringLiteral("/fontconfig")};
}

} // namespace

quint64 officeMemoryBound()
{
    bool ok = false;
    const quint64 asked = qEnvironmentVariable("DECKRUN_OFFICE_MEMORY").toULongLong(&ok);
    return ok && asked > 0 ? asked : 1024;
}

OfficeConfinement officeConfinement(const QString &programDir, const QString &profile,
                                    const QString &workspace, bool headless)
{
    OfficeConfinement c;
    // A display reached over the network (DISPLAY=host:0, ssh's forwarding)
    // would be out of reach too.
    const QString display = qEnvironmentVariable("DISPLAY");
    c.network = headless || display.indexOf(QLatin1Char(':')) <= 0 ||
                display.startsWith(QLatin1String("unix:"));
    c.memoryBytes = officeMemoryBound() * 1024 * 1024;
    // A window on the user's desktop reads much of the user's home; only an
    // office without one is held to the files printing needs.
    c.files = headless;
    c.readable = QStringList{QStringLiteral("/usr"),
                             QStringLiteral("/lib"),
                             QStringLiteral("/lib32"),
                             QStringLiteral("/lib64"),
                             QStringLiteral("/libx32"),
                             QStringLiteral("/bin"),
                             QStringLiteral("/sbin"),
                             QStringLiteral("/opt"),
                             QStringLiteral("/proc"),
                             QStringLiteral("/sys"),
                             QStringLiteral("/var/cache/fontconfig"),
                             QStringLiteral("/var/lib/libreoffice"),
                             QStringLiteral("/var/spool/libreoffice"),
                             QStringLiteral("/etc/fonts"),
                             QStringLiteral("/etc/libreoffice"),
                             QStringLiteral("/etc/passwd"),
                             QStringLiteral("/etc/group"),
                             QStringLiteral("/etc/nsswitch.conf"),
                             QStringLiteral("/etc/ld.so.cache"),
                             QStringLiteral("/etc/localtime"),
                             QStringLiteral("/etc/locale.alias"),
                             QStringLiteral("/etc/papersize"),
                             QStringLiteral("/etc/cups"),
                             QDir::cleanPath(programDir + QStringLiteral("/../.."))} +
                 userFontFolders();
    c.writable = {profile, workspace, QStringLiteral("/dev/shm")};
    c.socketFolders = {QStringLiteral("/tmp"), QStringLiteral("/var/tmp")};
    return c;
}

ChildConfinement::ChildConfinement(const OfficeConfinement &c, uid_t deckrunUid, gid_t deckrunGid)
    : m_network(c.network), m_files(c.files), m_memory(c.memoryBytes), m_runAs(c.runAs)
{
    const auto add = [this](const QStringList &paths, Access access) {
        for (const QString &p : paths)
            if (QFileInfo::exists(p))
                m_rules.push_back({QFile::encodeName(p), access});
    };
    add(c.readable, Access::Read);
    add(c.writable, Access::Write);
    add({QStringLiteral("/dev")}, Access::Device);
    add(c.socketFolders, Access::Sockets);
    const uid_t outsideUid = m_runAs ? m_runAs->uid : ::geteuid();
    const gid_t outsideGid = m_runAs ? m_runAs->gid : ::getegid();
    m_uidMap = QByteArray::number(deckrunUid) + ' ' + QByteArray::number(outsideUid) + " 1\n";
    m_gidMap = QByteArray::number(deckrunGid) + ' ' + QByteArray::number(outsideGid) + " 1\n";
}

void ChildConfinement::fallBack()
{
    if (!m_runAs) {
        m_network = false;
        return;
    }
    m_runAs.reset();
    m_uidMap = QByteArray::number(::getuid()) + ' ' + QByteArray::number(::geteuid()) + " 1\n";
    m_gidMap = QByteArray::number(::getgid()) + ' ' + QByteArray::number(::getegid()) + " 1\n";
}

int ChildConfinement::apply() const noexcept
{
    int got = 0;
    if (m_runAs) {
        if (!changeUser())
            return StartAgain;
        got |= UserChanged;
    }
    if (m_network || m_runAs) {
        switch (enterNamespaces()) {
        case Entered::Yes:
            got |= m_network ? NetworkConfined : 0;
            break;
        case Entered::No:
            if (m_runAs)
                return got | StartAgain; // its pipe would carry the other user's number
            break;
        case Entered::Unmapped:
            return got | StartAgain; // it would see itself as nobody, and so name its pipe
        }
    }
    if (m_memory > 0) {
        const rlimit bound{m_memory, m_memory};
        ::setrlimit(RLIMIT_DATA, &bound);
    }
    if (m_files && restrictFiles())
        got |= FilesConfined;
    return got;
}

bool ChildConfinement::changeUser() const noexcept
{
    const gid_t gid = m_runAs->gid;
    if (::setgroups(1, &gid) != 0 || ::setresgid(gid, gid, gid) != 0 ||
        ::setresuid(m_runAs->uid, m_runAs->uid, m_runAs->uid) != 0)
        return false;
    // Its own /proc files again, for the namespace's maps.
    ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
    return true;
}

ChildConfinement::Entered ChildConfinement::enterNamespaces() const noexcept
{
    const int network = m_network ? CLONE_NEWNET : 0;
    // Root makes a network namespace by itself; any other user in a user
    // namespace of its own, where it is the same user as outside.
    if (::geteuid() == 0 && !m_runAs)
        return network != 0 && ::unshare(network) == 0 ? Entered::Yes : Entered::No;
    if (::unshare(CLONE_NEWUSER | network) != 0)
        return Entered::No;
    if (!writeProc("/proc/self/uid_map", m_uidMap) ||
        !writeProc("/proc/self/setgroups", QByteArrayLiteral("deny")) ||
        !writeProc("/proc/self/gid_map", m_gidMap))
        return Entered::Unmapped;
    // Root inside (Deckrun runs as root): none of root's rights there either.
    for (int capability = 0; capability < 64; ++capability)
        ::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
    return Entered::Yes;
}

bool ChildConfinement::restrictFiles() const noexcept
{
    const long abi = ::syscall(CreateRuleset, nullptr, 0, AskVersion);
    if (abi < 1)
        return false;
    const std::uint64_t handled = handledRights(abi);
    const RulesetAttr attr{handled, abi >= 4 ? (BindTcp | ConnectTcp) : 0};
    const auto ruleset = static_cast<int>(
        ::syscall(CreateRuleset, &attr, abi >= 4 ? sizeof attr : sizeof attr.handledFs, 0));
    if (ruleset < 0)
        return false;
    for (const Rule &rule : m_rules) {
        const int fd = ::open(rule.path.constData(), O_PATH | O_CLOEXEC);
        struct stat info {};
        if (fd < 0)
            continue;
        std::uint64_t allowed = handled;
        switch (rule.access) {
        case Access::Read:
            allowed = Execute | ReadFile | ReadDir;
            break;
        case Access::Device:
            allowed = ReadFile | WriteFile | ReadDir | Truncate | IoctlDev;
            break;
        case Access::Sockets:
            allowed = MakeSock | RemoveFile;
            break;
        case Access::Write:
            break;
        }
        if (::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode))
            allowed &= FileRights;
        const PathBeneathAttr beneath{allowed & handled, fd};
        ::syscall(AddRule, ruleset, RulePathBeneath, &beneath, 0);
        ::close(fd);
    }
    const bool restricted =
        ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::syscall(RestrictSelf, ruleset, 0) == 0;
    ::close(ruleset);
    return restricted;
}

} // namespace deckrun::uno
