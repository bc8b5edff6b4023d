// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// PowerPoint as the print run sees it: the application, its active
// presentation, and the way to them, each call under its deadline. Free of Qt
// and of the Windows headers; ComPresentation.cpp wraps it into the
// presentation application interface.
//
// PowerPoint is another process and can stop answering at any moment (a
// modal dialog, a stuck print driver). So PowerPointAutomation makes every
// call (ComPowerPoint.h) on a single-threaded apartment of its own
// (ComApartment.h: one worker thread creates PowerPoint and holds every object
// of it) while the calling (window) thread waits, handling its window
// messages, until the call returns or its deadline passes (the deadlines of
// platform/OfficeDeadline.h). When a deadline passes, the worker is abandoned
// (never joined) and PowerPoint's process is stopped if Deckrun started it
// (PowerPointProcesses.h); one it did not start (the user's, perhaps behind a
// dialog with unsaved work) is left running and the call fails saying so. The
// next call starts on a fresh worker. The
// deadlines: creating and showing it, Start; finding the running one and its
// name, RunningCheck; Presentations.Open, Load; ActivePresentation and the
// print options, Printer; PrintOut, Print; Quit and Close, Quit.

#include "platform/com/ComError.h"
#include "platform/com/PowerPointPrintOptions.h"

#include <functional>
#include <memory>
#include <string>

namespace deckrun::com {

/** What PowerPointAutomation may tell its user. */
struct ComOptions {
    /** Failures it swallows on purpose (a process that could not be stopped, ...). */
    std::function<void(const std::string &)> log;
};

struct AutomationState;
struct RemoteObject;
struct FileInHand;

/** The application's active presentation, tied to the file of the application it came from. */
class PowerPointPresentation {
public:
    PowerPointPresentation(std::shared_ptr<RemoteObject> presentation,
                           std::shared_ptr<FileInHand> file);
    void setPrintInBackground(bool background);
    /**
     * Each print option `asked` says, set and read back, then `PrintOut`;
     * returns the print options as PowerPoint printed with them. Refused
     * without a call when the printer of this file could not be set, so that
     * a file never prints on a printer nobody chose, and without printing
     * when PowerPoint did not keep an option asked for.
     */
    PrintRequest printOut(const PrintRequest &asked = {});
    /** `Close`, under the deadline of quitting. */
    void close();

private:
    std::shared_ptr<RemoteObject> m_presentation;
    std::shared_ptr<FileInHand> m_file;
};

/**
 * One reference to the application and what the calls of one file share
 * through it: the file opened and a printer that could not be set. Its calls
 * are made in its automation's apartment, each under its deadline.
 */
class PowerPointApp {
public:
    PowerPointApp(std::shared_ptr<RemoteObject> app, std::shared_ptr<FileInHand> file);

    /** The name, under the deadline of the running check. */
    std::wstring name();
    void setVisible(bool visible);
    void open(const std::wstring &path);
    /** `Presentations.Open` read-only and without a window. */
    void openHidden(const std::wstring &path);
    std::shared_ptr<PowerPointPresentation> activePresentation();
    /**
     * Sets the printer and reads it back: a printer PowerPoint accepts but
     * does not take fails here like one it refuses, and nothing prints.
     */
    void setActivePrinter(const std::wstring &printer);
    /** `Quit`; nothing to do when PowerPoint was stopped already. */
    void quit();

private:
    std::shared_ptr<RemoteObject> m_app;
    std::shared_ptr<FileInHand> m_file;
};

/**
 * The way to PowerPoint: create it, find the running one, stop the one
 * Deckrun started. Used from one thread (the window's), which it never
 * blocks: while a call runs, that thread handles its window messages (so
 * Qt's events too), and a call that outlives its deadline stops PowerPoint.
 */
class PowerPointAutomation {
public:
    explicit PowerPointAutomation(ComOptions options = {});
    ~PowerPointAutomation();
    PowerPointAutomation(const PowerPointAutomation &) = delete;
    PowerPointAutomation &operator=(const PowerPointAutomation &) = delete;

    /**
     * Creates (starts) PowerPoint, under the start deadline. A PowerPoint of
     * Deckrun's that did not answer the running check is stopped first: it
     * would take this call too. When the start outlives its deadline, only a
     * PowerPoint that appeared meanwhile is stopped.
     */
    std::shared_ptr<PowerPointApp> create();
    /**
     * The running instance, under the deadline of the running check. One that
     * does not answer in time fails with ComError::Kind::NotAnswering: it runs
     * (behind a dialog, perhaps), and is never stopped unless Deckrun started it.
     */
    std::shared_ptr<PowerPointApp> getRunning();
    /**
     * Whether a PowerPoint runs in this session that Deckrun did not start:
     * a create would hand out that one (PowerPoint runs once per session).
     * Looks at the processes only; calls nothing.
     */
    bool othersRunning();
    /**
     * Whether PowerPoint is registered for automation: its ProgID names a
     * class with a local server. Starts nothing, so that a PowerPoint started
     * only to be looked at is not still ending when a run asks whether one runs.
     */
    static bool registered();
    /**
     * Stops the PowerPoint that Deckrun started, if it still runs: asked to
     * close, then ended. For the end of Deckrun and a run that renews its
     * application; the automation can be used again afterwards.
     */
    void shutdown();

private:
    std::shared_ptr<AutomationState> m_state;
};

} // namespace deckrun::com
