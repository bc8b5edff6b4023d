// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Console.h"

#include <windows.h>

namespace deckrun {

void UseUtf8Console()
{
    // Without a console (deckrun.exe from Explorer) this does nothing.
    SetConsoleOutputCP(CP_UTF8);
}

} // namespace deckrun
