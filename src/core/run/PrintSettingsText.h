// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Print settings as the run log writes them, one JSON member a setting that
// was said, by the rows of platform/PrintSettings.h.

#include "platform/PrintSettings.h"

#include <QByteArray>

namespace deckrun {

/** The settings as a JSON object of the set ones ({"layout":"notes","copies":2}). */
QByteArray settingsJson(const PrintSettings &settings);

} // namespace deckrun
