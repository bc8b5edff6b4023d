// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Dialogs.h"
#include "platform/EventLoop.h"
#include "platform/FileHandover.h"
#include "platform/FileSystem.h"
#include "platform/PresentationAutomation.h"
#include "platform/PrintSpooler.h"
#include "platform/Printers.h"
#include "platform/ProgramControl.h"
#include "platform/RunLog.h"
#include "platform/SettingsStore.h"
#include "platform/Shell.h"

#include <memory>

namespace deckrun {

/** Every service the logic reaches the system through. Tests fill it with doubles. */
struct Platform {
    std::unique_ptr<Dialogs> dialogs;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<Shell> shell;
    std::unique_ptr<EventLoop> events;
    std::unique_ptr<FileSystem> files;
    /** The files of a watched folder: claiming, locking, moving out. */
    std::unique_ptr<FileHandover> handover;
    std::unique_ptr<Printers> printers;
    /** Where print jobs go and are looked up; none where the application prints itself. */
    std::unique_ptr<PrintSpooler> spooler;
    std::unique_ptr<PresentationAutomation> office;
    std::unique_ptr<ProgramControl> program;
    /** Where print runs record each file's outcome; none: nothing is recorded. */
    std::unique_ptr<RunLog> runLog;
};

/**
 * The real services of the system Deckrun runs on, with `dialogs` (none: the
 * window's Qt dialogs). `windowless` (a run without a window) keeps the
 * presentation application's own window hidden too.
 */
std::unique_ptr<Platform> makeSystemPlatform(std::unique_ptr<Dialogs> dialogs = nullptr,
                                             bool windowless = false);

/** Builders that each operating system's folder provides. */
std::unique_ptr<FileSystem> makeSystemFileSystem();
/**
 * The presentation application of this build; it asks `printers` which
 * printers exist and hands its jobs to `spooler` (none: the application
 * prints itself). `windowless`: it never shows a window of its own.
 */
std::unique_ptr<PresentationAutomation>
makeSystemPresentationAutomation(Printers &printers, PrintSpooler *spooler, bool windowless);
/** Whether this build's presentation application prints `layout` (the help lists only those). */
bool systemPrints(PrintLayout layout);
/**
 * Why the user's own folders (settings, the office's profile, the run log)
 * cannot be placed, in a sentence; empty when they can. On POSIX systems they
 * live under HOME, which a service or `env -i` may leave unset; Windows gives
 * every user a profile of its own.
 */
QString userFoldersProblem();

} // namespace deckrun
