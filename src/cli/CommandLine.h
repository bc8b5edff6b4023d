// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program's command line: `deckrun [FILE|FOLDER]...`. A file manager's
// "Open With Deckrun" starts it with the chosen files; they are queued as if
// they had been dropped on the list, once the window has started.

#include <QStringList>

#include <optional>

class QCommandLineParser;

namespace deckrun {

/** The options and arguments the program knows, with the texts `--help` shows. */
void DescribeCommandLine(QCommandLineParser &parser);

/**
 * Says on standard error why `parser` refused `arguments` (its error text
 * after "deckrun: "), how an unknown option that is a file's name goes in
 * (after "--"), and where the help is.
 */
void SayCommandLineError(const QCommandLineParser &parser, const QStringList &arguments);

/** "Try 'deckrun --help' for more information." */
QString HelpHint();

/** The exit status for a command line that cannot be run. */
inline constexpr int BadArgumentsStatus = 2;

/** Gives the program its organisation, name and version, as settings and `--version` use them. */
void NameTheProgram();

/**
 * A command-line argument as a path: relative paths made absolute against
 * the current folder, "file:" URLs as local paths, absolute paths as given.
 */
QString PathFromArgument(const QString &argument);

/**
 * Answers `--help` and `--version` on standard output and gives the exit
 * status, before any window or display is needed; none when neither was asked.
 */
std::optional<int> AnswerHelpOrVersion(int argc, char **argv);

/**
 * The files and folders named by `arguments` (the program's own, Qt's options
 * taken out), in order: relative paths made absolute against the current
 * folder, "file:" URLs as local paths. An unknown option ends the program with
 * status 2 and a message.
 */
QStringList CommandLinePaths(const QStringList &arguments);

} // namespace deckrun
