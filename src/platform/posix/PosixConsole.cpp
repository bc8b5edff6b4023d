// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Console.h"

namespace deckrun {

void UseUtf8Console() {}

} // namespace deckrun
