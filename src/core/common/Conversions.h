// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>

namespace deckrun {

/**
 * Converts stored text to a 16-bit whole number the way the stored settings
 * were always read: surrounding blanks allowed, fractions rounded half to
 * even. Throws Failure "Type mismatch" (13) for text that is no number and
 * "Overflow" (6) outside -32768 to 32767.
 */
std::int16_t ToInteger16(const QString &text);

/** Selects `index` in a selector with `count` entries; -1 selects none. Throws when invalid. */
void checkSelectorIndex(int index, int count);

} // namespace deckrun
