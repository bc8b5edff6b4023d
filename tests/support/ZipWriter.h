// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small zip files for the tests of the office backend's package readers:
// entries stored, or deflated through the zlib that backend links.

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QList>

#include <zlib.h>

namespace deckrun::test {

struct ZipItem {
    QByteArray name;
    QByteArray data;
    bool deflate = false;
};

/** The fields, little-endian, each as wide as its type. */
template <typename... Fields> QByteArray littleEndian(Fields... fields)
{
    QByteArray out;
    QDataStream stream(&out, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::LittleEndian);
    (stream << ... << fields);
    return out;
}

/** Deflated as zip files hold it: zlib's format without its header and checksum. */
inline QByteArray rawDeflate(const QByteArray &data)
{
    auto size = compressBound(static_cast<uLong>(data.size()));
    QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
    compress(reinterpret_cast<Bytef *>(out.data()), &size,
             reinterpret_cast<const Bytef *>(data.constData()), static_cast<uLong>(data.size()));
    return out.mid(2, static_cast<qsizetype>(size) - 6);
}

/** A zip file of `items`, in their order. */
inline QByteArray makeZip(const QList<ZipItem> &items)
{
    QByteArray entries;
    QByteArray directory;
    for (const ZipItem &item : items) {
        const QByteArray data = item.deflate ? rawDeflate(item.data) : item.data;
        const auto crc =
            static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef *>(item.data.constData()),
                                       static_cast<uInt>(item.data.size())));
        // Local header and directory record share these, from "version needed" to the extra length.
        const QByteArray shared = littleEndian(
            quint16(20), quint16(0), quint16(item.deflate ? 8 : 0), quint32(0), crc,
            quint32(data.size()), quint32(item.data.size()), quint16(item.name.size()), quint16(0));
        directory +=
            littleEndian(quint32(0x02014b50), quint16(20)) + shared +
            littleEndian(quint16(0), quint16(0), quint16(0), quint32(0), quint32(entries.size())) +
            item.name;
        entries += littleEndian(quint32(0x04034b50)) + shared + item.name + data;
    }
    const auto count = quint16(items.size());
    return entries + directory +
           littleEndian(quint32(0x06054b50), quint16(0), quint16(0), count, count,
                        quint32(directory.size()), quint32(entries.size()), quint16(0));
}

} // namespace deckrun::test
