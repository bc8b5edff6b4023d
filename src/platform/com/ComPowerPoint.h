// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// PowerPoint through COM automation, late-bound by member name (IDispatch),
// exactly the calls the print run needs. Free of Qt, so that the Windows
// cross compiler builds it on any machine and its tests run under Wine;
// ComPresentation.cpp wraps it into the presentation application interface.
//
// PowerPoint is another process and can stop answering at any moment (a
// modal dialog, a stuck print driver). So PowerPointAutomation makes every
// call on a single-threaded apartment of its own (one worker thread creates
// PowerPoint and holds every object of it) while the calling (window) thread
// waits, handling its window messages, until the call returns or its deadline
// passes (the deadlines of platform/OfficeDeadline.h). When a deadline passes,
// PowerPoint's process is stopped, the worker is abandoned (never joined), and
// the next call starts on a fresh worker with a fresh PowerPoint. The
// deadlines: creating and showing it, Start; finding the running one and its
// name, RunningCheck; Presentations.Open, Load; ActivePresentation and the
// print options, Printer; PrintOut, Print; Quit and Close, Quit.

#include "platform/OfficeDeadline.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

struct IDispatch;

namespace deckrun::com {

/** A failed automation call, with the description the application gave. */
class ComError : public std::runtime_error {
public:
    ComError(std::wstring description, long code);
    const std::wstring &description() const { return m_description; }
    long code() const { return m_code; }

private:
    std::wstring m_description;
    long m_code;
};

/** One counted reference to an automation object; released when dropped. */
class Dispatch {
public:
    Dispatch() = default;
    /** Takes over a reference the caller already holds. */
    explicit Dispatch(IDispatch *adopted) : m_p(adopted) {}
    Dispatch(const Dispatch &other);
    Dispatch(Dispatch &&other) noexcept;
    Dispatch &operator=(Dispatch other) noexcept;
    ~Dispatch();

    IDispatch *get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    IDispatch *m_p = nullptr;
};

/**
 * The automation surface of PowerPoint, one raw call each, made on the
 * calling thread: PowerPointAutomation makes them on its apartment's thread.
 * Every call throws ComError when it fails. A busy application answers "call
 * rejected" (RPC_E_CALL_REJECTED, RPC_E_SERVERCALL_RETRYLATER); such a call is
 * tried again until it goes through or the deadline of the call in hand has
 * passed (outside PowerPointAutomation there is none: it fails at once).
 */
class ComPowerPoint {
public:
    static constexpr const wchar_t *ProgId = L"PowerPoint.Application";
    static constexpr const wchar_t *Name = L"Microsoft PowerPoint";

    /** Creates an automation object for the ProgID. */
    static Dispatch create();
    /** The running instance registered for the ProgID. */
    static Dispatch getRunning();
    /** The application's default member (dispatch identifier 0): its name. */
    static std::wstring name(const Dispatch &app);
    /**
     * The process behind the application's main window (`HWND`), and that
     * window in `window`; 0 when it has none.
     */
    static unsigned long processId(const Dispatch &app, std::intptr_t *window = nullptr);
    /** `Visible` := true (-1). */
    static void setVisible(const Dispatch &app, bool visible);
    /**
     * `Presentations.Open` with the one named argument "fileName", by
     * reference; `hidden`: also "ReadOnly" and "WithWindow" (msoTrue, msoFalse).
     */
    static void open(const Dispatch &app, const std::wstring &path, bool hidden = false);
    static Dispatch activePresentation(const Dispatch &app);
    /**
     * `ActivePresentation.PrintOptions.ActivePrinter` := printer, then read
     * back: returns the printer the presentation has now.
     */
    static std::wstring setActivePrinter(const Dispatch &app, const std::wstring &printer);
    /** `PrintOptions.PrintInBackground` of a presentation. */
    static void setPrintInBackground(const Dispatch &presentation, bool background);
    /** `PrintOut` without arguments. */
    static void printOut(const Dispatch &presentation);
    /** `Close` of a presentation: the application keeps running. */
    static void closePresentation(const Dispatch &presentation);
    static void quit(const Dispatch &app);

    /**
     * What the apartment's message filter answers when PowerPoint refuses a
     * call as busy (IMessageFilter::RetryRejectedCall): try again after this
     * many milliseconds (100 or more) while `deadline` has not passed, -1
     * (give up) once it has.
     */
    static long retryAfterBusy(std::chrono::steady_clock::time_point now,
                               std::chrono::steady_clock::time_point deadline);
};

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
     * `PrintOut`; refused without a call when the printer of this file could
     * not be set, so that a file never prints on a printer nobody chose.
     */
    void printOut();
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
     * Creates (starts) PowerPoint, under the start deadline. A PowerPoint that
     * did not answer the running check is stopped first: it would take this
     * call too.
     */
    std::shared_ptr<PowerPointApp> create();
    /**
     * The running instance, under the deadline of the running check. One that
     * does not answer in time counts as not running (ComError), and is stopped
     * when a run next needs PowerPoint (create).
     */
    std::shared_ptr<PowerPointApp> getRunning();
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
