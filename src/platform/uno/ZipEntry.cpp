// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/ZipEntry.h"

#include "platform/Logging.h"

#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>

#include <zlib.h>

#include <new>

namespace deckrun::uno {

namespace {

// The records of the zip format that a single-disk archive without ZIP64 has.
constexpr quint32 endSignature = 0x06054b50;
constexpr quint32 centralSignature = 0x02014b50;
constexpr quint32 localSignature = 0x04034b50;
constexpr qint64 endSize = 22;
constexpr qint64 centralSize = 46;
constexpr qint64 localSize = 30;
constexpr qint64 longestComment = 0xFFFF;
/** Thousands of entries take well under this; a deck's directory is read whole. */
constexpr qint64 centralLimit = qint64(16) * 1024 * 1024;
/** What deflate may make of an entry at the limit (it adds a little to data it cannot shrink). */
constexpr qint64 compressedLimit = zipEntryLimit + zipEntryLimit / 16;
/** The value a field holds when the real one is in a ZIP64 record. */
constexpr quint32 zip64Marker = 0xFFFFFFFF;
constexpr quint16 encryptedFlags = 0x0001 | 0x0040;
constexpr quint16 stored = 0;
constexpr quint16 deflated = 8;

/** Little-endian fields; every caller has checked that `at` + the width lies inside. */
quint16 le16(const QByteArray &bytes, qint64 at)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData() + at);
    return static_cast<quint16>(p[0] | (p[1] << 8));
}

quint32 le32(const QByteArray &bytes, qint64 at)
{
    return le16(bytes, at) | (static_cast<quint32>(le16(bytes, at + 2)) << 16);
}

/**
 * Where the end record begins in `tail`, the file's last bytes: the last
 * thing in the file, its comment included, so that a signature inside the
 * comment does not count.
 */
std::optional<qint64> endRecordIn(const QByteArray &tail)
{
    for (qint64 at = tail.size() - endSize; at >= 0; --at)
        if (le32(tail, at) == endSignature && at + endSize + le16(tail, at + 20) == tail.size())
            return at;
    return std::nullopt;
}

/** Where the central directory lies, from the end record. */
struct Directory {
    qint64 offset = 0;
    qint64 size = 0;
    int entries = 0;
};

/** An entry as the central directory describes it. */
struct Entry {
    quint16 flags = 0;
    quint16 method = 0;
    quint32 crc = 0;
    qint64 compressed = 0;
    qint64 size = 0;
    qint64 localOffset = 0;
};

/** Why the entry is not read, before anything of it is: nothing when it may be. */
const char *unreadable(const Entry &entry)
{
    if (entry.flags & encryptedFlags)
        return "the entry is encrypted";
    if (entry.method != stored && entry.method != deflated)
        return "the entry is compressed in a way not read here";
    if (entry.size == zip64Marker || entry.compressed == zip64Marker ||
        entry.localOffset == zip64Marker)
        return "the entry is in ZIP64 form, which is not read here";
    if (entry.size > zipEntryLimit || entry.compressed > compressedLimit)
        return "the entry is larger than a settings part can be";
    if (entry.method == stored && entry.compressed != entry.size)
        return "the stored entry's sizes disagree";
    return nullptr;
}

