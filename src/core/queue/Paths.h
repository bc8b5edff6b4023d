// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FileSystem.h"

#include <QString>

namespace deckrun {

/**
 * Cleans a path joined from a folder and a name: every pair of separators
 * becomes one, in a single left-to-right pass over non-overlapping pairs (so
 * three in a row become two, four become two). A leading run of separators
 * becomes two backslashes with "\\" (a network path keeps its form) and one
 * slash with "/" (POSIX has no "//server" form). Empty stays empty.
 */
QString NormalizePath(const QString &path, QChar separator = pathSeparator());

} // namespace deckrun
