// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What each print setting of a run needs from the printer, by the print
// service's own names: checked against what the printer says it can do
// before anything prints (the window's "Start Printing", `--print`, a
// watcher's start), and read back from what a job carried in the end (the
// user's own defaults and the printer's included), for the run log.

#include "platform/PrintSettings.h"
#include "platform/PrintSpooler.h"

#include <QString>

#include <optional>

namespace deckrun {

/** A setting of a run that its printer cannot print with. */
struct PrinterRefusal {
    QString printer;
    QString option;    // as the command line asks it: "--sides long-edge"
    QString setting;   // as a person names it: "two-sided (long edge)"
    QString supported; // what the printer supports instead: "one-sided"
};

/**
 * The first setting `asked` says that `printer` cannot print with, as the
 * printer describes itself now; none when it prints with all of them, or
 * cannot be described (its jobs then say what is wrong).
 */
std::optional<PrinterRefusal> printerRefusal(PrintSpooler &spooler, const QString &printer,
                                             const PrintSettings &asked);

/** The refusal on a line of its own: printer, option and what it supports. */
QString refusalLine(const PrinterRefusal &refusal);
/** The refusal as the window says it: printer and setting, and that nothing was printed. */
QString refusalMessage(const PrinterRefusal &refusal);

/**
 * `printed` with what the job carried (`carried`, by the service's names) in
 * place of its own, for each setting the printer is asked for: copies, sides,
 * colour. Settings the job does not carry stay as printed.
 */
PrintSettings carriedSettings(const PrintSettings &printed, const JobOptions &carried);

} // namespace deckrun
