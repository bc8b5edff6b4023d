// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The order of the POSIX listings: by name, letter case ignored first, as the
// name-ordered listings of the other platform's file system are, so the
// queue has the same order on every machine and every run.

#include "platform/FileSystem.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace deckrun::posix {

/** True when `a` comes before `b`: letter case ignored first, then the exact text. */
bool nameLess(const QString &a, const QString &b);
void sortNames(QStringList &names);
void sortSubFolders(std::vector<SubFolder> &found);

/**
 * The file names one folder read takes, kept as their bytes until the end,
 * then sorted and turned into text in one go, each with a given text before
 * it: a walk gets its rows without a copy of the bare names.
 */
class TakenNames {
public:
    /** Keeps a name; `decoded` is its text when it is not plain ASCII, else null. */
    void add(const char *raw, std::size_t length, QString decoded);
    /** Forgets the names kept, keeping the room they took for the next folder. */
    void clear();
    /** The names in listing order (nameLess), each with `prefix` before it. */
    QStringList sorted(const QString &prefix);

private:
    struct Entry {
        std::uint64_t folded[2] = {0, 0};
        std::uint64_t exact[2] = {0, 0};
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
        int decoded = -1; // index into m_decoded, or -1 for plain ASCII
    };

    QString text(const Entry &e) const;
    bool less(const Entry &a, const Entry &b) const;
    bool lessBeyondKeys(const Entry &a, const Entry &b) const;

    std::string m_bytes;
    std::vector<Entry> m_entries;
    std::vector<QString> m_decoded;
};

} // namespace deckrun::posix
