// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where each slide goes on a sheet of the printer's paper, as PowerPoint
// places them: slides one a sheet, scaled to fit (never cropped) on a sheet
// turned the way the slide is; handouts of 1, 2, 3, 4, 6 or 9 upright on
// portrait sheets, in rows (horizontal order) or columns (vertical), with
// ruled lines for notes beside each slide of 3 a page; notes pages fitted
// to the paper. Positions are PDF points from the sheet's lower left corner.

#include "platform/PrintLayout.h"
#include "platform/PrintSpooler.h"

#include <vector>

namespace deckrun::sheets {

struct Box {
    double x = 0, y = 0, width = 0, height = 0;
    double top() const { return y + height; }
    double right() const { return x + width; }
};

/** A ruled line for notes, from (x1, y) to (x2, y). */
struct Rule {
    double x1 = 0, x2 = 0, y = 0;
};

struct SheetPlan {
    double width = 0, height = 0; // the sheet, turned as it is printed
    /** Where the sheet's slides go, in reading order: the first page of the sheet in slides[0]. */
    std::vector<Box> slides;
    std::vector<Rule> rules;
};

/**
 * The sheet of `layout` on `paper` for pages of `pageWidth` by `pageHeight`
 * points. `fit` enlarges a slide that fits as it is to fill the paper.
 */
SheetPlan planSheet(PrintLayout layout, HandoutOrder order, bool fit, const Paper &paper,
                    double pageWidth, double pageHeight);

/**
 * A page of `width` by `height` scaled into `area` keeping its proportions,
 * centred; only made smaller unless `enlarge`.
 */
Box fitted(const Box &area, double width, double height, bool enlarge);

} // namespace deckrun::sheets
