// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The outline of a deck, as PowerPoint prints it: each slide's number and
// title, with its body text below, indented by level. Impress has no print
// of its own for it, so Deckrun reads the titles and body text through UNO,
// writes them as a drawing of its own (the office's text layout is that of
// Draw; Writer need not be there) and has the office render it to PDF, on
// the printer's paper.

#include "platform/PrintSettings.h"
#include "platform/PrintSpooler.h"
#include "platform/uno/UnoGlue.h"

#include <com/sun/star/lang/XComponent.hpp>

namespace deckrun::uno {

struct OfficeInstance;

/**
 * Renders the outline of `document` (its file `file`, as reports name it) to
 * the new PDF `pdf`, on `paper`: the slides `settings` ask for, hidden ones
 * only when asked. `folder` is the job's own folder for the drawing it is laid out in.
 * Throws Failure, or what the office throws.
 */
void exportOutline(OfficeInstance &office, const Reference<css::lang::XComponent> &document,
                   const QString &file, const QString &pdf, const PrintSettings &settings,
                   const Paper &paper, const QString &folder);

} // namespace deckrun::uno
