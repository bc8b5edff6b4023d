// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/common/OneLine.h"

namespace deckrun {

QString oneLine(const QString &name)
{
    QString shown;
    shown.reserve(name.size());
    for (qsizetype k = 0; k < name.size(); ++k) {
        const QChar c = name.at(k);
        const char16_t u = c.unicode();
        // A byte of a name that is no text (readableName()), as its number.
        const bool byte =
            u >= 0xDC80 && u <= 0xDCFF && (k == 0 || !name.at(k - 1).isHighSurrogate());
        if (byte)
            shown += QStringLiteral("\\x") + QString::number(u - 0xDC00, 16).toUpper();
        else if (u == u'\\')
            shown += QLatin1String("\\\\");
        else if (u == u'\n')
            shown += QLatin1String("\\n");
        else if (u == u'\r')
            shown += QLatin1String("\\r");
        else if (u == u'\t')
            shown += QLatin1String("\\t");
        else if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            shown += QStringLiteral("\\x") +
                     QString::number(u, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

} // namespace deckrun
