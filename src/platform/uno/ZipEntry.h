// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One entry of a zip file read whole, for the small parts of a deck's package
// (an OOXML or ODF file) that Deckrun reads itself. Only what decks use: one
// disk, no ZIP64, entries stored or deflated, nothing encrypted. The file is
// untrusted: every offset and size is checked before it is used, nothing is
// read or inflated beyond `zipEntryLimit`, and whatever is damaged, hostile or
// not supported reads as "no such entry" (logged to deckrun.office).

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace deckrun::uno {

/** The largest entry read, uncompressed: settings parts are a few KiB. */
inline constexpr qint64 zipEntryLimit = qint64(4) * 1024 * 1024;

/**
 * The entry `name` of the zip file at `path`, whole and checked against its
 * CRC; nothing where the file holds no such entry, holds it more than once,
 * or it cannot be read safely. Never throws.
 */
std::optional<QByteArray> zipEntry(const QString &path, const QByteArray &name,
                                   Qt::CaseSensitivity cs = Qt::CaseSensitive);

/**
 * Whether the file at `path` begins as a zip package and yet has no end
 * record (cut short, or no package at all): such a file no office can open
 * without repairing it. False for anything else, a file that cannot be read
 * included. Never throws.
 */
bool zipWithoutEnd(const QString &path);

} // namespace deckrun::uno
