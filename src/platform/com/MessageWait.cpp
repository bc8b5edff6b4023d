// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/com/MessageWait.h"

#include "platform/com/ComDispatch.h"

#include <algorithm>
#include <string>

namespace deckrun::com {

using Clock = std::chrono::steady_clock;

Event::Event(Reset reset)
    : m_h(CreateEventW(nullptr, reset == Reset::Manual ? TRUE : FALSE, FALSE, nullptr))
{
    if (!m_h)
        fail(HRESULT_FROM_WIN32(GetLastError()), std::wstring());
}

void waitForWork(HANDLE wake)
{
    if (MsgWaitForMultipleObjectsEx(1, &wake, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
        WAIT_FAILED) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        fail(hr, L"The automation thread could not wait for work: " + systemText(hr));
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool waitHandlingMessages(HANDLE done, Clock::time_point deadline)
{
    bool quit = false;
    WPARAM quitCode = 0;
    bool signalled = false;
    for (;;) {
        if (WaitForSingleObject(done, 0) == WAIT_OBJECT_0) {
            signalled = true;
            break;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        const DWORD ms = static_cast<DWORD>(std::min<long long>(left, 60000));
        const DWORD woke =
            quit ? WaitForSingleObject(done, ms)
                 : MsgWaitForMultipleObjectsEx(1, &done, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) {
            signalled = true;
            break;
        }
        if (woke == WAIT_FAILED) {
            // A wait that fails fails at once again: going on would spin.
            const DWORD error = GetLastError();
            if (quit)
                PostQuitMessage(static_cast<int>(quitCode));
            fail(HRESULT_FROM_WIN32(error), L"Deckrun could not wait for PowerPoint: " +
                                                systemText(HRESULT_FROM_WIN32(error)));
        }
        MSG msg;
        while (!quit && Clock::now() < deadline && WaitForSingleObject(done, 0) != WAIT_OBJECT_0 &&
               PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = msg.wParam;
                break;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (quit)
        PostQuitMessage(static_cast<int>(quitCode));
    return signalled;
}

} // namespace deckrun::com
