// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace deckrun {

class SettingsStore;

/**
 * The printer the window starts with, as its index in `names` (the printers
 * in the selector's order): the stored name while that printer is installed,
 * else the stored index, else the system's default; none when nothing is
 * stored and there is no default printer. Throws Failure when the stored
 * index is not a number or lies outside the list.
 */
std::optional<int> startingPrinter(SettingsStore &settings, const QStringList &names,
                                   const QString &defaultPrinter);

} // namespace deckrun
