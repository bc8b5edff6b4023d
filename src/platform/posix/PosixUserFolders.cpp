// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Platform.h"

namespace deckrun {

QString userFoldersProblem()
{
    if (!qEnvironmentVariableIsEmpty("HOME"))
        return {};
    return QStringLiteral("HOME is not set; Deckrun keeps its settings, its office profile and "
                          "its run log under the home folder. Set HOME (for a service, its own "
                          "folder, such as HOME=/var/lib/deckrun).");
}

} // namespace deckrun
