// SPDX-License-Identifier: GPL-3.0-or-later
// On Windows the presentation application is PowerPoint, through COM.

#include "platform/Platform.h"
#include "platform/com/ComPresentation.h"

namespace deckrun {

std::unique_ptr<PresentationAutomation> makeSystemPresentationAutomation(Printers &, bool)
{
    return std::make_unique<com::ComAutomation>();
}

} // namespace deckrun
