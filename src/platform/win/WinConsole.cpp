// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Console.h"

#include <windows.h>

#include <shellapi.h>

namespace deckrun {

void useUtf8Console()
{
    // Without a console (deckrun.exe from Explorer) this does nothing.
    SetConsoleOutputCP(CP_UTF8);
}

QStringList programArguments(int argc, char **argv)
{
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    QStringList arguments;
    if (!wide) {
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        return arguments;
    }
    for (int i = 0; i < count; ++i)
        arguments << QString::fromWCharArray(wide[i]);
    LocalFree(wide);
    return arguments;
}

QHash<QString, QByteArray> undecodableArguments(int, char **)
{
    return {};
}

} // namespace deckrun
