// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The print settings a run asks for, as PowerPoint's print options
// (`Presentation.PrintOptions`): each setting asked for is set through the
// option its row names (platform/PrintSettings.h) and read back (PowerPoint
// may take a value without keeping it), and every one is read as PowerPoint
// then has it, so that the run log says what was printed with. What the run
// does not ask for is left as the deck's own saved settings have it. Free of
// Qt and of the Windows headers.

#include "platform/PrintSettings.h"

namespace deckrun::com {

class Dispatch;

/** Print settings as PowerPoint takes them; two-sided printing is the printer's, not PowerPoint's.
 */
using PrintRequest = PrintSettings;

/**
 * Sets each print option `asked` says on `options`, in its apartment, and
 * reads it back: a value PowerPoint does not keep fails with ComError naming
 * the option ("PrintOptions.NumberOfCopies : ... did not keep 2; it has 1.").
 * Slides asked for set `RangeType` 4 (a slide range) and the ranges.
 */
void applyPrintOptions(const Dispatch &options, const PrintRequest &asked);

/** Every print option as PowerPoint has it now; the slides unset when every slide prints. */
PrintRequest readPrintOptions(const Dispatch &options);

} // namespace deckrun::com
