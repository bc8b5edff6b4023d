// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace deckrun {

/**
 * The code of one character in the system's own character set, as the test
 * for unsafe folder names compares it. On Windows: its byte in the ANSI code
 * page, 63 ("?") when the page lacks the character. On a UTF-8 system: the
 * code point itself, 63 for U+FFFD (bytes that were no character).
 */
unsigned systemCharacterCode(char32_t character);

} // namespace deckrun
