// SPDX-License-Identifier: GPL-3.0-or-later
// On Windows the presentation application hands its jobs to the spooler itself.

#include "platform/PrintSpooler.h"

namespace deckrun {

std::unique_ptr<PrintSpooler> makeSystemPrintSpooler()
{
    return nullptr;
}

} // namespace deckrun
