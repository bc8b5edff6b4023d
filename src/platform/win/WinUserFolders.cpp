// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Platform.h"

namespace deckrun {

// Windows gives every user profile folders of its own (the registry for the
// settings, the local application data folder for the run log), HOME or not.
QString userFoldersProblem()
{
    return {};
}

} // namespace deckrun
