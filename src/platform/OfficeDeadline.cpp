// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/OfficeDeadline.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string_view>

namespace deckrun {

double officeDeadline(OfficeCall call)
{
    double seconds = 60.0;
    switch (call) {
    case OfficeCall::Start:
        seconds = 120.0;
        break;
    case OfficeCall::RunningCheck:
        seconds = 20.0;
        break;
    case OfficeCall::Load:
        seconds = 600.0; // a deck of thousands of slides on a slow machine
        break;
    case OfficeCall::Printer:
        seconds = 60.0;
        break;
    case OfficeCall::Print:
        seconds = 600.0; // until the job is confirmed
        break;
    case OfficeCall::Quit:
        seconds = 60.0;
        break;
    }
    // Read whatever the locale: "2.5" is two and a half seconds everywhere.
    if (const char *cap = std::getenv("DECKRUN_OFFICE_DEADLINE")) {
        const std::string_view text(cap);
        const auto first = text.find_first_not_of(" \t");
        const auto last = text.find_last_not_of(" \t");
        double value = 0;
        if (first != std::string_view::npos) {
            const auto [end, error] =
                std::from_chars(text.data() + first, text.data() + last + 1, value);
            if (error == std::errc() && end == text.data() + last + 1 && value > 0)
                seconds = std::min(seconds, value);
        }
    }
    return seconds;
}

std::chrono::steady_clock::time_point deadlineAfter(double seconds)
{
    return std::chrono::steady_clock::now() +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(
               std::chrono::duration<double>(seconds));
}

} // namespace deckrun
