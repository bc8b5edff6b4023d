// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The office's documents: the application reference the print run drives
// (open, the active presentation, the printer, print, quit) on one running
// office.

#include "platform/PresentationApp.h"

#include <memory>

namespace deckrun::uno {

struct OfficeInstance;

/** An application reference to `office`; the last one dropped without Quit stops it. */
std::shared_ptr<PresentationApp> makeUnoApp(std::shared_ptr<OfficeInstance> office);

} // namespace deckrun::uno
