// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/win/WinConsoleControl.h"

#include <csignal>
#include <mutex>
#include <thread>
#include <utility>

namespace deckrun::win {

namespace {

struct Receiver {
    std::mutex lock;
    ConsoleControl::Deliver deliver; // empty once uninstalled
    EndingGrace grace;
    HANDLE ended = nullptr;   // set when the receiver goes: a waiting handler returns
    DWORD windowThreadId = 0; // the thread of the hidden window of log-off and shut-down
    std::thread windowThread;
};

Receiver &receiver()
{
    static Receiver r;
    return r;
}

const wchar_t *const WindowClass = L"DeckrunEndSession";

/** Hands `request` over; false when nothing receives it. */
bool deliver(const ConsoleRequest &request)
{
    Receiver &r = receiver();
    const std::lock_guard held(r.lock);
    if (!r.deliver)
        return false;
    r.deliver(request);
    return true;
}

BOOL WINAPI onConsoleEvent(DWORD event)
{
    const std::optional<ConsoleRequest> request = consoleRequest(event);
    return request && ConsoleControl::handle(*request) ? TRUE : FALSE;
}

LRESULT CALLBACK endSessionProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_QUERYENDSESSION || message == WM_ENDSESSION)
        return ConsoleControl::sessionMessage(message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

/**
 * A hidden top-level window (a message-only one hears no end of the session)
 * and its loop; none without a display (Wine without one), where nothing
 * would end the session anyway.
 */
void serveEndSession(HANDLE made)
{
    WNDCLASSW type{};
    type.lpfnWndProc = endSessionProc;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = WindowClass;
    RegisterClassW(&type);
    const HWND window = CreateWindowExW(0, WindowClass, L"Deckrun", 0, 0, 0, 0, 0, nullptr, nullptr,
                                        type.hInstance, nullptr);
    {
        const std::lock_guard held(receiver().lock);
        receiver().windowThreadId = window ? GetCurrentThreadId() : 0;
    }
    SetEvent(made);
    if (!window)
        return;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    DestroyWindow(window);
}

} // namespace

std::optional<ConsoleRequest> consoleRequest(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        return ConsoleRequest{SIGINT, "Ctrl+C", false};
    case CTRL_BREAK_EVENT:
        return ConsoleRequest{SIGTERM, "Ctrl+Break", false};
    case CTRL_CLOSE_EVENT:
        return ConsoleRequest{SIGTERM, "closing the console", true};
    case CTRL_LOGOFF_EVENT:
        return ConsoleRequest{SIGTERM, "log-off", true};
    case CTRL_SHUTDOWN_EVENT:
        return ConsoleRequest{SIGTERM, "shut-down", true};
    default:
        return std::nullopt;
    }
}

void ConsoleControl::install(Deliver deliver, EndingGrace grace)
{
    Receiver &r = receiver();
    {
        const std::lock_guard held(r.lock);
        r.deliver = std::move(deliver);
        r.grace = grace;
        if (!r.ended)
            r.ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ResetEvent(r.ended);
    }
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    if (!r.windowThread.joinable()) {
        const HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        r.windowThread = std::thread(serveEndSession, made);
        WaitForSingleObject(made, 5000);
        CloseHandle(made);
    }
}

void ConsoleControl::uninstall()
{
    Receiver &r = receiver();
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    DWORD windowThread = 0;
    {
        const std::lock_guard held(r.lock);
        r.deliver = nullptr;
        if (r.ended)
            SetEvent(r.ended);
        windowThread = std::exchange(r.windowThreadId, 0);
    }
    if (r.windowThread.joinable()) {
        // The window's thread ends its loop; one inside a handler returns first (ended is set).
        if (windowThread)
            PostThreadMessageW(windowThread, WM_QUIT, 0, 0);
        r.windowThread.join();
    }
}

LRESULT ConsoleControl::sessionMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_QUERYENDSESSION)
        return TRUE; // the session may end; Deckrun stops when it does
    if (message == WM_ENDSESSION && wParam) {
        const bool logOff = (lParam & ENDSESSION_LOGOFF) != 0;
        handle(*consoleRequest(logOff ? CTRL_LOGOFF_EVENT : CTRL_SHUTDOWN_EVENT));
    }
    return 0;
}

bool ConsoleControl::handle(const ConsoleRequest &request)
{
    if (!deliver(request))
        return false;
    if (!request.ending)
        return true;
    Receiver &r = receiver();
    EndingGrace grace;
    HANDLE ended = nullptr;
    {
        const std::lock_guard held(r.lock);
        grace = r.grace;
        ended = r.ended;
    }
    // The process ends when this returns: the program gets its time to end
    // the file in hand and quit PowerPoint, then is asked to stop at once.
    if (WaitForSingleObject(ended, grace.first) == WAIT_OBJECT_0)
        return true;
    if (deliver(request))
        WaitForSingleObject(ended, grace.second);
    return true;
}

} // namespace deckrun::win
