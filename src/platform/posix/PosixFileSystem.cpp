// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/posix/PosixFileSystem.h"

#include "platform/Failure.h"
#include "platform/Platform.h"
#include "platform/WildcardPattern.h"

#include <QFile>
#include <QStringBuilder>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace deckrun {

QChar pathSeparator()
{
    return QLatin1Char('/');
}

std::unique_ptr<FileSystem> makeSystemFileSystem()
{
    return std::make_unique<PosixFileSystem>();
}

namespace {

QByteArray encoded(const QString &path)
{
    // Plain ASCII, by far the common case, needs no encoder.
    for (const QChar c : path)
        if (c.unicode() >= 0x80)
            return QFile::encodeName(path);
    return path.toLatin1();
}

QByteArray native(const QString &path)
{
    // A walk asks about each folder several times in a row: the last path's
    // bytes are kept for the next question.
    thread_local QString lastPath;
    thread_local QByteArray lastBytes;
    if (path.size() != lastPath.size() || path != lastPath) {
        lastBytes = encoded(path);
        lastPath = path;
    }
    return lastBytes;
}

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

// Listings come sorted by name, letter case ignored first, as the name-ordered
// listings of the other platform's file system do: the queue then has the same
// order on every machine and every run. Plain ASCII is compared here; a first
// difference beyond it hands the whole comparison to Qt's case folding.
inline bool nameLess(const QString &a, const QString &b)
{
    const QChar *x = a.constData();
    const QChar *y = b.constData();
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        char16_t c = x[i].unicode(), d = y[i].unicode();
        if (c == d)
            continue; // the same unit folds the same way on both sides
        if (c >= 0x80 || d >= 0x80) {
            const int order = QString::compare(a, b, Qt::CaseInsensitive);
            return order != 0 ? order < 0 : a < b;
        }
        if (c >= 'A' && c <= 'Z')
            c += 32;
        if (d >= 'A' && d <= 'Z')
            d += 32;
        if (c != d)
            return c < d;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b; // the same letters: the exact text decides
}

void sortNames(QStringList &names)
{
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return nameLess(a, b); });
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

} // namespace

namespace {
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
} // namespace

int PosixFileSystem::attributeValue(QStringView name, const struct stat &own,
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
        throw Failure(QStringLiteral("File not found: %1").arg(path), code::FileNotFound);
    struct stat target {};
    const bool followed = S_ISLNK(st.st_mode) && ::stat(name.constData(), &target) == 0;
    QStringView last(path);
    while (last.size() > 1 && last.endsWith(QLatin1Char('/')))
        last.chop(1);
    last = last.mid(last.lastIndexOf(QLatin1Char('/')) + 1);
    return attributeValue(last, st, followed ? &target : nullptr);
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
    const WildcardPattern &match = compiledPattern(pattern);
    QStringList names;
    while (const struct dirent *e = reader.next()) {
        const QString name = decodedName(e->d_name);
        if (name.isEmpty() || !match.matches(name) || entryIsFolder(reader.fd(), e))
            continue;
        names << name;
    }
    sortNames(names);
    return names;
}

namespace {
/**
 * The file names one folder read takes, kept as their bytes until the end,
 * then sorted and turned into text in one go, each with a given text before
 * it: a walk gets its rows without a copy of the bare names.
 */
class TakenNames {
public:
    /** Keeps a name; `decoded` is its text when it is not plain ASCII, else null. */
    void add(const char *raw, std::size_t length, QString decoded)
    {
        if (m_bytes.empty()) {
            m_bytes.reserve(1024);
            m_entries.reserve(64);
        }
        Entry e{};
        e.offset = static_cast<std::uint32_t>(m_bytes.size());
        e.length = static_cast<std::uint32_t>(length);
        if (!decoded.isNull()) {
            e.decoded = static_cast<int>(m_decoded.size());
            m_decoded.push_back(std::move(decoded));
        }
        m_bytes.append(raw, length);
        // The first sixteen bytes as numbers that compare as the bytes do:
        // most comparisons end there.
        unsigned char head[16] = {};
        std::memcpy(head, raw, std::min<std::size_t>(length, 16));
        for (std::size_t k = 0; k < 2; ++k) {
            std::uint64_t word;
            std::memcpy(&word, head + 8 * k, 8);
            e.exact[k] = bigEndian(word);
            e.folded[k] = bigEndian(foldAscii(word));
        }
        m_entries.push_back(e);
    }

