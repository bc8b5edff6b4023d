// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Which slides of a deck a print takes, decided before the office renders
// any: a range that leaves nothing to print is refused in plain words (the
// office would fail with its own internal text), and slides asked for that
// the deck does not have are left out and named.

#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace deckrun::uno {

/** The slides a print takes of a deck, as the office is asked for them. */
struct SlideChoice {
    /** The slides that exist of those asked for ("2-3"); empty: every slide. */
    std::string range;
    /** Why nothing of the deck can print; empty when something can. */
    QString refusal;
    /** What was asked for and is not there, in a sentence; empty when nothing. */
    QString notice;
};

/**
 * The slides `asked` (none: every slide) of the deck `file` whose slides
 * show as `shown` says (false: hidden); hidden slides count as PowerPoint
 * counts them, and print only when `hiddenToo`.
 */
SlideChoice chooseSlides(const std::optional<std::string> &asked, const std::vector<bool> &shown,
                         bool hiddenToo, const QString &file);

} // namespace deckrun::uno
