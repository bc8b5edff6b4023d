// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace deckrun {

/**
 * Thrown by test doubles of ProgramControl::endNow(): it is deliberately not a
 * std::exception, so no step runner swallows it and the handler unwinds.
 */
struct ProgramEnded {};

} // namespace deckrun
