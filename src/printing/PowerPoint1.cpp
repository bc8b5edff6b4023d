// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Form1.h"
#include "app/Handlers.h"

namespace deckrun {

void CheckPowerPointInstalled(Form1 &) {}

} // namespace deckrun
