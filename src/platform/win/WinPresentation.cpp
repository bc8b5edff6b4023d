// SPDX-License-Identifier: GPL-3.0-or-later
// On Windows the presentation application is PowerPoint, through COM.

#include "platform/Platform.h"
#include "platform/com/ComPresentation.h"

namespace deckrun {

std::unique_ptr<PresentationAutomation> makeSystemPresentationAutomation(Printers &, PrintSpooler *,
                                                                         bool)
{
    return std::make_unique<com::ComAutomation>();
}

bool systemPrints(PrintLayout)
{
    return true; // PowerPoint prints every layout itself
}

} // namespace deckrun
