// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/TerminalOutput.h"

#include <cstdio>

namespace deckrun {

void sayError(const QString &text)
{
    std::fprintf(stderr, "deckrun: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

void sayOut(const QString &text)
{
    std::fprintf(stdout, "%s\n", qUtf8Printable(text));
    std::fflush(stdout);
}

QString plainText(const QString &text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

QString oneLine(const QString &name)
{
    QString shown;
    shown.reserve(name.size());
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u == u'\n')
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