    /** Forgets the names kept, keeping the room they took for the next folder. */
    void clear()
    {
        m_bytes.clear();
        m_entries.clear();
        m_decoded.clear();
    }

    /** The names in listing order (nameLess), each with `prefix` before it. */
    QStringList sorted(const QString &prefix)
    {
        std::sort(m_entries.begin(), m_entries.end(),
                  [this](const Entry &a, const Entry &b) { return less(a, b); });
        QStringList out;
        out.reserve(static_cast<qsizetype>(m_entries.size()));
        for (const Entry &e : m_entries) {
            if (e.decoded >= 0) {
                out << prefix + m_decoded[e.decoded];
                continue;
            }
            // One allocation of the right size; ASCII is Latin-1.
            out << QString(prefix % QLatin1StringView(m_bytes.data() + e.offset, e.length));
        }
        return out;
    }

private:
    struct Entry {
        std::uint64_t folded[2] = {0, 0};
        std::uint64_t exact[2] = {0, 0};
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
        int decoded = -1; // index into m_decoded, or -1 for plain ASCII
    };

    static unsigned char fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

    // Eight ASCII bytes with "A" to "Z" turned to lower case at once: a byte
    // from 0x41 to 0x5A gets its 0x20 bit (no byte carries into the next,
    // as every byte is below 0x80).
    static std::uint64_t foldAscii(std::uint64_t word)
    {
        constexpr std::uint64_t ones = 0x0101010101010101ULL;
        const std::uint64_t fromA = word + ones * (0x80 - 'A');
        const std::uint64_t pastZ = word + ones * (0x80 - 'Z' - 1);
        return word | (((fromA & ~pastZ) & (ones * 0x80)) >> 2);
    }

    // The word whose numeric order is the order of its bytes in memory.
    static std::uint64_t bigEndian(std::uint64_t word)
    {
        if constexpr (std::endian::native == std::endian::little)
            return __builtin_bswap64(word);
        else
            return word;
    }

    QString text(const Entry &e) const
    {
        return e.decoded >= 0 ? m_decoded[e.decoded]
                              : QString::fromLatin1(m_bytes.data() + e.offset, e.length);
    }

    // nameLess on two ASCII names, from their bytes: folded first, then exact.
    // A name has no NUL byte, so the zeros that fill a short key put it first,
    // as a shorter name with the same start comes first.
    bool less(const Entry &a, const Entry &b) const
    {
        if (a.decoded >= 0 || b.decoded >= 0)
            return nameLess(text(a), text(b));
        for (int k = 0; k < 2; ++k)
            if (a.folded[k] != b.folded[k])
                return a.folded[k] < b.folded[k];
        if (a.length > 16 || b.length > 16) {
            const char *x = m_bytes.data() + a.offset;
            const char *y = m_bytes.data() + b.offset;
            const std::uint32_t n = std::min(a.length, b.length);
            for (std::uint32_t i = 16; i < n; ++i) {
                const unsigned char c = fold(static_cast<unsigned char>(x[i]));
                const unsigned char d = fold(static_cast<unsigned char>(y[i]));
                if (c != d)
                    return c < d;
            }
            if (a.length != b.length)
                return a.length < b.length;
            return std::memcmp(x, y, n) < 0; // the same letters: the exact text decides
        }
        for (int k = 0; k < 2; ++k)
            if (a.exact[k] != b.exact[k])
                return a.exact[k] < b.exact[k];
        return false;
    }

