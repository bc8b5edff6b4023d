// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/posix/PosixFileSystem.h"

#include "platform/Failure.h"
#include "platform/Platform.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace deckrun {

QChar pathSeparator() { return QLatin1Char('/'); }

std::unique_ptr<FileSystem> makeSystemFileSystem() { return std::make_unique<PosixFileSystem>(); }

namespace {

QByteArray native(const QString &path) { return QFile::encodeName(path); }

bool isDotOrDotDot(const char *n)
{
    return n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'));
}

// The read-only attribute: set when the mode bits that apply to this user
// grant no write. Read from the mode rather than asked of the kernel, so it
// describes the file the same way for every user, root included.
bool readOnly(const struct stat &st)
{
    static const uid_t uid = ::geteuid();
    static const gid_t gid = ::getegid();
    if (uid == 0)
        return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    if (st.st_uid == uid)
        return (st.st_mode & S_IWUSR) == 0;
    if (st.st_gid == gid)
        return (st.st_mode & S_IWGRP) == 0;
    return (st.st_mode & S_IWOTH) == 0;
}

// A name as QString, or empty when the bytes do not survive the round trip
// (such a name could not be opened again by its decoded text).
QString decodedName(const char *raw)
{
    QString name = QFile::decodeName(raw);
    for (const char *p = raw; *p; ++p) {
        if (static_cast<unsigned char>(*p) >= 0x80) {
            if (QFile::encodeName(name) != QByteArray(raw))
                return QString();
            break;
        }
    }
    return name;
}

// Listings come sorted by name, letter case ignored first, as the name-ordered
// listings of the other platform's file system do: the queue then has the same
// order on every machine and every run.
bool nameLess(const QString &a, const QString &b)
{
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

/** Opens a folder for listing; closes it at the end of the scope. */
class FolderReader {
public:
    explicit FolderReader(const QString &folder) : m_dir(::opendir(native(folder).constData())) {}
    ~FolderReader()
    {
        if (m_dir)
            ::closedir(m_dir);
    }
    FolderReader(const FolderReader &) = delete;
    FolderReader &operator=(const FolderReader &) = delete;

    bool isOpen() const { return m_dir != nullptr; }
    int fd() const { return ::dirfd(m_dir); }
    /** The next entry other than "." and ".."; null at the end or on a failure (errno). */
    struct dirent *next()
    {
        for (;;) {
            errno = 0;
            struct dirent *e = ::readdir(m_dir);
            if (!e || !isDotOrDotDot(e->d_name))
                return e;
        }
    }

private:
    DIR *m_dir;
};

// Whether an entry is a folder (a link to a folder counts as one); entries
// that vanish count as none.
bool entryIsFolder(int dirFd, const struct dirent *e)
{
    if (e->d_type == DT_DIR)
        return true;
    if (e->d_type != DT_LNK && e->d_type != DT_UNKNOWN)
        return false;
    struct stat st {};
    return ::fstatat(dirFd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

int listingErrorCode(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return 70;
    case ENOENT:
    case ENOTDIR:
        return 76;
    default:
        return 75;
    }
}

[[noreturn]] void throwListingFailure(const QString &folder, int error)
{
    const int code = listingErrorCode(error);
    const QString text = code == 70   ? QStringLiteral("Permission denied")
        : code == 76                  ? QStringLiteral("Path not found")
                                      : QStringLiteral("Path/File access error");
    throw Failure(text + QStringLiteral(": ") + folder + QStringLiteral(" (")
                      + QString::fromLocal8Bit(std::strerror(error)) + QLatin1Char(')'),
                  code);
}

} // namespace

// --- wildcard matching -------------------------------------------------------

WildcardPattern::WildcardPattern(const QString &pattern)
{
    if (pattern == QLatin1String("*") || pattern == QLatin1String("*.*")) {
        m_all = true;
        return;
    }
    m_pattern = pattern.toCaseFolded();
    // "*.abc" also finds longer extensions that begin with "abc" ("ppt" finds
    // ".pptx"), as three-letter patterns do on file systems with short names.
    if (m_pattern.size() == 5 && m_pattern.startsWith(QLatin1String("*."))) {
        const QStringView ext = QStringView(m_pattern).mid(2);
        if (!ext.contains(QLatin1Char('*')) && !ext.contains(QLatin1Char('?'))
            && !ext.contains(QLatin1Char('.')))
            m_extension = ext.toString();
    }
}

namespace {
inline QChar folded(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80)
        return (u >= 'A' && u <= 'Z') ? QChar(char16_t(u + 32)) : c;
    return c.toCaseFolded();
}

bool globMatch(QStringView name, QStringView pattern)
{
    qsizetype n = 0, p = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == QLatin1Char('*')) {
            starP = p++;
            starN = n;
        } else if (p < pattern.size()
                   && (pattern[p] == QLatin1Char('?') || pattern[p] == folded(name[n]))) {
            ++p;
            ++n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == QLatin1Char('*'))
        ++p;
    return p == pattern.size();
}
} // namespace

