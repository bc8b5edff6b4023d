// SPDX-License-Identifier: GPL-3.0-or-later
// The PowerPoint backend against the stand-in automation server, out of
// process, under Wine: one file's calls through the product's own
// OpenPresentation steps, the calls the server recorded (and through which of
// its objects), and its faults: an open that raises, a refused printer or one
// accepted but not taken, busy answers, calls that never return, a hung
// PowerPoint left running, no registration at all. A call that hangs must end
// at its deadline with PowerPoint stopped, while the test's thread goes on
// handling its timer ticks and posted messages.

#include "core/run/OpenPresentationSteps.h"
#include "platform/com/ComPowerPoint.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace deckrun::com;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

std::wstring folderOf(const std::wstring &path)
{
    return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring programFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return folderOf(path);
}

int runProgram(const std::wstring &commandLine)
{
    std::wstring line = commandLine;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return -1;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

std::string utf8(const std::wstring &text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/** The deadline cap every call of the product reads; empty: none. */
void capDeadlines(const std::string &seconds)
{
    _putenv(("DECKRUN_OFFICE_DEADLINE=" + seconds).c_str());
}

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

/** A step of the print run that failed: its number, what it said, how long it took. */
struct FailedStep {
    int step;
    std::wstring said;
    long code;
    double seconds;
};

std::ostream &operator<<(std::ostream &out, const std::vector<FailedStep> &failed)
{
    for (const FailedStep &f : failed)
        out << "\n  step " << f.step << " after " << f.seconds << " s: " << utf8(f.said) << " ("
            << std::hex << f.code << std::dec << ")";
    return out;
}

template <typename P> P &required(const std::shared_ptr<P> &p)
{
    if (!p)
        throw ComError(L"Object variable not set", static_cast<long>(E_POINTER));
    return *p;
}

/**
 * One file through the print run's automation steps (120 to 138) in its
 * order, a failing step noted and the next one run, as the run does.
 */
std::vector<FailedStep> printFile(PowerPointAutomation &office, const std::wstring &path,
                                  const std::wstring &printer = L"Deckrun Test Printer")
{
    std::vector<FailedStep> failed;
    std::shared_ptr<PowerPointApp> app;
    std::shared_ptr<PowerPointPresentation> presentation;
    const auto step = [&](int number, auto &&body) {
        const auto start = Clock::now();
        try {
            body();
        } catch (const ComError &e) {
            failed.push_back({number, e.description(), e.code(), secondsSince(start)});
        }
    };
    step(120, [&] { app = deckrun::openPresentationSteps(office, path); });
    step(122, [&] { presentation = required(app).activePresentation(); });
    step(126, [&] { required(app).setActivePrinter(printer); });
    step(128, [&] { required(presentation).setPrintInBackground(false); });
    step(130, [&] { required(presentation).printOut(); });
    step(132, [&] { required(app).quit(); });
    presentation.reset(); // 136
    app.reset();          // 138
    return failed;
}

/** The stand-in server: registered once for all tests, scripted and read per test. */
class StandIn : public testing::Test {
public:
    static void SetUpTestSuite()
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder() =
            std::wstring(temp) + L"deckrun-standin-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder().c_str(), nullptr);
        ASSERT_EQ(registration(L"/RegServer \"" + folder() + L"\""), 0);
        // As under Qt: the window's thread is a single-threaded apartment of its own.
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    static void TearDownTestSuite()
    {
        registration(L"/UnregServer");
        DeleteFileW((folder() + L"\\script.txt").c_str());
        DeleteFileW((folder() + L"\\calls.log").c_str());
        RemoveDirectoryW(folder().c_str());
        CoUninitialize();
    }

protected:
    void SetUp() override
    {
        capDeadlines("");
        _putenv("DECKRUN_STANDIN_SCRIPT=");
        script("");
        DeleteFileW(log().c_str());
    }
    void TearDown() override
    {
        // A stand-in left running (an open that failed is not quit) is ended here.
        capDeadlines("5");
        {
            PowerPointAutomation cleanup;
            for (int i = 0; i < 3; ++i) {
                try {
                    cleanup.getRunning()->quit();
                } catch (const ComError &) {
                    break;
                }
            }
        }
        capDeadlines("");
        waitForEnd();
    }

    static std::wstring &folder()
    {
        static std::wstring f;
        return f;
    }
    static int registration(const std::wstring &args)
    {
        return runProgram(L"\"" + programFolder() + L"\\StandInServer.exe\" " + args);
    }
    static std::wstring log() { return folder() + L"\\calls.log"; }

    void script(const std::string &text)
    {
        std::ofstream out((folder() + L"\\script.txt").c_str(), std::ios::binary | std::ios::trunc);
        out << text;
    }

    std::vector<std::string> logLines()
    {
        std::vector<std::string> out;
        std::ifstream in(log().c_str());
        std::string line;
        while (std::getline(in, line))
            out.push_back(line);
        return out;
    }

    /** The calls the server recorded, without its own start and end lines. */
    std::vector<std::string> calls(bool withBusy = false)
    {
        std::vector<std::string> out;
        for (const std::string &line : logLines()) {
            if (line.rfind("started ", 0) == 0 || line.rfind("ended", 0) == 0 ||
                line.rfind("ending: ", 0) == 0)
                continue;
            if (!withBusy && line.rfind("busy ", 0) == 0)
                continue;
            out.push_back(line);
        }
        return out;
    }
    int count(const std::string &prefix)
    {
        int n = 0;
        for (const std::string &line : calls(true))
            n += line.rfind(prefix, 0) == 0;
        return n;
    }
    /** The process numbers of the servers started, in order. */
    std::vector<DWORD> started()
    {
        std::vector<DWORD> pids;
        for (const std::string &line : logLines())
            if (line.rfind("started ", 0) == 0)
                pids.push_back(static_cast<DWORD>(std::stoul(line.substr(8))));
        return pids;
    }
    /** The lines the `n`th server started (from 0) recorded. */
    std::vector<std::string> linesOfServer(size_t n)
    {
        std::vector<std::string> out;
        size_t seen = 0;
        for (const std::string &line : logLines()) {
            if (line.rfind("started ", 0) == 0)
                ++seen;
            else if (seen == n + 1)
                out.push_back(line);
        }
        return out;
    }

    /** Whether the stand-in with this number has ended, waiting at most `ms` for it. */
    static bool hasEnded(DWORD pid, DWORD ms)
    {
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (!process)
            return true;
        wchar_t image[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        const bool standIn = QueryFullProcessImageNameW(process, 0, image, &size) &&
                             std::wstring(image, size).ends_with(L"\\StandInServer.exe");
        const bool ended = !standIn || WaitForSingleObject(process, ms) == WAIT_OBJECT_0;
        CloseHandle(process);
        return ended;
    }

    /**
     * Every started stand-in has ended, its process gone, not only its log
     * closed: nothing is left for the next test, nor behind the test program.
     * One that stays is a failure, and is ended here.
     */
    void waitForEnd()
    {
        for (const DWORD pid : started()) {
            if (hasEnded(pid, 15000))
                continue;
            ADD_FAILURE() << "the stand-in server did not end (process " << pid << ")";
            if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
                TerminateProcess(process, 1);
                WaitForSingleObject(process, 5000);
                CloseHandle(process);
            }
        }
    }

    std::wstring deck() const { return folder() + L"\\Quarterly review.pptx"; }
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

/** PowerPointIsRunning's test: the running instance, and its name. */
bool looksRunning(PowerPointAutomation &office)
{
    try {
        return office.getRunning()->name() == L"Microsoft PowerPoint";
    } catch (const ComError &) {
        return false;
    }
}

} // namespace

TEST_F(StandIn, OneFileGoesThroughTheRunningInstanceInOrder)
{
    {
        PowerPointAutomation office;
        EXPECT_TRUE(printFile(office, deck()).empty());
    }
    waitForEnd();

    // Shown through the created reference, opened, printed and quit through
    // the one found running; each PowerPoint's window asked for its process.
    const std::string path = "\"" + utf8(deck()) + "\"";
    const std::vector<std::string> expected = {
        "CreateInstance",
        "Application(created).HWND get ()",
        "Application(found).HWND get ()",
        "Application(created).Visible put (VT_BOOL -1)",
        "Application(found).Presentations get ()",
        "Presentations.Open call (fileName: VT_BSTR|VT_BYREF " + path + ")",
        "Application(found).ActivePresentation get ()",
        "Application(found).ActivePresentation get ()",
        "Presentation.PrintOptions get ()",
        "PrintOptions.ActivePrinter put (VT_BSTR \"Deckrun Test Printer\")",
        "PrintOptions.ActivePrinter get ()",
        "Presentation.PrintOptions get ()",
        "PrintOptions.PrintInBackground put (VT_BOOL 0)",
        "Presentation.PrintOut call ()",
        "Application(found).Quit call ()",
    };
    EXPECT_EQ(calls(), expected);
    std::cout << "Calls recorded by the stand-in server for one printed file:\n";
    for (const std::string &line : calls())
        std::cout << "  " << line << "\n";
}

TEST_F(StandIn, IsInTheRunningObjectTableWhileItRuns)
{
    PowerPointAutomation office;
    EXPECT_THROW(office.getRunning(), ComError);
    EXPECT_FALSE(looksRunning(office));
    {
        const auto created = office.create();
        EXPECT_EQ(office.getRunning()->name(), L"Microsoft PowerPoint"); // the default member
        EXPECT_TRUE(looksRunning(office));
        created->quit();
    }
    waitForEnd();
    EXPECT_THROW(office.getRunning(), ComError);
}

TEST_F(StandIn, EndsAfterQuitEvenWhileAClientHoldsOn)
{
    PowerPointAutomation office;
    const auto held = office.create();
    office.getRunning()->quit(); // through another reference
    waitForEnd();                // its process is gone although `held` was never released
    std::string last;
    for (const std::string &line : logLines())
        if (line.rfind("ending: ", 0) == 0)
            last = line;
    EXPECT_EQ(last, "ending: clients still held references after Quit");
    EXPECT_THROW(held->name(), ComError); // a call to the ended server fails, it does not hang
}

TEST_F(StandIn, ReportsTheNameItIsGiven)
{
    // From its script file, and from the environment (how a run of the whole
    // program scripts it).
    const struct {
        const char *file;
        const char *environment;
        std::wstring name;
    } cases[] = {
        {"name=Microsoft PowerPoint Viewer\n", "", L"Microsoft PowerPoint Viewer"},
        {"name=Microsoft PowerPoint Viewer\n", "name=Presenter;busy=0", L"Presenter"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.environment);
        DeleteFileW(log().c_str());
        script(c.file);
        _putenv((std::string("DECKRUN_STANDIN_SCRIPT=") + c.environment).c_str());
        PowerPointAutomation office;
        const auto created = office.create();
        EXPECT_EQ(office.getRunning()->name(), c.name);
        EXPECT_EQ(calls().back(), "Application(found).[default] get ()");
        EXPECT_FALSE(looksRunning(office)); // not exactly "Microsoft PowerPoint"
        created->quit();
        waitForEnd();
    }
}

// A run that keeps PowerPoint hidden for many files opens each one read-only
// and without a window: PowerPoint refuses a window while it is hidden.
TEST_F(StandIn, AHiddenOpenIsReadOnlyAndWithoutAWindow)
{
    {
        PowerPointAutomation office;
        const auto app = office.create();
        app->openHidden(deck());
        app->quit();
    }
    waitForEnd();
    EXPECT_EQ(count("Presentations.Open call (WithWindow: VT_I4 0, ReadOnly: VT_I4 -1, fileName: "
                    "VT_BSTR|VT_BYREF \"" +
                    utf8(deck()) + "\")"),
              1);
}

TEST_F(StandIn, AnOpenThatRaisesArrivesWithTheServersDescriptionAndNothingIsQuit)
{
    script("open-error=PowerPoint can't read C:\\decks\\broken.pptx.\n");
    PowerPointAutomation office;
    try {
        deckrun::openPresentationSteps(office, std::wstring(L"C:\\decks\\broken.pptx"));
        FAIL() << "the open went through";
    } catch (const ComError &e) {
        EXPECT_EQ(e.description(), L"PowerPoint can't read C:\\decks\\broken.pptx.");
    }
    // The adapter does not quit the application it made visible.
    EXPECT_EQ(count("Application(created).Quit"), 0);
    EXPECT_EQ(count("Application(found).Quit"), 0);
    EXPECT_EQ(count("Presentations.Open"), 1);
}

TEST_F(StandIn, AnErrorSaysWhatTheApplicationSent)
{
    // An application error number is PowerPoint's, not the system's message of
    // that number (1004 would read "Invalid flags."); a description is whole.
    const struct {
        const char *script;
        std::wstring said;
        long code;
    } cases[] = {
        {"open-error-number=1004\n", L"Microsoft PowerPoint reported error 1004.", 1004},
        {"open-error=Cannot open\\0 the file: it is locked.\n",
         L"Cannot open the file: it is locked.", static_cast<long>(E_FAIL)},
        {"open-error-scode=800A03EC\n", L"Microsoft PowerPoint reported error 0x800A03EC.",
         static_cast<long>(0x800A03ECL)},
        {"open-error=Not a presentation.\nopen-error-scode=80048240\n", L"Not a presentation.",
         static_cast<long>(0x80048240L)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script);
        DeleteFileW(log().c_str());
        script(c.script);
        {
            PowerPointAutomation office;
            const std::vector<FailedStep> failed = printFile(office, deck());
            ASSERT_FALSE(failed.empty());
            EXPECT_EQ(failed.front().step, 120);
            EXPECT_EQ(failed.front().said, c.said) << utf8(failed.front().said);
            EXPECT_EQ(failed.front().code, c.code) << std::hex << failed.front().code;
            office.getRunning()->quit();
        }
        waitForEnd();
    }
}

TEST_F(StandIn, BusyAnswersAreRetriedUntilTheCallGoesThrough)
{
    script("busy=5\n");
    {
        PowerPointAutomation office;
        EXPECT_TRUE(printFile(office, deck()).empty());
    }
    waitForEnd();
    EXPECT_EQ(count("busy "), 5);
    EXPECT_EQ(count("Application(created).Visible put"), 1); // each call went through once
    EXPECT_EQ(count("Presentations.Open"), 1);
    EXPECT_EQ(count("Presentation.PrintOut"), 1);
    EXPECT_EQ(count("Application(found).Quit"), 1);
}

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

TEST_F(StandIn, AHungPowerPointLeftRunningIsNotRunningAndIsStoppedWhenARunNeedsOne)
{
    script("hang=Name\nfault-starts=1\n");
    PowerPointAutomation office;
    // Started, shown and let go: left running, like one an earlier run left behind.
    office.create()->setVisible(true);
    capDeadlines("2");
    EventCounter events;
    const auto start = Clock::now();
    EXPECT_FALSE(looksRunning(office));
    const double checked = secondsSince(start);
    EXPECT_GE(checked, 1.95);
    EXPECT_LT(checked, 8.0);
    EXPECT_GE(events.ticks(), 10);
    EXPECT_GE(events.posted(), 10);
    ASSERT_EQ(started().size(), 1u);

    const std::vector<FailedStep> failed = printFile(office, deck());
    EXPECT_TRUE(failed.empty()) << failed;
    EXPECT_TRUE(hasEnded(started().front(), 0));
    ASSERT_EQ(started().size(), 2u);
    capDeadlines("");
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

TEST_F(StandIn, NotRegisteredMeansNoApplication)
{
    ASSERT_EQ(registration(L"/UnregServer"), 0);
    EXPECT_FALSE(PowerPointAutomation::registered());
    PowerPointAutomation office;
    try {
        office.create();
        ADD_FAILURE() << "created without a registration";
    } catch (const ComError &e) {
        EXPECT_EQ(e.code(), static_cast<long>(CO_E_CLASSSTRING)) << std::hex << e.code();
        EXPECT_FALSE(e.description().empty());
    }
    EXPECT_THROW(office.getRunning(), ComError);
    ASSERT_EQ(registration(L"/RegServer \"" + folder() + L"\""), 0);
    EXPECT_TRUE(PowerPointAutomation::registered());
    EXPECT_EQ(count("started"), 0) << "looking at the registration starts nothing";
    office.create()->quit();
}

TEST(BusyFilter, RetriesALittleLaterUntilTheDeadline)
{
    const auto now = Clock::now();
    EXPECT_EQ(ComPowerPoint::retryAfterBusy(now, now + 5s), 250);
    EXPECT_EQ(ComPowerPoint::retryAfterBusy(now, now + 150ms), 150);
    EXPECT_EQ(ComPowerPoint::retryAfterBusy(now, now + 20ms), 100); // 0 to 99 would be "at once"
    EXPECT_EQ(ComPowerPoint::retryAfterBusy(now, now), -1);
    EXPECT_EQ(ComPowerPoint::retryAfterBusy(now + 1s, now), -1);
}
