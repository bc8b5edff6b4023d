// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The print run ("Start Printing", PushButton3_Click, declared in
// app/Handlers.h) and the two helpers only it uses.

#include <QString>

#include <cstdint>

namespace deckrun {

class EventLoop;

/** The location the print run's error reports name. */
inline constexpr auto PrintRunLocation = "in Tamberlin2021/08/31.Form1.PushButton3_Click ";

/**
 * Returns after `seconds` have passed on the loop's clock, handling window
 * events meanwhile. It sleeps in the event loop until the next event or the
 * deadline, so the window stays responsive without spinning a core. A pass over
 * midnight is counted; zero or fewer seconds return at once, without pumping.
 */
void WaitSeconds(EventLoop &events, double seconds);

/** The text after the path's last separator; the whole text when it holds none. */
QString FileNameFromPath(const QString &path);

/**
 * The share of files begun, including the one about to print, as a whole
 * percentage rounded down: row `i` of `count` rows. Exact integer arithmetic,
 * so 29 of 100 shows 29; kept within 0 to 100 when rows went missing.
 */
int ProgressPercent(std::int32_t i, std::int32_t count);

/**
 * The seconds of pause a pause text asks for: its first character as a digit.
 * Throws Failure "Type mismatch" (13) when the text does not begin with one.
 */
int PauseDigit(const QString &pauseText);

} // namespace deckrun