bool WildcardPattern::matches(const QString &name) const
{
    if (m_all)
        return true;
    if (!m_extension.isEmpty()) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot < 0 || name.size() - dot - 1 < m_extension.size())
            return false;
        for (qsizetype i = 0; i < m_extension.size(); ++i)
            if (folded(name[dot + 1 + i]) != m_extension[i])
                return false;
        return true;
    }
    if (globMatch(name, m_pattern))
        return true;
    // "name.*" also finds "name" without any extension.
    if (m_pattern.endsWith(QLatin1String(".*")) && !name.contains(QLatin1Char('.')))
        return globMatch(name, QStringView(m_pattern).chopped(2));
    return false;
}

int WildcardPattern::matchesRaw(const char *name) const
{
    if (m_all)
        return 1;
    if (m_extension.isEmpty())
        return -1;
    const char *dot = std::strrchr(name, '.');
    if (!dot)
        return 0;
    for (qsizetype i = 0; i < m_extension.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(dot[1 + i]);
        if (c == 0)
            return 0;
        if (c >= 0x80)
            return -1; // not plain ASCII: let the decoded comparison decide
        const char16_t lower = (c >= 'A' && c <= 'Z') ? char16_t(c + 32) : char16_t(c);
        if (lower != m_extension.at(i).unicode())
            return 0;
    }
    return 1;
}

// --- the file system -----------------------------------------------------------

int PosixFileSystem::attributeValue(const QString &name, const struct stat &own,
                                    const struct stat *target)
{
    int value = 0;
    const struct stat &st = target ? *target : own;
    if (S_ISLNK(own.st_mode))
        value |= attr::ReparsePoint;
    if (S_ISDIR(st.st_mode))
        value |= attr::Directory;
    else if (S_ISREG(st.st_mode))
        value |= attr::Archive;
    if (name.startsWith(QLatin1Char('.')))
        value |= attr::Hidden;
    if (readOnly(st))
        value |= attr::ReadOnly;
    return value;
}

bool PosixFileSystem::fileIsPresent(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(native(path).constData(), &st) == 0;
}

int PosixFileSystem::attributes(const QString &path)
{
    const QByteArray name = native(path);
    struct stat st {};
    if (path.isEmpty() || ::lstat(name.constData(), &st) != 0)
        throw Failure(QStringLiteral("File not found: %1").arg(path), 53);
    struct stat target {};
    const bool followed = S_ISLNK(st.st_mode) && ::stat(name.constData(), &target) == 0;
    QStringView last(path);
    while (last.size() > 1 && last.endsWith(QLatin1Char('/')))
        last.chop(1);
    last = last.mid(last.lastIndexOf(QLatin1Char('/')) + 1);
    return attributeValue(last.toString(), st, followed ? &target : nullptr);
}

