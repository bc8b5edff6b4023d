// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/PresentationAutomation.h"

#include "platform/Failure.h"
#include "platform/Logging.h"

namespace deckrun {

bool PresentationAutomation::isInstalled()
{
    try {
        auto app = create();
        return app != nullptr;
    } catch (const Failure &failure) {
        qCDebug(lcOffice) << "not installed:" << failure.description();
        return false;
    }
}

} // namespace deckrun
