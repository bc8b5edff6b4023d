// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Print settings as people and scripts write them: on the command line
// (`--layout handouts-6 --color gray --sides long-edge --slides 1-3,5`) and
// in the run log.

#include "platform/PrintSettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace deckrun {

/** "slides", "handouts-1" ... "handouts-9", "notes", "outline". */
QString layoutName(PrintLayout layout);
std::optional<PrintLayout> layoutNamed(const QString &name);
/** Every layout's name, in order. */
QStringList layoutNames();

/** "color", "gray", "bw". */
QString colorName(PrintColor color);
std::optional<PrintColor> colorNamed(const QString &name);

/** "one", "long-edge", "short-edge". */
QString sidesName(PrintSides sides);
std::optional<PrintSides> sidesNamed(const QString &name);

/**
 * Whether `range` names slides as a print dialog takes them: numbers from 1
 * and ranges of them, low to high, separated by commas ("1-3,5").
 */
bool isSlideRange(const QString &range);

/** The settings as a JSON object of the set ones ({"layout":"notes","copies":2}). */
QByteArray settingsJson(const PrintSettings &settings);

} // namespace deckrun
