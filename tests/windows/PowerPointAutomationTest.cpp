// SPDX-License-Identifier: GPL-3.0-or-later
// PowerPointAutomation's deadlines and what it stops, against the stand-in
// automation server under Wine: calls that never return or stay busy, a hung
// PowerPoint left running, Deckrun ending mid-call, and a refused printer or
// one accepted but not taken. A call that hangs must end at its deadline with
// PowerPoint stopped, while the test's thread goes on handling its timer ticks
// and posted messages.

#include "StandIn.h"

#include "core/run/OpenPresentationSteps.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace deckrun::com;
using Clock = std::chrono::steady_clock;

namespace {

/**
 * Counts what the test's thread handles while it waits for PowerPoint: the
 * ticks of a timer (every 50 ms) and the messages another thread posts to a
 * window of it (every 50 ms).
 */
class EventCounter {
public:
    EventCounter() : m_thread(GetCurrentThreadId())
    {
        s_counter = this;
        WNDCLASSW type{};
        type.lpfnWndProc = windowProc;
        type.hInstance = GetModuleHandleW(nullptr);
        type.lpszClassName = L"DeckrunEventCounter";
        RegisterClassW(&type);
        m_window = CreateWindowExW(0, type.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   type.hInstance, nullptr);
        m_timer = SetTimer(nullptr, 0, 50, tick);
        m_poster = std::thread([this, window = m_window] {
            while (!m_stop) {
                PostMessageW(window, WM_APP + 1, 0, 0);
                Sleep(50);
            }
        });
    }
    ~EventCounter()
    {
        m_stop = true;
        m_poster.join();
        KillTimer(nullptr, m_timer);
        DestroyWindow(m_window);
        s_counter = nullptr;
    }
    EventCounter(const EventCounter &) = delete;
    EventCounter &operator=(const EventCounter &) = delete;

    int ticks() const { return m_ticks; }
    int posted() const { return m_posted; }

private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD)
    {
        if (s_counter && GetCurrentThreadId() == s_counter->m_thread)
            ++s_counter->m_ticks;
    }
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_APP + 1 && s_counter && GetCurrentThreadId() == s_counter->m_thread) {
            ++s_counter->m_posted;
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    static inline EventCounter *s_counter = nullptr;
    DWORD m_thread;
    HWND m_window = nullptr;
    UINT_PTR m_timer = 0;
    std::thread m_poster;
    std::atomic<bool> m_stop{false};
    int m_ticks = 0;
    int m_posted = 0;
};

/** The automation that ends with Deckrun when closeDeckrun's timer fires. */
PowerPointAutomation *closing = nullptr;

void CALLBACK closeDeckrun(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    if (closing)
        closing->shutdown();
    closing = nullptr;
}

} // namespace

TEST_F(StandIn, StayingBusyPastTheLimitFailsTheCall)
{
    // Busy for good, or each round trip for 1.5 s (a step of several round
    // trips outlives its deadline, though none of them alone does): the step
    // ends at its deadline, PowerPoint is stopped, and the window's thread
    // handled its events meanwhile.
    const struct {
        const char *script;
        long code; // the busy answer, as the server gave it
    } cases[] = {
        {"busy=1000000\nbusy-answer=rejected\n", static_cast<long>(RPC_E_CALL_REJECTED)},
        {"busy-for=1500\nbusy-answer=retry-later\n",
         static_cast<long>(RPC_E_SERVERCALL_RETRYLATER)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script);
        DeleteFileW(log().c_str());
        script(c.script);
        capDeadlines("2");
        PowerPointAutomation office;
        EventCounter events;
        const std::vector<FailedStep> failed = printFile(office, deck());
        ASSERT_FALSE(failed.empty());
        const FailedStep &first = failed.front();
        EXPECT_EQ(first.step, 120);
        EXPECT_EQ(first.said,
                  L"Microsoft PowerPoint did not answer within 2 seconds and was stopped: it "
                  L"stayed busy.")
            << utf8(first.said);
        EXPECT_EQ(first.code, c.code) << std::hex << first.code;
        EXPECT_GE(first.seconds, 1.95);
        EXPECT_LT(first.seconds, 8.0);
        EXPECT_GT(count("busy "), 1); // tried again before giving up
        EXPECT_EQ(count("Application(created).Visible"), 0);
        EXPECT_GE(events.ticks(), 10);
        EXPECT_GE(events.posted(), 10);
        ASSERT_EQ(started().size(), 1u);
        EXPECT_TRUE(hasEnded(started().front(), 1000)); // stopped, not left busy
        capDeadlines("");
    }
}

