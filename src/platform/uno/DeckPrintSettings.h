// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The print settings a deck keeps in its own file. PowerPoint prints a deck as
// they say; LibreOffice leaves them aside when Deckrun prints, so the office
// backend reads them itself (from the file, not through the office) and prints
// accordingly. PresentationML packages keep them in ppt/presProps.xml
// (p:prnPr), OpenDocument presentations in settings.xml (the document's
// configuration items); the older binary format keeps none that are read here.

#include "platform/PrintSettings.h"

#include <QString>

namespace deckrun::uno {

/**
 * The print settings `path` keeps in its file; nothing set where it says
 * nothing, cannot be read, or is of a kind that keeps none readable here.
 * Never throws.
 */
PrintSettings deckPrintSettings(const QString &path);

} // namespace deckrun::uno
