// SPDX-License-Identifier: GPL-3.0-or-later
// The listings of PosixFileSystem: one read of a folder gives its sub-folders
// and the files in it that open as files, in listing order (PosixNameOrder.h).
#include "platform/posix/PosixFileSystem.h"

#include "platform/Failure.h"
#include "platform/WildcardPattern.h"
#include "platform/posix/PosixNameOrder.h"

#include <QFile>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace deckrun {

using posix::native;
using posix::sortNames;
using posix::sortSubFolders;
using posix::TakenNames;

namespace {

bool isDotOrDotDot(const char *n)
{
    return n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'));
}

// A name as QString, or empty when the bytes do not survive the round trip
// (such a name could not be opened again by its decoded text). Plain ASCII,
// by far the common case, needs no decoder.
QString decodedName(const char *raw)
{
    const char *p = raw;
    while (*p && static_cast<unsigned char>(*p) < 0x80)
        ++p;
    if (!*p)
        return QString::fromLatin1(raw, p - raw);
    QString name = QFile::decodeName(raw);
    if (QFile::encodeName(name) != QByteArray(raw))
        return QString();
    return name;
}

// True when no byte of the name has its high bit set, eight bytes at a time.
bool isAscii(const char *raw, std::size_t length)
{
    std::uint64_t any = 0;
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, raw + i, 8);
        any |= word;
    }
    for (; i < length; ++i)
        any |= static_cast<unsigned char>(raw[i]);
    return (any & 0x8080808080808080ULL) == 0;
}

// A folder's name as QString. A name that cannot be decoded keeps its
// replacement characters, so the walker's own filter refuses it as unsafe,
// and says how it reads.
SubFolder folderName(const char *raw)
{
    const char *p = raw;
    while (*p && static_cast<unsigned char>(*p) < 0x80)
        ++p;
    if (!*p)
        return {QString::fromLatin1(raw, p - raw)};
    SubFolder sub{QFile::decodeName(raw)};
    if (QFile::encodeName(sub.name) != QByteArray(raw))
        sub.undecodable = readableName(QByteArray(raw));
    return sub;
}

// What an entry that is neither a folder nor a regular file is, as a reason
// it is left out.
QString notAFile(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("it is a named pipe (FIFO), not a file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("it is a device, not a file");
    if (S_ISSOCK(mode))
        return QStringLiteral("it is a socket, not a file");
    return QStringLiteral("it is not a regular file");
}

/**
 * Opens a folder for listing and reads its entries in the kernel's blocks, as
 * readdir() does, without the look at the folder that opendir() takes first;
 * closes it at the end of the scope.
 */
class FolderReader {
public:
    explicit FolderReader(const QString &folder)
        : m_fd(::open(native(folder).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_DIRECTORY))
    {}
    ~FolderReader()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderReader(const FolderReader &) = delete;
    FolderReader &operator=(const FolderReader &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    /** The next entry other than "." and ".."; null at the end or on a failure (errno). */
    const struct dirent64 *next()
    {
        for (;;) {
            if (m_at == m_end) {
                if (!m_block)
                    m_block = std::make_unique_for_overwrite<char[]>(BlockSize);
                const ssize_t n = ::getdents64(m_fd, m_block.get(), BlockSize);
                if (n <= 0) {
                    if (n == 0)
                        errno = 0;
                    return nullptr;
                }
                m_at = 0;
                m_end = static_cast<std::size_t>(n);
            }
            const auto *e = reinterpret_cast<const struct dirent64 *>(m_block.get() + m_at);
            m_at += e->d_reclen;
            if (!isDotOrDotDot(e->d_name))
                return e;
        }
    }

private:
    static constexpr std::size_t BlockSize = 32768; // what readdir() asks for at a time

    int m_fd;
    std::unique_ptr<char[]> m_block;
    std::size_t m_at = 0;
    std::size_t m_end = 0;
};

// Whether an entry is a folder (a link to a folder counts as one); entries
// that vanish count as none.
bool entryIsFolder(int dirFd, const struct dirent64 *e)
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
        return code::PermissionDenied;
    case ENOENT:
    case ENOTDIR:
        return code::PathNotFound;
    default:
        return code::PathFileAccessError;
    }
}

