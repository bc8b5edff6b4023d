// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace deckrun {

/**
 * A name as people and logs read it, on one line: control characters as C
 * escapes ("\n", "\x1B") and a backslash doubled, so that no name can begin
 * a line of its own and a name holding "\n" reads apart from one holding a
 * line break. The one escaper of every name shown on standard output,
 * standard error, the service's status and a failed file's report.
 */
QString oneLine(const QString &name);

} // namespace deckrun
