// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How long each call into the presentation application may take before it
// counts as not answering and is stopped; the same for every backend. Free of
// Qt: the Windows automation core uses it too.

#include <chrono>

namespace deckrun {

/** The calls into the presentation application, each with a deadline of its own. */
enum class OfficeCall { Start, RunningCheck, Load, Printer, Print, Quit };

/**
 * Seconds a call may take: generous defaults for large decks on a slow
 * machine, each capped by the environment variable DECKRUN_OFFICE_DEADLINE
 * (seconds) when it is set.
 */
double officeDeadline(OfficeCall call);

/** The moment `seconds` from now on the steady clock. */
std::chrono::steady_clock::time_point deadlineAfter(double seconds);

/** The moment the deadline of `call` passes when it begins now. */
inline std::chrono::steady_clock::time_point deadlineOf(OfficeCall call)
{
    return deadlineAfter(officeDeadline(call));
}

} // namespace deckrun