TEST_F(StandIn, ACallThatNeverReturnsEndsAtItsDeadlineAndTheNextFilePrints)
{
    // The first PowerPoint hangs in one call; the run's next file gets a fresh one.
    const struct {
        const char *member;
        int step;
    } cases[] = {{"Open", 120}, {"ActivePrinter", 126}, {"PrintOut", 130}, {"Quit", 132}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.member);
        DeleteFileW(log().c_str());
        script(std::string("hang=") + c.member + "\nfault-starts=1\n");
        capDeadlines("2");
        PowerPointAutomation office;
        EventCounter events;
        const std::vector<FailedStep> failed = printFile(office, deck());
        ASSERT_FALSE(failed.empty());
        const FailedStep &first = failed.front();
        EXPECT_EQ(first.step, c.step);
        EXPECT_EQ(first.said, L"Microsoft PowerPoint did not answer within 2 seconds and was "
                              L"stopped.")
            << utf8(first.said);
        EXPECT_EQ(first.code, static_cast<long>(RPC_E_TIMEOUT)) << std::hex << first.code;
        EXPECT_GE(first.seconds, 1.95);
        EXPECT_LT(first.seconds, 8.0);
        EXPECT_GE(events.ticks(), 10);
        EXPECT_GE(events.posted(), 10);
        for (const FailedStep &f : failed)
            EXPECT_LT(f.seconds, 8.0) << f.step;
        ASSERT_EQ(started().size(), 1u);
        EXPECT_TRUE(hasEnded(started().front(), 1000));
        // Nothing printed after a printer that may not have been taken.
        if (c.step < 130) {
            EXPECT_EQ(count("Presentation.PrintOut"), 0);
        }

        const std::vector<FailedStep> next = printFile(office, deck());
        EXPECT_TRUE(next.empty()) << next;
        ASSERT_EQ(started().size(), 2u);
        const std::vector<std::string> second = linesOfServer(1);
        EXPECT_NE(std::find(second.begin(), second.end(), "Presentation.PrintOut call ()"),
                  second.end());
        capDeadlines("");
        waitForEnd();
    }
}

// A PowerPoint that does not answer the running check runs (a dialog may be
// open in it): the check says so at its deadline. Deckrun's own is stopped
// when a run needs PowerPoint; a user's is never stopped, and the file that
// needed it fails saying so. Kills a check that takes it for not running, and
// a stop of every PowerPoint (or of the unknown one a create met) at a deadline.
TEST_F(StandIn, APowerPointThatDoesNotAnswerRunsAndOnlyDeckrunsOwnIsStopped)
{
    const struct {
        const char *whose;
        const char *script;
        bool users;
        bool behindADialog;
    } cases[] = {
        {"Deckrun's, hung in Name", "hang=Name\nfault-starts=1\n", false, false},
        {"the user's, behind a dialog", "", true, true},
        {"the user's, hung in Name", "hang=Name\n", true, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.whose);
        DeleteFileW(log().c_str());
        script(c.script);
        PowerPointAutomation office;
        std::unique_ptr<UsersPowerPoint> user;
        if (c.users) {
            user = std::make_unique<UsersPowerPoint>(folder(), c.behindADialog);
            ASSERT_TRUE(user->ready());
        } else {
            office.create()->setVisible(true); // left running, like one an earlier file left
        }
        capDeadlines("2");
        EventCounter events;
        const auto start = Clock::now();
        try {
            office.getRunning()->name();
            ADD_FAILURE() << "it answered";
        } catch (const ComError &e) {
            EXPECT_EQ(e.kind(), ComError::Kind::NotAnswering) << utf8(e.description());
        }
        EXPECT_GE(secondsSince(start), 1.95);
        EXPECT_LT(secondsSince(start), 8.0);
        EXPECT_GE(events.ticks(), 10);
        EXPECT_EQ(office.othersRunning(), c.users);

        const std::vector<FailedStep> failed = printFile(office, deck());
        if (!c.users) {
            EXPECT_TRUE(failed.empty()) << failed;
            EXPECT_TRUE(hasEnded(started().front(), 0));
            EXPECT_EQ(started().size(), 2u);
        } else {
            ASSERT_FALSE(failed.empty());
            EXPECT_EQ(failed.front().step, 120);
            EXPECT_NE(
                failed.front().said.find(L"it was left running, as Deckrun did not start it."),
                std::wstring::npos)
                << utf8(failed.front().said);
            EXPECT_EQ(failed.front().code,
                      static_cast<long>(c.behindADialog ? RPC_E_CALL_REJECTED : RPC_E_TIMEOUT))
                << std::hex << failed.front().code;
            office.shutdown();
            EXPECT_TRUE(user->alive());
            EXPECT_EQ(started(), std::vector<DWORD>{user->pid()}) << "nothing else was started";
        }
        capDeadlines("");
        user.reset();
        waitForEnd();
    }
}

