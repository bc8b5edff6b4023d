// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Deckrun makes the sheets; the printer only prints them. The office renders
// a deck's slides (or notes pages) to PDF, one page each; this places those
// pages on whole sheets of the printer's paper as the layout says (see
// SheetLayout.h), each page kept as vector content (a form XObject placed by
// a matrix: its text stays text), with a thin frame around each slide when
// asked and ruled lines beside the slides of 3 a page. Black and white turns
// the pages' colours to black and white first (BlackAndWhite.h). Links and
// other annotations of the pages are left behind.

#include "platform/PrintLayout.h"
#include "platform/PrintSpooler.h"

#include <QString>

namespace deckrun::sheets {

struct SheetRequest {
    PrintLayout layout = PrintLayout::Slides;
    HandoutOrder order = HandoutOrder::Horizontal;
    bool frame = false;
    bool fit = false;
    bool blackAndWhite = false;
    Paper paper;
};

/**
 * Writes the sheets of the pages in the PDF `pages` to the new file
 * `sheets`, as `request` says. Throws Failure when the pages cannot be read
 * or the sheets written.
 */
void makeSheets(const QString &pages, const QString &sheets, const SheetRequest &request);

} // namespace deckrun::sheets
