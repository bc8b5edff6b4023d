// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QStringList>

namespace deckrun {

/**
 * Makes a console that Deckrun writes to show its text, which it writes as
 * UTF-8 (names in any script, on the progress lines and in reports). On
 * Windows the console's output code page becomes UTF-8; POSIX terminals take
 * UTF-8 as it is.
 */
void useUtf8Console();

/**
 * The program's arguments as text, the program's own name first, before any
 * application object exists: on POSIX systems argv decoded as file names are;
 * on Windows from the wide command line, so that no name loses a character to
 * the ANSI code page.
 */
QStringList programArguments(int argc, char **argv);

/**
 * Each argument whose bytes do not survive the way to text and back (a name
 * that is not valid UTF-8), by its text: opened by that text, such a name
 * would be another file or none. Empty on Windows, whose arguments are text.
 */
QHash<QString, QByteArray> undecodableArguments(int argc, char **argv);

} // namespace deckrun