// A user's PowerPoint that a run prints through (the user answered Yes) and
// that hangs in a call fails that file, and is left running. Kills a deadline
// that stops the process the call was for whoever started it.
TEST_F(StandIn, AUsersPowerPointThatHangsInACallFailsTheFileAndIsLeftRunning)
{
    script("hang=PrintOut\n");
    {
        UsersPowerPoint user(folder(), false);
        ASSERT_TRUE(user.ready());
        capDeadlines("2");
        PowerPointAutomation office;
        const std::vector<FailedStep> failed = printFile(office, deck());
        ASSERT_FALSE(failed.empty());
        EXPECT_EQ(failed.front().step, 130);
        EXPECT_EQ(failed.front().said, L"Microsoft PowerPoint did not answer within 2 seconds; it "
                                       L"was left running, as Deckrun did not start it.")
            << utf8(failed.front().said);
        EXPECT_EQ(count("Application(found).Quit"), 0);
        office.shutdown();
        EXPECT_TRUE(user.alive());
        capDeadlines("");
    }
    EXPECT_EQ(started().size(), 1u);
}

TEST_F(StandIn, ShutdownStopsThePowerPointDeckrunStartedEvenMidCall)
{
    {
        // Idle: asked to close.
        PowerPointAutomation office;
        const auto app = office.create();
        office.shutdown();
        ASSERT_EQ(started().size(), 1u);
        EXPECT_TRUE(hasEnded(started().front(), 2000));
        EXPECT_EQ(count("Window.WM_CLOSE"), 1);
    }
    {
        // Hung in PrintOut when Deckrun ends (its window closed mid-run): ended,
        // and the call in hand returns long before its deadline.
        DeleteFileW(log().c_str());
        script("hang=PrintOut\n");
        capDeadlines("60");
        PowerPointAutomation office;
        const auto app = deckrun::openPresentationSteps(office, deck());
        const auto presentation = app->activePresentation();
        app->setActivePrinter(L"Deckrun Test Printer");
        const auto start = Clock::now();
        bool ended = false;
        closing = &office;
        SetTimer(nullptr, 0, 1000, closeDeckrun);
        try {
            presentation->printOut();
        } catch (const ComError &) {
            ended = true;
        }
        EXPECT_TRUE(ended);
        EXPECT_LT(secondsSince(start), 15.0);
        ASSERT_EQ(started().size(), 1u);
        EXPECT_TRUE(hasEnded(started().front(), 2000));
        capDeadlines("");
    }
    {
        // One found running, not started by Deckrun (the user's), is left alone.
        DeleteFileW(log().c_str());
        script("");
        PowerPointAutomation users;
        const auto theirs = users.create();
        PowerPointAutomation office;
        const auto found = office.getRunning();
        office.shutdown();
        ASSERT_EQ(started().size(), 1u);
        EXPECT_FALSE(hasEnded(started().front(), 1000));
        theirs->quit();
    }
}

TEST_F(StandIn, ARefusedPrinterMeansNoPrintOut)
{
    struct Case {
        const char *script;
        const wchar_t *printer;
        std::wstring refused;
        std::wstring said;
    };
    const std::wstring invalid =
        L"PrintOptions.ActivePrinter : Invalid request.  Printer name is not valid.";
    const Case cases[] = {
        {"", L"Nowhere", invalid,
         L"\"Quarterly review.pptx\" was not printed: the printer \"Nowhere\" could not be set."},
        {"", L"", invalid, L"\"Quarterly review.pptx\" was not printed: no printer was chosen."},
        // Accepted without a word, but PowerPoint kept its own printer.
        {"printers=Deckrun Test Printer|Office Laser\nprinter-kept=Office Laser\n",
         L"Deckrun Test Printer",
         L"PrintOptions.ActivePrinter : Microsoft PowerPoint did not take the printer \"Deckrun "
         L"Test Printer\"; it kept \"Office Laser\".",
         L"\"Quarterly review.pptx\" was not printed: the printer \"Deckrun Test Printer\" could "
         L"not be set."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(utf8(c.printer));
        DeleteFileW(log().c_str());
        script(c.script);
        {
            PowerPointAutomation office;
            const std::vector<FailedStep> failed = printFile(office, deck(), c.printer);
            ASSERT_EQ(failed.size(), 2u);
            EXPECT_EQ(failed[0].step, 126);
            EXPECT_EQ(failed[0].said, c.refused) << utf8(failed[0].said);
            EXPECT_EQ(failed[1].step, 130);
            EXPECT_EQ(failed[1].said, c.said) << utf8(failed[1].said);
        }
        waitForEnd();
        EXPECT_EQ(count("Presentation.PrintOut"), 0);
        EXPECT_EQ(count("Application(found).Quit"), 1);
    }
}
