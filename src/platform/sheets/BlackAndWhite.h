// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Black and white as PowerPoint prints it ("pure black and white"): text and
// lines black, fills and backgrounds white, pictures in grayscale. A printer
// asked for monochrome only makes gray of colour, so a dark slide would come
// out a dark block; here the page's own drawing is changed instead.

class QPDF;
class QPDFPageObjectHelper;

namespace deckrun::sheets {

/**
 * Rewrites `page` of `pdf` (and the forms it draws) in black and white: its
 * colours set black for text and strokes and white for fills, shadings left
 * out, its pictures turned gray. Throws what qpdf throws.
 */
void turnBlackAndWhite(QPDF &pdf, QPDFPageObjectHelper &page);

} // namespace deckrun::sheets
