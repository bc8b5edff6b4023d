// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The print settings a run asks for, as PowerPoint's print options
// (`Presentation.PrintOptions`): what each setting is in PowerPoint's numbers,
// each one asked for set and read back (PowerPoint may take a value without
// keeping it), and every one read as PowerPoint then has it, so that the run
// log says what was printed with. What the run does not ask for is left as the
// deck's own saved settings have it. Free of Qt and of the Windows headers:
// ComPresentation.cpp turns PrintSettings into a PrintRequest and back.

#include "platform/PrintLayout.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace deckrun::com {

class Dispatch;

/** Slides `first` to `last`, counted from 1. */
using SlideRange = std::pair<long, long>;

/** Print settings without Qt, each unset where nothing was asked (or read); the slides as ranges.
 */
struct PrintRequest {
    std::optional<PrintLayout> layout;
    std::optional<PrintColor> color;
    std::optional<bool> hiddenSlides;
    std::optional<bool> frameSlides;
    std::optional<bool> fitToPaper;
    std::optional<int> copies;
    std::optional<bool> collate;
    /** Asked: these slides alone. Read back: unset when every slide prints. */
    std::optional<std::vector<SlideRange>> slides;

    friend bool operator==(const PrintRequest &, const PrintRequest &) = default;
};

/** "1-3,5" as ranges; none when the text is not slide numbers and ranges. */
std::optional<std::vector<SlideRange>> slideRangesOf(const std::string &text);
/** Ranges as "1-3,5" (a range of one slide as its number). */
std::string slidesText(const std::vector<SlideRange> &ranges);

/**
 * `OutputType` (PpPrintOutputType): 1 slides; handouts of 1, 2, 3, 4, 6 and
 * 9 slides a page 10, 2, 3, 8, 4 and 9; 5 notes pages; 6 the outline.
 */
long outputTypeOf(PrintLayout layout);
/** The layout of an `OutputType`; none for one Deckrun has no name for (build slides, 7). */
std::optional<PrintLayout> layoutOf(long outputType);
/** `PrintColorType` (PpPrintColorType): 1 colour, 2 grayscale, 3 pure black and white. */
long colorTypeOf(PrintColor color);
std::optional<PrintColor> colorOf(long colorType);

/**
 * Sets each print option `asked` says on `options`, in its apartment, and
 * reads it back: a value PowerPoint does not keep fails with ComError naming
 * the option ("PrintOptions.NumberOfCopies : ... did not keep 2; it has 1.").
 * Slides asked for set `RangeType` 4 (a slide range) and the ranges.
 */
void applyPrintOptions(const Dispatch &options, const PrintRequest &asked);

/** Every print option as PowerPoint has it now. */
PrintRequest readPrintOptions(const Dispatch &options);

} // namespace deckrun::com
