// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program's command line, read once, before any application object
// exists: `deckrun [FILE|FOLDER]...` opens the window and queues what it
// names (a file manager's "Open With Deckrun"); `--print` and `--watch` run
// without a window; `--help` and `--version` answer on the terminal.

#include "platform/PrintSettings.h"

#include <QHash>
#include <QStringList>

#include <optional>
#include <variant>

class QCommandLineParser;

namespace deckrun {

/** What the command line asks Deckrun to do. */
enum class RunMode { Window, Help, Version, Print, Watch };

/** The command line as read: what to do, on what, with which options. */
struct CommandLine {
    RunMode mode = RunMode::Window;
    /** The files and folders named, as local paths, in order. */
    QStringList paths;
    /** Names given whose bytes are no text (not UTF-8), as shown. */
    QStringList unreadable;
    std::optional<QString> printer;
    std::optional<int> pause;
    /** Files taken from folders match "*." followed by this. */
    QString extension = QStringLiteral("ppt");
    bool yes = false;
    bool fast = false;
    /** --print waits until every job has ended at the printer, or stopped there. */
    bool wait = false;
    int jobs = 1;
    /** The folder `--watch` watches. */
    QString watch;
    /** Seconds a watched file must rest before it is taken; none: the default. */
    std::optional<int> settle;
    /** A watcher fails the files while the printer is down, rather than hold them. */
    bool failWhenPrinterDown = false;
    /** How each deck prints, over what the deck's own print settings say. */
    PrintSettings settings;
};

/** The exit status for a command line that cannot be run. */
inline constexpr int BadArgumentsStatus = 2;

/**
 * Reads `arguments` (the program's name first; see programArguments()).
 * A command line that cannot be run is said on standard error, with where
 * the help is, and gives its exit status instead. `undecodable` maps each
 * argument whose bytes are not UTF-8 (its text has lost them) to those bytes.
 */
std::variant<CommandLine, int> readCommandLine(const QStringList &arguments,
                                               const QHash<QString, QByteArray> &undecodable = {});

/**
 * Answers `--help` or `--version` on standard output, before any window or
 * display is needed; gives the exit status.
 */
int answerHelpOrVersion(RunMode mode);

/** The options and arguments the program knows, with the texts `--help` shows. */
void describeCommandLine(QCommandLineParser &parser);

/** "Try 'deckrun --help' for more information." */
QString helpHint();

/** Gives the program its organisation, name and version, as settings and `--version` use them. */
void nameTheProgram();

/**
 * A command-line argument as a path: relative paths made absolute against
 * the current folder, "file:" URLs as local paths, absolute paths as given.
 */
QString pathFromArgument(const QString &argument);

} // namespace deckrun
