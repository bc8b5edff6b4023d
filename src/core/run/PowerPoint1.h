// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The only code that finds, starts or attaches to the presentation
// application. The print run drives the returned reference itself.

#include <QString>

#include <memory>

namespace deckrun {

class Dialogs;
class FileSystem;
class PresentationApp;
class PresentationAutomation;
struct Platform;

/**
 * Start-up's last step: ends the program with a message when the application
 * cannot be used at all.
 */
void CheckPowerPointInstalled(Platform &platform);

/**
 * True when a running instance is found and reports the backend's own name,
 * or is found and does not answer in time (it runs, behind a dialog perhaps);
 * never throws.
 */
bool PowerPointIsRunning(PresentationAutomation &office);

/**
 * Warns when the application already runs (saying first that it does not
 * answer, when so). Returns true when the run must not go on (the user
 * declined), false when it may.
 */
bool AbortForRunningPowerPoint(PresentationAutomation &office, Dialogs &dialogs);

/** The warning's text, with its lone carriage return and two CR LF pairs. */
QString RunningApplicationWarning(const PresentationAutomation &office);

/** What comes before the warning when the running application does not answer. */
QString NotAnsweringNote(const PresentationAutomation &office);

/** The message shown when the application cannot be used at all. */
QString NotInstalledMessage(const PresentationAutomation &office);

/**
 * Throws Failure when `path` is there but is no file the application could
 * read (a pipe, a device, a folder, a file this user may not read), in the
 * form of the application's own refusals: "<product> could not open "<path>":
 * it is a named pipe (FIFO), not a file." The application is never asked
 * about such a path: a pipe would hold it until its deadline.
 */
void checkPresentationFile(FileSystem &files, const PresentationAutomation &office,
                           const QString &path);

/**
 * Starts or attaches to the application, shows it and opens `path` through
 * the running instance; returns that instance. Failures reach the caller
 * unchanged, and nothing is quit on the way out.
 */
std::shared_ptr<PresentationApp> OpenPresentation(PresentationAutomation &office,
                                                  const QString &path);

} // namespace deckrun
