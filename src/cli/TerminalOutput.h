// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the runs without a window (`--print`, `--watch`) write for people and
// scripts: lines of their own on standard output and standard error, in
// UTF-8, each flushed at once.

#include "core/common/OneLine.h"

#include <QString>

namespace deckrun {

/** "deckrun: TEXT" on standard error. */
void sayError(const QString &text);
/** TEXT on standard output. */
void sayOut(const QString &text);
/** A message as a terminal or a text file shows it: carriage returns, alone or before a line feed,
 * as line breaks. */
QString plainText(const QString &text);

} // namespace deckrun