/** `in` inflated to exactly `size` bytes, or nothing: no more is ever written. */
std::optional<QByteArray> inflateRaw(const QByteArray &in, qint64 size)
{
    QByteArray out(size, Qt::Uninitialized);
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
    stream.avail_in = static_cast<uInt>(in.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = static_cast<uInt>(size);
    // One call: the input is whole and the output has its final size, so the
    // stream either ends exactly there or the entry is damaged or lies.
    const int result = inflate(&stream, Z_FINISH);
    const bool whole = result == Z_STREAM_END && static_cast<qint64>(stream.total_out) == size;
    inflateEnd(&stream);
    if (!whole)
        return std::nullopt;
    return out;
}

/** Reads one entry of an open zip file; says why when it does not. */
class ZipReader {
public:
    explicit ZipReader(QFile &file) : m_file(file), m_fileSize(file.size()) {}

    std::optional<QByteArray> entry(const QByteArray &name, Qt::CaseSensitivity cs)
    {
        const std::optional<Directory> directory = findDirectory();
        if (!directory)
            return std::nullopt;
        const std::optional<Entry> found = findEntry(*directory, name, cs);
        if (!found)
            return std::nullopt;
        if (const char *why = unreadable(*found))
            return refuse(why);
        return contents(*found, directory->offset);
    }

    const char *refusal() const { return m_refusal; }

private:
    std::nullopt_t refuse(const char *why)
    {
        m_refusal = why;
        return std::nullopt;
    }

    /** `length` bytes at `offset`, or nothing when they are not all in the file. */
    std::optional<QByteArray> readAt(qint64 offset, qint64 length)
    {
        if (offset < 0 || length < 0 || offset > m_fileSize || length > m_fileSize - offset)
            return refuse("a record lies outside the file");
        if (!m_file.seek(offset))
            return refuse("cannot seek");
        QByteArray bytes = m_file.read(length);
        if (bytes.size() != length)
            return refuse("cannot read");
        return bytes;
    }

    std::optional<Directory> findDirectory();
    std::optional<Entry> findEntry(const Directory &directory, const QByteArray &name,
                                   Qt::CaseSensitivity cs);
    std::optional<QByteArray> contents(const Entry &entry, qint64 directoryOffset);

    QFile &m_file;
    qint64 m_fileSize;
    const char *m_refusal = "";
};

std::optional<Directory> ZipReader::findDirectory()
{
    if (m_fileSize < endSize)
        return refuse("too short for a zip file");
    const qint64 tailStart = qMax<qint64>(0, m_fileSize - endSize - longestComment);
    const std::optional<QByteArray> tail = readAt(tailStart, m_fileSize - tailStart);
    if (!tail)
        return std::nullopt;
    const std::optional<qint64> end = endRecordIn(*tail);
    if (!end)
        return refuse("no end record: not a zip file");
    const qint64 at = *end;
    const quint16 disk = le16(*tail, at + 4);
    const quint16 directoryDisk = le16(*tail, at + 6);
    const quint16 entriesHere = le16(*tail, at + 8);
    const Directory directory{le32(*tail, at + 16), le32(*tail, at + 12), le16(*tail, at + 10)};
    if (disk != 0 || directoryDisk != 0 || entriesHere != directory.entries)
        return refuse("spans several disks");
    if (directory.entries == 0xFFFF || directory.offset == zip64Marker ||
        directory.size == zip64Marker)
        return refuse("ZIP64, which is not read here");
    if (directory.offset + directory.size > tailStart + at)
        return refuse("the central directory overlaps its end record");
    if (directory.size > centralLimit)
        return refuse("the central directory is too large");
    return directory;
}

std::optional<Entry> ZipReader::findEntry(const Directory &directory, const QByteArray &name,
                                          Qt::CaseSensitivity cs)
{
    const std::optional<QByteArray> records = readAt(directory.offset, directory.size);
    if (!records)
        return std::nullopt;
    std::optional<Entry> found;
    qint64 at = 0;
    // Every record is walked, so that a name given twice is noticed: readers
    // disagree on which one counts, and a deck is not guessed at.
    for (int i = 0; i < directory.entries; ++i) {
        if (at + centralSize > records->size() || le32(*records, at) != centralSignature)
            return refuse("the central directory is damaged");
        const qint64 nameLength = le16(*records, at + 28);
        const qint64 next =
            at + centralSize + nameLength + le16(*records, at + 30) + le16(*records, at + 32);
        if (next > records->size())
            return refuse("the central directory is cut short");
        const QByteArrayView entryName(records->constData() + at + centralSize, nameLength);
        if (entryName.size() == name.size() && entryName.compare(name, cs) == 0) {
            if (found)
                return refuse("the entry is there twice");
            found =
                Entry{le16(*records, at + 8),  le16(*records, at + 10), le32(*records, at + 16),
                      le32(*records, at + 20), le32(*records, at + 24), le32(*records, at + 42)};
        }
        at = next;
    }
    if (!found)
        return refuse("no such entry");
    return found;
}

std::optional<QByteArray> ZipReader::contents(const Entry &entry, qint64 directoryOffset)
{
    const std::optional<QByteArray> local = readAt(entry.localOffset, localSize);
    if (!local)
        return std::nullopt;
    if (le32(*local, 0) != localSignature)
        return refuse("no local header where the directory points");
    const qint64 dataOffset = entry.localOffset + localSize + le16(*local, 26) + le16(*local, 28);
    // Entries lie before the central directory; one that runs into it is made up.
    if (dataOffset + entry.compressed > directoryOffset)
        return refuse("the entry's data runs into the central directory");
    const std::optional<QByteArray> data = readAt(dataOffset, entry.compressed);
    if (!data)
        return std::nullopt;
    std::optional<QByteArray> out = entry.method == stored ? data : inflateRaw(*data, entry.size);
    if (!out)
        return refuse("the deflated data is damaged or not the size it claims");
    const auto *bytes = reinterpret_cast<const Bytef *>(out->constData());
    if (crc32(0, bytes, static_cast<uInt>(out->size())) != entry.crc)
        return refuse("the entry does not match its CRC");
    return out;
}

} // namespace

bool zipWithoutEnd(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(4) != QByteArrayLiteral("PK\x03\x04"))
        return false;
    const qint64 size = file.size();
    const qint64 tailStart = qMax<qint64>(0, size - endSize - longestComment);
    if (!file.seek(tailStart))
        return false;
    const QByteArray tail = file.read(size - tailStart);
    if (tail.size() != size - tailStart)
        return false;
    return !endRecordIn(tail);
}

std::optional<QByteArray> zipEntry(const QString &path, const QByteArray &name,
                                   Qt::CaseSensitivity cs)
{
    try {
        // A pipe or a device would block the read or never end: only files are read.
        if (!QFileInfo(path).isFile()) {
            qCDebug(lcOffice) << "zip:" << path << "is not a file";
            return std::nullopt;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            qCDebug(lcOffice) << "zip: cannot open" << path << file.errorString();
            return std::nullopt;
        }
        ZipReader reader(file);
        std::optional<QByteArray> entry = reader.entry(name, cs);
        if (!entry)
            qCDebug(lcOffice) << "zip:" << name << "of" << path << "not read:" << reader.refusal();
        return entry;
    } catch (const std::bad_alloc &) {
        qCDebug(lcOffice) << "zip:" << name << "of" << path << "not read: out of memory";
        return std::nullopt;
    }
}

} // namespace deckrun::uno
