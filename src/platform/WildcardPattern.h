// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The wildcard rule of the folder walk ("Add All File(s) In Folder" asks for
// "*." and an extension; a dropped folder is walked with "*.*"). A file system
// without a wildcard listing of its own (POSIX) lists with it.

#include <QString>

namespace deckrun {

/**
 * A file-name wildcard: "*" any run of characters, "?" any one character,
 * letter case ignored. "*" and "*.*" match every name; "*.abc" with a
 * three-letter extension also matches longer extensions beginning with it.
 */
class WildcardPattern {
public:
    explicit WildcardPattern(const QString &pattern);
    bool matches(const QString &name) const;
    /**
     * Decides from a name's raw bytes where that is possible without
     * decoding: 1 matches, 0 does not, -1 needs matches() on the decoded name.
     */
    int matchesRaw(const char *name) const;

private:
    bool m_all = false;
    QString m_pattern;   // case-folded
    QString m_extension; // the three letters of "*.abc", case-folded
};

} // namespace deckrun
