// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small zip files made on the spot for the tests of the office backend's
// package readers: entries stored, or deflated through zlib (which that
// backend links), one central directory, no comment.

#include <QByteArray>
#include <QList>

#include <zlib.h>

namespace deckrun::test {

struct ZipItem {
    QByteArray name;
    QByteArray data;
    bool deflate = false;
};

inline void appendLe(QByteArray &out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

inline QByteArray rawDeflate(const QByteArray &data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<qsizetype>(deflateBound(&stream, data.size())), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(static_cast<qsizetype>(stream.total_out));
    deflateEnd(&stream);
    return out;
}

/** A zip file of `items`, in their order. */
inline QByteArray makeZip(const QList<ZipItem> &items)
{
    QByteArray entries;
    QByteArray directory;
    for (const ZipItem &item : items) {
        const QByteArray data = item.deflate ? rawDeflate(item.data) : item.data;
        const auto *bytes = reinterpret_cast<const Bytef *>(item.data.constData());
        const auto offset = static_cast<quint32>(entries.size());
        // Local header and directory record share these, from "version needed" to the extra length.
        QByteArray shared;
        appendLe(shared, 20, 2);
        appendLe(shared, 0, 2);
        appendLe(shared, item.deflate ? 8 : 0, 2);
        appendLe(shared, 0, 4);
        appendLe(shared, crc32(0, bytes, static_cast<uInt>(item.data.size())), 4);
        appendLe(shared, data.size(), 4);
        appendLe(shared, item.data.size(), 4);
        appendLe(shared, item.name.size(), 2);
        appendLe(shared, 0, 2);
        appendLe(entries, 0x04034b50, 4);
        entries += shared + item.name + data;
        appendLe(directory, 0x02014b50, 4);
        appendLe(directory, 20, 2);
        directory += shared;
        directory.append(2 + 2 + 2 + 4, '\0'); // comment, disk, attributes
        appendLe(directory, offset, 4);
        directory += item.name;
    }
    QByteArray zip = entries + directory;
    appendLe(zip, 0x06054b50, 4);
    zip.append(2 + 2, '\0'); // this disk and the directory's
    appendLe(zip, items.size(), 2);
    appendLe(zip, items.size(), 2);
    appendLe(zip, directory.size(), 4);
    appendLe(zip, entries.size(), 4);
    appendLe(zip, 0, 2);
    return zip;
}

} // namespace deckrun::test
