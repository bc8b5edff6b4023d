// SPDX-License-Identifier: GPL-3.0-or-later
// The system's character set is UTF-8: every character is its own code.

#include "platform/CodePage.h"

namespace deckrun {

unsigned systemCharacterCode(char32_t character)
{
    return character == 0xFFFD ? 63u : static_cast<unsigned>(character);
}

} // namespace deckrun
