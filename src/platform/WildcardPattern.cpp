// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/WildcardPattern.h"

#include <cstring>

namespace deckrun {

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
        if (!ext.contains(QLatin1Char('*')) && !ext.contains(QLatin1Char('?')) &&
            !ext.contains(QLatin1Char('.')))
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
        } else if (p < pattern.size() &&
                   (pattern[p] == QLatin1Char('?') || pattern[p] == folded(name[n]))) {
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

} // namespace deckrun
