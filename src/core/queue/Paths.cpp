// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/queue/Paths.h"

namespace deckrun {

QString NormalizePath(const QString &path, QChar separator)
{
    const qsizetype n = path.size();
    qsizetype lead = 0;
    while (lead < n && path.at(lead) == separator)
        ++lead;
    const qsizetype keep = lead == 0 ? 0 : (separator == QLatin1Char('\\') ? 2 : 1);

    // Most paths need no change: hand back the same text without copying.
    bool pairInRest = false;
    for (qsizetype i = lead + 1; i < n; ++i) {
        if (path.at(i) == separator && path.at(i - 1) == separator) {
            pairInRest = true;
            break;
        }
    }
    if (lead == keep && !pairInRest)
        return path;

    QString out;
    out.reserve(n);
    out.append(QString(keep, separator));
    for (qsizetype i = lead; i < n; ++i) {
        const QChar c = path.at(i);
        out.append(c);
        if (c == separator && i + 1 < n && path.at(i + 1) == separator)
            ++i; // the pair's second separator goes; the pass goes on after it
    }
    return out;
}

} // namespace deckrun
