// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace deckrun {

/**
 * Makes a console that Deckrun writes to show its text, which it writes as
 * UTF-8 (names in any script, on the progress lines and in reports). On
 * Windows the console's output code page becomes UTF-8; POSIX terminals take
 * UTF-8 as it is.
 */
void UseUtf8Console();

} // namespace deckrun