bool PosixFileSystem::isExistingFile(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(native(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

QStringList PosixFileSystem::listFiles(const QString &folder, const QString &pattern)
{
    FolderReader reader(folder);
    if (!reader.isOpen())
        return {}; // nothing to list: the listing yields no name
    const WildcardPattern match(pattern);
    QStringList names;
    while (const struct dirent *e = reader.next()) {
        const QString name = decodedName(e->d_name);
        if (name.isEmpty() || !match.matches(name) || entryIsFolder(reader.fd(), e))
            continue;
        names << name;
    }
    std::sort(names.begin(), names.end(), nameLess);
    return names;
}

namespace {
// Adds one listed entry to `files` when it opens as a file matching the
// pattern and its value is not the excluded one.
void takeFile(int dirFd, const struct dirent *e, const WildcardPattern &match, int excludedValue,
              QStringList &files, int (*valueOf)(const QString &, const struct stat &, const struct stat *))
{
    if (e->d_type != DT_REG && e->d_type != DT_LNK && e->d_type != DT_UNKNOWN)
        return; // folders, pipes, sockets, devices never open as files here
    const int raw = match.matchesRaw(e->d_name);
    if (raw == 0)
        return;
    const QString name = decodedName(e->d_name);
    if (name.isEmpty() || (raw < 0 && !match.matches(name)))
        return;
    // A plain file needs no look of its own unless its value could be the
    // excluded one: the value carries "hidden" exactly when the name does.
    const bool hidden = e->d_name[0] == '.';
    const bool couldBeExcluded = excludedValue != -1 && ((excludedValue & attr::Hidden) != 0) == hidden;
    if (e->d_type == DT_REG && !couldBeExcluded) {
        files << name;
        return;
    }
    struct stat own {};
    if (::fstatat(dirFd, e->d_name, &own, AT_SYMLINK_NOFOLLOW) != 0)
        return; // vanished since the listing
    struct stat target {};
    const bool link = S_ISLNK(own.st_mode);
    if (link && ::fstatat(dirFd, e->d_name, &target, 0) != 0)
        return; // a link to nothing
    if (!S_ISREG(link ? target.st_mode : own.st_mode))
        return;
    if (excludedValue == -1 || valueOf(name, own, link ? &target : nullptr) != excludedValue)
        files << name;
}

void sortSubFolders(std::vector<SubFolder> &found)
{
    std::sort(found.begin(), found.end(),
              [](const SubFolder &a, const SubFolder &b) { return nameLess(a.name, b.name); });
}
} // namespace

QStringList PosixFileSystem::listExistingFiles(const QString &folder, const QString &pattern,
                                              int excludedValue)
{
    FolderReader reader(folder);
    if (!reader.isOpen())
        return {};
    const WildcardPattern match(pattern);
    QStringList files;
    while (const struct dirent *e = reader.next())
        takeFile(reader.fd(), e, match, excludedValue, files, &PosixFileSystem::attributeValue);
    std::sort(files.begin(), files.end(), nameLess);
    return files;
}

FolderListing PosixFileSystem::readFolder(const QString &folder, const QString &pattern,
                                          int excludedValue, FolderListing *partial)
{
    FolderReader reader(folder);
    if (!reader.isOpen())
        throwListingFailure(folder, errno);
    const WildcardPattern match(pattern);
    FolderListing listing;
    for (;;) {
        const struct dirent *e = reader.next();
        if (!e) {
            if (errno != 0) {
                const int error = errno;
                sortSubFolders(listing.subFolders);
                if (partial)
                    *partial = std::move(listing);
                throwListingFailure(folder, error);
            }
            break;
        }
        if (entryIsFolder(reader.fd(), e))
            listing.subFolders.push_back({QFile::decodeName(e->d_name)});
        else
            takeFile(reader.fd(), e, match, excludedValue, listing.files, &PosixFileSystem::attributeValue);
    }
    sortSubFolders(listing.subFolders);
    std::sort(listing.files.begin(), listing.files.end(), nameLess);
    return listing;
}

std::vector<SubFolder> PosixFileSystem::subFolders(const QString &folder,
                                                   std::vector<SubFolder> *partial)
{
    FolderReader reader(folder);
    if (!reader.isOpen())
        throwListingFailure(folder, errno);
    std::vector<SubFolder> found;
    auto sorted = [&found] { sortSubFolders(found); };
    for (;;) {
        const struct dirent *e = reader.next();
        if (!e) {
            if (errno != 0) {
                const int error = errno;
                sorted();
                if (partial)
                    *partial = found;
                throwListingFailure(folder, error);
            }
            break;
        }
        if (!entryIsFolder(reader.fd(), e))
            continue;
        // A name that cannot be decoded keeps its replacement characters: the
        // walker's own filter refuses it as unsafe.
        found.push_back({QFile::decodeName(e->d_name)});
    }
    sorted();
    return found;
}

bool PosixFileSystem::isRootFolder(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    for (const QChar c : folder)
        if (c != QLatin1Char('/'))
            return false;
    return true;
}

std::optional<FolderIdentity> PosixFileSystem::folderIdentity(const QString &folder)
{
    struct stat st {};
    if (::stat(native(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return FolderIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

} // namespace deckrun
