// SPDX-License-Identifier: GPL-3.0-or-later
// The console's requests to end, handed in as the system's threads hand them:
// Ctrl+C is handed over and done with; closing the console and log-off end
// the process once their handler returns, so the handler waits for the
// program to end by itself and asks it a second time before it lets go.

#include "platform/win/WinConsoleControl.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace deckrun::win;
using Clock = std::chrono::steady_clock;

// Kills an ending request handled like Ctrl+C (the process ends before the
// file in hand and PowerPoint), one never asked again when the program does
// not end, and log-off unheard by a program that loads user32.
TEST(ConsoleControl, AnEndingRequestWaitsForTheProgramAndAsksAgain)
{
    const struct {
        const char *name;
        bool viaWindow; // log-off, as the hidden window hears it; not a console event
        DWORD event;
        bool programEnds; // the program ends by itself soon after the first request
        std::vector<std::string> delivered;
        double atLeast, below; // seconds the handler took
    } cases[] = {
        {"Ctrl+C", false, CTRL_C_EVENT, false, {"Ctrl+C"}, 0.0, 0.25},
        {"Ctrl+Break", false, CTRL_BREAK_EVENT, false, {"Ctrl+Break"}, 0.0, 0.25},
        {"closing, the program ends",
         false,
         CTRL_CLOSE_EVENT,
         true,
         {"closing the console"},
         0.05,
         0.35},
        {"closing, the program hangs",
         false,
         CTRL_CLOSE_EVENT,
         false,
         {"closing the console", "closing the console"},
         0.55,
         2.0},
        {"log-off, the program hangs", true, 0, false, {"log-off", "log-off"}, 0.55, 2.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::mutex lock;
        std::vector<std::string> delivered;
        std::thread ender;
        ConsoleControl::install(
            [&](const ConsoleRequest &request) {
                const std::lock_guard held(lock);
                delivered.emplace_back(request.name);
                // As the main thread would: it takes the request and ends a little later.
                if (c.programEnds && !ender.joinable())
                    ender = std::thread([] {
                        Sleep(100);
                        ConsoleControl::uninstall();
                    });
            },
            EndingGrace{300, 300});
        const auto start = Clock::now();
        if (!c.viaWindow) {
            EXPECT_TRUE(ConsoleControl::handle(*consoleRequest(c.event)));
        } else {
            // As the hidden window hears it (that window needs a display:
            // the windows-gui label finds it).
            EXPECT_EQ(ConsoleControl::sessionMessage(WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF),
                      TRUE);
            ConsoleControl::sessionMessage(WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        }
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        if (ender.joinable())
            ender.join();
        else
            ConsoleControl::uninstall();
        const std::lock_guard held(lock);
        EXPECT_EQ(delivered, c.delivered);
        EXPECT_GE(took, c.atLeast);
        EXPECT_LT(took, c.below);
    }
    // Once taken away, nothing receives a request: the system's own handling ends the process.
    EXPECT_FALSE(ConsoleControl::handle(*consoleRequest(CTRL_C_EVENT)));
}
