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

} // namespace deckrun