[[noreturn]] void throwListingFailure(const QString &folder, int error)
{
    const int failure = listingErrorCode(error);
    const QString text = failure == code::PermissionDenied ? QStringLiteral("Permission denied")
                         : failure == code::PathNotFound   ? QStringLiteral("Path not found")
                                                         : QStringLiteral("Path/File access error");
    throw Failure(text + QStringLiteral(": ") + folder + QStringLiteral(" (") +
                      QString::fromLocal8Bit(std::strerror(error)) + QLatin1Char(')'),
                  failure);
}

// Each folder of a walk is read with the same pattern: it is compiled once.
const WildcardPattern &compiledPattern(const QString &pattern)
{
    thread_local QString lastText;
    thread_local WildcardPattern last{QString()};
    if (pattern != lastText || lastText.isNull()) {
        last = WildcardPattern(pattern);
        lastText = pattern.isNull() ? QStringLiteral("") : pattern;
    }
    return last;
}

/**
 * Picks the entries of one folder read that open as files matching the
 * pattern and whose value is not the excluded one.
 */
class FileTaker {
public:
    using ValueOf = int (*)(QStringView, const struct stat &, const struct stat *);
    /**
     * With `leftOut`, the entries that match but do not open as files are
     * named there, each path as `folder` (ending with a separator) and the name.
     */
    FileTaker(int dirFd, const WildcardPattern &match, int excludedValue, ValueOf valueOf,
              std::vector<LeftOut> *leftOut = nullptr, const QString &folder = QString())
        : m_dirFd(dirFd), m_match(match), m_excludedValue(excludedValue), m_valueOf(valueOf),
          m_leftOut(leftOut), m_folder(folder)
    {}

    void take(const struct dirent64 *e, TakenNames &files)
    {
        const char *raw = e->d_name;
        if (e->d_type != DT_REG && e->d_type != DT_LNK && e->d_type != DT_UNKNOWN) {
            passOverNonFile(raw); // pipes, sockets, devices never open as files here
            return;
        }
        if (m_searchable == Searchable::No)
            return;
        const int matched = m_match.matchesRaw(raw);
        if (matched == 0)
            return;
        const std::size_t length = std::strlen(raw);
        QString decoded; // stays null for plain ASCII
        if (!isAscii(raw, length)) {
            decoded = decodedName(raw);
            if (decoded.isEmpty()) {
                if (m_leftOut && (matched > 0 || m_match.matches(QFile::decodeName(raw))))
                    leaveOut(raw, QStringLiteral("its name is not valid UTF-8 text"));
                return;
            }
        }
        if (matched < 0 && !m_match.matches(nameOf(raw, length, decoded)))
            return;
        // A plain file needs no look of its own unless its value could be the
        // excluded one (the value carries "hidden" exactly when the name does)
        // or the folder may not be entered, so that nothing in it opens.
        const bool hidden = raw[0] == '.';
        const bool couldBeExcluded =
            m_excludedValue != -1 && ((m_excludedValue & attr::Hidden) != 0) == hidden;
        if (m_searchable == Searchable::Unknown && m_enterable != Searchable::Unknown) {
            // The first name that needs the folder entered: the reader's look
            // at the folder answered for every name in it.
            m_searchable = m_enterable;
            if (m_searchable == Searchable::No) {
                cannotBeEntered();
                return;
            }
        }
        if (e->d_type == DT_REG && !couldBeExcluded && m_searchable == Searchable::Yes)
            files.add(raw, length, std::move(decoded));
        else
            takeLookedAt(raw, length, std::move(decoded), files);
    }

    /** Tells whether names in the folder can be looked up, when a look at the folder told. */
    void knowEnterable(bool enterable)
    {
        m_enterable = enterable ? Searchable::Yes : Searchable::No;
    }

private:
    // Whether names in the folder can be looked up: one look answers it for
    // every name, as it is the folder's own permission.
    enum class Searchable { Unknown, Yes, No };

