// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The requests to end a console program on Windows: Ctrl+C and Ctrl+Break,
// closing the console window, log-off and shut-down. They arrive on threads
// of the system's (the console's handler thread; for log-off and shut-down,
// the window messages of a hidden window on a thread of its own, as a program
// that loads user32 gets no console event for them) and are handed over to
// one receiver, under a lock, so that the receiver is never cleared while a
// request is on its way. Closing, log-off and shut-down end the process once
// their handler returns: the handler waits for the program to end by itself
// (the file in hand ending, PowerPoint quit), asks a second time (stop at
// once) when it does not, and returns only then. Free of Qt: the Qt adapter
// (WinStopSignals.cpp) posts each request to the main thread.

#include <windows.h>

#include <functional>
#include <optional>

namespace deckrun::win {

/** One request to end: the signal it stands for, its name, and whether the process ends after it.
 */
struct ConsoleRequest {
    int signal;       // SIGINT for Ctrl+C, SIGTERM for the others
    const char *name; // "Ctrl+C", "Ctrl+Break", "closing the console", "log-off", "shut-down"
    bool ending;      // the system ends the process once the handler returns
};

/** The request a console control event stands for; none for one that is not handled. */
std::optional<ConsoleRequest> consoleRequest(DWORD event);

/** How long an ending request waits for the program to end, before and after asking again. */
struct EndingGrace {
    DWORD first = 2000;
    DWORD second = 2500; // within the five seconds the system gives
};

/**
 * The one receiver of the console's requests. `deliver` is called on the
 * system's thread, never after uninstall() returned, and must only hand
 * the request over (post it), never block.
 */
class ConsoleControl {
public:
    using Deliver = std::function<void(const ConsoleRequest &)>;

    /** Installs the handlers (the console's, and the hidden window for log-off and shut-down). */
    static void install(Deliver deliver, EndingGrace grace = {});
    /** Takes the handlers away; a handler waiting for the program to end returns. */
    static void uninstall();
    /**
     * What a handler does with `request` (called by the handlers; tests call
     * it as the system would): hands it over and, for an ending one, waits
     * as described above. False when nothing receives it.
     */
    static bool handle(const ConsoleRequest &request);
    /**
     * What the hidden window answers to WM_QUERYENDSESSION and WM_ENDSESSION
     * (called by it; tests call it as the system would); 0 for other messages.
     */
    static LRESULT sessionMessage(UINT message, WPARAM wParam, LPARAM lParam);
};

} // namespace deckrun::win
