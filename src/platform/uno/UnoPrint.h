// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How the office's document is printed: the office renders the deck's
// slides (or notes pages) to PDF, hidden slides and the slides asked for as
// the settings say; Deckrun makes the sheets of the printer's paper from them
// (platform/sheets) and hands those to the print service as one job, with the
// options a sheet cannot carry (copies, collate, two-sided, grayscale). The
// job's id tells it apart later.

#include "platform/Presentation.h"
#include "platform/PrintSpooler.h"
#include "platform/uno/UnoGlue.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/lang/XComponent.hpp>

namespace deckrun::uno {

struct OfficeInstance;

/** The print service's options for `settings`. */
JobOptions jobOptions(const PrintSettings &settings);

/** The PDF export's FilterData for `settings`. */
css::uno::Sequence<css::beans::PropertyValue> pdfExportFilterData(const PrintSettings &settings);

/**
 * Prints `document` of `office` (its file `file`, as reports name it) on the
 * office's chosen printer with the deck's own settings and `asked` over them,
 * as the job `jobName`; the job once the print service has it. Throws Failure
 * with what went wrong.
 */
PrintedJob printDocument(OfficeInstance &office, const Reference<css::lang::XComponent> &document,
                         const QString &file, const PrintSettings &asked, const QString &jobName);

} // namespace deckrun::uno
