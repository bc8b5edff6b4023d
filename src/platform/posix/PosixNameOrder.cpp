// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/posix/PosixNameOrder.h"

#include <QStringBuilder>

#include <algorithm>
#include <bit>
#include <cstring>

namespace deckrun::posix {

// Plain ASCII is compared here; a first difference beyond it hands the whole
// comparison to Qt's case folding.
bool nameLess(const QString &a, const QString &b)
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

void sortSubFolders(std::vector<SubFolder> &found)
{
    std::sort(found.begin(), found.end(),
              [](const SubFolder &a, const SubFolder &b) { return nameLess(a.name, b.name); });
}

namespace {

unsigned char fold(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

// Eight ASCII bytes with "A" to "Z" turned to lower case at once: a byte
// from 0x41 to 0x5A gets its 0x20 bit (no byte carries into the next,
// as every byte is below 0x80).
std::uint64_t foldAscii(std::uint64_t word)
{
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    const std::uint64_t fromA = word + ones * (0x80 - 'A');
    const std::uint64_t pastZ = word + ones * (0x80 - 'Z' - 1);
    return word | (((fromA & ~pastZ) & (ones * 0x80)) >> 2);
}

// The word whose numeric order is the order of its bytes in memory.
std::uint64_t bigEndian(std::uint64_t word)
{
    if constexpr (std::endian::native == std::endian::little)
        return __builtin_bswap64(word);
    else
        return word;
}

} // namespace

void TakenNames::add(const char *raw, std::size_t length, QString decoded)
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

void TakenNames::clear()
{
    m_bytes.clear();
    m_entries.clear();
    m_decoded.clear();
}

QString TakenNames::text(const Entry &e) const
{
    return e.decoded >= 0 ? m_decoded[e.decoded]
                          : QString::fromLatin1(m_bytes.data() + e.offset, e.length);
}

// nameLess on two names. Two ASCII names compare by their keys, which
// decide nearly every comparison; the rest of the work is out of line.
inline bool TakenNames::less(const Entry &a, const Entry &b) const
{
    if (a.decoded < 0 && b.decoded < 0) {
        if (a.folded[0] != b.folded[0])
            return a.folded[0] < b.folded[0];
        if (a.folded[1] != b.folded[1])
            return a.folded[1] < b.folded[1];
    }
    return lessBeyondKeys(a, b);
}

// nameLess on two ASCII names, from their bytes: folded first, then exact.
// A name has no NUL byte, so the zeros that fill a short key put it first,
// as a shorter name with the same start comes first.
bool TakenNames::lessBeyondKeys(const Entry &a, const Entry &b) const
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

QStringList TakenNames::sorted(const QString &prefix)
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

} // namespace deckrun::posix
