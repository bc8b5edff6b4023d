// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How a deck is printed: what goes on the paper (slides, handouts, notes,
// the outline), in what colour, which slides, how many copies on which sides.
// A deck keeps its own choices in its file; a run without a window may ask
// for others (`--layout handouts-6 --sides long-edge ...`), and what the run
// asks wins over what the deck says, one setting at a time.

#include "platform/PrintLayout.h"

#include <QString>

#include <optional>

namespace deckrun {

/** Print settings, each unset where nothing was said (the default then holds). */
struct PrintSettings {
    std::optional<PrintLayout> layout;
    std::optional<PrintColor> color;
    /** Hidden slides printed too. */
    std::optional<bool> hiddenSlides;
    /** A frame around each slide (on handouts, a border around each). */
    std::optional<bool> frameSlides;
    /** Each slide scaled to fill the paper. */
    std::optional<bool> fitToPaper;
    std::optional<int> copies;
    std::optional<bool> collate;
    std::optional<PrintSides> sides;
    /** Slide numbers and ranges, "1-3,5"; unset: every slide. */
    std::optional<QString> slides;

    /** These settings with every one that `over` says in place of this one's. */
    PrintSettings overriddenBy(const PrintSettings &over) const
    {
        PrintSettings merged = *this;
        const auto take = [](auto &mine, const auto &theirs) {
            if (theirs)
                mine = theirs;
        };
        take(merged.layout, over.layout);
        take(merged.color, over.color);
        take(merged.hiddenSlides, over.hiddenSlides);
        take(merged.frameSlides, over.frameSlides);
        take(merged.fitToPaper, over.fitToPaper);
        take(merged.copies, over.copies);
        take(merged.collate, over.collate);
        take(merged.sides, over.sides);
        take(merged.slides, over.slides);
        return merged;
    }

    /** True when nothing is said: the deck prints as the application prints it by default. */
    bool isEmpty() const
    {
        return !layout && !color && !hiddenSlides && !frameSlides && !fitToPaper && !copies &&
               !collate && !sides && !slides;
    }

    friend bool operator==(const PrintSettings &, const PrintSettings &) = default;
};

} // namespace deckrun