    void cannotBeEntered()
    {
        if (m_leftOut)
            m_leftOut->push_back({m_folder, QStringLiteral("its files cannot be opened: the folder "
                                                           "may be listed but not entered")});
    }

    static QString nameOf(const char *raw, std::size_t length, const QString &decoded)
    {
        return decoded.isNull() ? QString::fromLatin1(raw, static_cast<qsizetype>(length))
                                : decoded;
    }

    // An entry that is neither a folder nor a regular file, matching the
    // pattern, is named as left out with what it is.
    void passOverNonFile(const char *raw)
    {
        if (m_leftOut && matchesAtAll(raw)) {
            struct stat own {};
            if (::fstatat(m_dirFd, raw, &own, AT_SYMLINK_NOFOLLOW) == 0)
                leaveOut(raw, notAFile(own.st_mode));
        }
    }

    // Takes a name that needs a look of its own: it opens as a file (a link
    // is followed) and its value is not the excluded one.
    void takeLookedAt(const char *raw, std::size_t length, QString decoded, TakenNames &files)
    {
        struct stat own {};
        if (::fstatat(m_dirFd, raw, &own, AT_SYMLINK_NOFOLLOW) != 0) {
            // Listed but not entered (mode r--): no name in it opens.
            if (errno == EACCES) {
                m_searchable = Searchable::No;
                cannotBeEntered();
            }
            return; // or vanished since the listing
        }
        m_searchable = Searchable::Yes;
        struct stat target {};
        const bool link = S_ISLNK(own.st_mode);
        if (link && ::fstatat(m_dirFd, raw, &target, 0) != 0) {
            // A link to nothing, or into a folder that may not be entered.
            if (m_leftOut)
                leaveOut(raw, QStringLiteral("it is a link whose target cannot be reached: ") +
                                  QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        if (!S_ISREG(link ? target.st_mode : own.st_mode)) {
            if (m_leftOut)
                leaveOut(raw, notAFile(link ? target.st_mode : own.st_mode));
            return;
        }
        if (m_excludedValue == -1 || m_valueOf(nameOf(raw, length, decoded), own,
                                               link ? &target : nullptr) != m_excludedValue)
            files.add(raw, length, std::move(decoded));
    }

    bool matchesAtAll(const char *raw) const
    {
        const int matched = m_match.matchesRaw(raw);
        return matched > 0 || (matched < 0 && m_match.matches(QFile::decodeName(raw)));
    }

    void leaveOut(const char *raw, const QString &reason)
    {
        m_leftOut->push_back({m_folder + readableName(QByteArray(raw)), reason});
    }

    int m_dirFd;
    const WildcardPattern &m_match;
    int m_excludedValue;
    ValueOf m_valueOf;
    std::vector<LeftOut> *m_leftOut;
    QString m_folder;
    Searchable m_searchable = Searchable::Unknown; // as the names taken so far found it
    Searchable m_enterable = Searchable::Unknown;  // as a look at the folder itself found it
};

// The real folder a reader has open, looked up as "." inside it. That look
// needs the same permission to enter the folder as any name in it, so it also
// tells `taker` whether the names can be looked up, one look fewer per folder.
std::optional<FolderIdentity> openFolderIdentity(int dirFd, FileTaker &taker)
{
    struct stat self {};
    if (::fstatat(dirFd, ".", &self, AT_SYMLINK_NOFOLLOW) == 0) {
        taker.knowEnterable(true);
    } else {
        if (errno == EACCES)
            taker.knowEnterable(false);
        if (::fstat(dirFd, &self) != 0)
            return std::nullopt;
    }
    return FolderIdentity{static_cast<std::uint64_t>(self.st_dev),
                          static_cast<std::uint64_t>(self.st_ino)};
}

/**
 * Why the link `name` in the folder `dirFd` (owned as `folder` says) is not
 * followed, as `links` asks; empty when it is followed, and for anything
 * that is no link. `shown` says whether that is worth naming: a link to a
 * folder, or one matching the pattern (any link, when none is followed).
 */
QString refusedLink(LinksFollowed links, int dirFd, const char *name, const struct stat &folder,
                    const WildcardPattern &match, bool &shown)
{
    struct stat own {};
    if (::fstatat(dirFd, name, &own, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(own.st_mode))
        return {};
    if (links == LinksFollowed::Never) {
        shown = true;
        return QStringLiteral("it is a link, and links are not followed here");
    }
    struct stat target {};
    if (::fstatat(dirFd, name, &target, 0) != 0)
        return {}; // a link to nothing: the file taker names it
    if (own.st_uid == folder.st_uid && target.st_uid == folder.st_uid)
        return {};
    const int matched = match.matchesRaw(name);
    shown = S_ISDIR(target.st_mode) || matched > 0 ||
            (matched < 0 && match.matches(QFile::decodeName(name)));
    return QStringLiteral("it is a link, and it or what it leads to has another owner than the "
                          "folder it is in");
}

} // namespace

QStringList PosixFileSystem::listFiles(const QString &folder, const QString &pattern)
{
    FolderReader reader(folder);
    if (!reader.isOpen())
        return {}; // nothing to list: the listing yields no name
    const WildcardPattern &match = compiledPattern(pattern);
    QStringList names;
    while (const struct dirent64 *e = reader.next()) {
        const QString name = decodedName(e->d_name);
        if (name.isEmpty() || !match.matches(name) || entryIsFolder(reader.fd(), e))
            continue;
        names << name;
    }
    sortNames(names);
    return names;
}

QStringList PosixFileSystem::listExistingFiles(const QString &folder, const QString &pattern,
                                               int excludedValue)
{
    FolderReader reader(folder);
    if (!reader.isOpen())
        return {};
    const WildcardPattern &match = compiledPattern(pattern);
    FileTaker taker(reader.fd(), match, excludedValue, &PosixFileSystem::attributeValue);
    // One folder is read at a time: the room for its names serves the next.
    static thread_local TakenNames files;
    files.clear();
    while (const struct dirent64 *e = reader.next())
        taker.take(e, files);
    return files.sorted(QString());
}

FolderListing PosixFileSystem::readFolder(const QString &folder, const QString &pattern,
                                          int excludedValue, FolderListing *partial,
                                          const QString &filePrefix, LinksFollowed links)
{
    FolderReader reader(folder);
    if (!reader.isOpen())
        throwListingFailure(folder, errno);
    const WildcardPattern &match = compiledPattern(pattern);
    FolderListing listing;
    const QString shownFolder =
        folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    FileTaker taker(reader.fd(), match, excludedValue, &PosixFileSystem::attributeValue,
                    &listing.leftOut, shownFolder);
    // One folder is read at a time: the room for its names serves the next.
    static thread_local TakenNames files;
    files.clear();
    // The folder actually read, from the open folder itself.
    listing.identity = openFolderIdentity(reader.fd(), taker);
    struct stat own {};
    if (links != LinksFollowed::Always && ::fstat(reader.fd(), &own) != 0)
        throwListingFailure(folder, errno);
    for (;;) {
        const struct dirent64 *e = reader.next();
        if (!e) {
            if (errno != 0) {
                const int error = errno;
                sortSubFolders(listing.subFolders);
                listing.files = files.sorted(filePrefix);
                if (partial)
                    *partial = std::move(listing);
                throwListingFailure(folder, error);
            }
            break;
        }
        if (links != LinksFollowed::Always && (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN)) {
            bool shown = false;
            const QString why = refusedLink(links, reader.fd(), e->d_name, own, match, shown);
            if (!why.isEmpty()) {
                if (shown)
                    listing.leftOut.push_back({shownFolder + readableName(e->d_name), why});
                continue;
            }
        }
        if (entryIsFolder(reader.fd(), e))
            listing.subFolders.push_back(folderName(e->d_name));
        else
            taker.take(e, files);
    }
    sortSubFolders(listing.subFolders);
    listing.files = files.sorted(filePrefix);
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
        const struct dirent64 *e = reader.next();
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
        found.push_back(folderName(e->d_name));
    }
    sorted();
    return found;
}

} // namespace deckrun