    std::string m_bytes;
    std::vector<Entry> m_entries;
    std::vector<QString> m_decoded;
};

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

    void take(const struct dirent *e, TakenNames &files)
    {
        const char *raw = e->d_name;
        if (e->d_type != DT_REG && e->d_type != DT_LNK && e->d_type != DT_UNKNOWN) {
            // Pipes, sockets, devices never open as files here.
            if (m_leftOut && matchesAtAll(raw)) {
                struct stat own {};
                if (::fstatat(m_dirFd, raw, &own, AT_SYMLINK_NOFOLLOW) == 0)
                    leaveOut(raw, notAFile(own.st_mode));
            }
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
        auto name = [&] { return decoded.isNull() ? QString::fromLatin1(raw, length) : decoded; };
        if (matched < 0 && !m_match.matches(name()))
            return;
        // A plain file needs no look of its own unless its value could be the
        // excluded one (the value carries "hidden" exactly when the name does)
        // or the folder may not be entered, so that nothing in it opens.
        const bool hidden = raw[0] == '.';
        const bool couldBeExcluded =
            m_excludedValue != -1 && ((m_excludedValue & attr::Hidden) != 0) == hidden;
        if (e->d_type == DT_REG && !couldBeExcluded && m_searchable == Searchable::Yes) {
            files.add(raw, length, std::move(decoded));
            return;
        }
        struct stat own {};
        if (::fstatat(m_dirFd, raw, &own, AT_SYMLINK_NOFOLLOW) != 0) {
            // Listed but not entered (mode r--): no name in it opens.
            if (errno == EACCES) {
                m_searchable = Searchable::No;
                if (m_leftOut)
                    m_leftOut->push_back({m_folder, QStringLiteral("its files cannot be opened: "
                                                                   "the folder may be listed but "
                                                                   "not entered")});
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
        if (m_excludedValue == -1 ||
            m_valueOf(name(), own, link ? &target : nullptr) != m_excludedValue)
            files.add(raw, length, std::move(decoded));
    }

private:
    // Whether names in the folder can be looked up: one look answers it for
    // every name, as it is the folder's own permission.
    enum class Searchable { Unknown, Yes, No };

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
    Searchable m_searchable = Searchable::Unknown;
};

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
    const WildcardPattern &match = compiledPattern(pattern);
    FileTaker taker(reader.fd(), match, excludedValue, &PosixFileSystem::attributeValue);
    // One folder is read at a time: the room for its names serves the next.
    static thread_local TakenNames files;
    files.clear();
    while (const struct dirent *e = reader.next())
        taker.take(e, files);
    return files.sorted(QString());
}

FolderListing PosixFileSystem::readFolder(const QString &folder, const QString &pattern,
                                          int excludedValue, FolderListing *partial,
                                          const QString &filePrefix)
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
    struct stat self {};
    if (::fstat(reader.fd(), &self) == 0)
        listing.identity = FolderIdentity{static_cast<std::uint64_t>(self.st_dev),
                                          static_cast<std::uint64_t>(self.st_ino)};
    for (;;) {
        const struct dirent *e = reader.next();
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
        found.push_back(folderName(e->d_name));
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
    return FolderIdentity{static_cast<std::uint64_t>(st.st_dev),
                          static_cast<std::uint64_t>(st.st_ino)};
}

QString PosixFileSystem::whyNotReadable(const QString &path)
{
    if (path.isEmpty())
        return QString();
    const QByteArray name = native(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return QString(); // missing: the office's own words say so
        return QStringLiteral("the file cannot be read: ") +
               QString::fromLocal8Bit(std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("it is a folder, not a file");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("it is a named pipe (FIFO), not a file");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("it is a device, not a file");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("it is a socket, not a file");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("it is not a regular file");
    // Opened as the office would open it; a regular file never blocks here.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return QStringLiteral("the file cannot be read: ") +
               QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    return QString();
}

} // namespace deckrun
