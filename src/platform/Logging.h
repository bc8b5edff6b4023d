// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

/**
 * One logging category per subsystem, for the places that swallow a failure on
 * purpose (a folder gone between two looks, an office that ends before it
 * answers). Their debug messages are off by default; a developer switches them
 * on with, for example, QT_LOGGING_RULES="deckrun.*.debug=true".
 *
 * The categories are inline functions, like the ones Q_LOGGING_CATEGORY
 * defines, so that every layer can use them without a source file of its own.
 */
namespace deckrun {

#define DECKRUN_LOGGING_CATEGORY(function, name)                                                   \
    inline const QLoggingCategory &function()                                                      \
    {                                                                                              \
        static const QLoggingCategory category(name, QtWarningMsg);                                \
        return category;                                                                           \
    }

/** The window, its handlers and the error reports. */
DECKRUN_LOGGING_CATEGORY(lcApp, "deckrun.app")
/** The command line: what it queued, what it left out. */
DECKRUN_LOGGING_CATEGORY(lcCommandLine, "deckrun.commandline")
/** The presentation application: starting, asking, closing and quitting it. */
DECKRUN_LOGGING_CATEGORY(lcOffice, "deckrun.office")
/** The print service: printers described, jobs followed to their end. */
DECKRUN_LOGGING_CATEGORY(lcPrinter, "deckrun.printer")
/** Adding files to the queue. */
DECKRUN_LOGGING_CATEGORY(lcQueue, "deckrun.queue")
/** The per-user settings store. */
DECKRUN_LOGGING_CATEGORY(lcSettings, "deckrun.settings")
/** The folder walk and the file system under it. */
DECKRUN_LOGGING_CATEGORY(lcWalk, "deckrun.walk")

#undef DECKRUN_LOGGING_CATEGORY

} // namespace deckrun
