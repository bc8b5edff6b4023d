// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The choices of a print that are names, not numbers or text: the layout of
// each sheet, its colour, its sides. Free of Qt: the Windows automation core
// turns them into PowerPoint's print options.

namespace deckrun {

/** What each sheet shows. */
enum class PrintLayout {
    Slides,
    Handouts1,
    Handouts2,
    Handouts3,
    Handouts4,
    Handouts6,
    Handouts9,
    Notes,
    Outline,
};

enum class PrintColor { Colour, Gray, BlackAndWhite };

enum class PrintSides { OneSided, LongEdge, ShortEdge };

/** The order of the slides on a handout: along the rows first, or down the columns. */
enum class HandoutOrder { Horizontal, Vertical };

/** Slides per sheet of a layout: 1 for slides, notes and the outline. */
inline int slidesPerSheet(PrintLayout layout)
{
    switch (layout) {
    case PrintLayout::Handouts2:
        return 2;
    case PrintLayout::Handouts3:
        return 3;
    case PrintLayout::Handouts4:
        return 4;
    case PrintLayout::Handouts6:
        return 6;
    case PrintLayout::Handouts9:
        return 9;
    default:
        return 1;
    }
}

} // namespace deckrun
