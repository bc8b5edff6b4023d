// SPDX-License-Identifier: GPL-3.0-or-later
// The PowerPoint backend against the stand-in automation server, out of
// process, under Wine: one file's calls from opening to quitting, the calls
// the server recorded, and its faults (an open that raises, a refused
// printer, busy answers, no registration at all).

#include "platform/com/ComPowerPoint.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using namespace deckrun::com;
using namespace std::chrono_literals;

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
        ComPowerPoint::setBusyLimit(30s);
        script("");
        DeleteFileW(log().c_str());
    }
    void TearDown() override
    {
        // A stand-in left running (an open that failed is not quit) is ended here.
        ComPowerPoint::setBusyLimit(30s);
        for (int i = 0; i < 3; ++i) {
            try {
                ComPowerPoint::quit(ComPowerPoint::getRunning());
            } catch (const ComError &) {
                break;
            }
        }
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

    /** The calls the server recorded, without its own start and end lines. */
    std::vector<std::string> calls(bool withBusy = false)
    {
        std::vector<std::string> out;
        std::ifstream in(log().c_str());
        std::string line;
        while (std::getline(in, line)) {
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

    /**
     * Every started stand-in has ended, its process gone, not only its log
     * closed: nothing is left for the next test, nor behind the test program.
     * One that stays is a failure, and is ended here.
     */
    void waitForEnd()
    {
        std::ifstream in(log().c_str());
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("started ", 0) != 0)
                continue;
            const DWORD pid = static_cast<DWORD>(std::stoul(line.substr(8)));
            HANDLE process = OpenProcess(
                SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
            if (!process)
                continue; // already gone
            wchar_t image[MAX_PATH] = {};
            DWORD size = MAX_PATH;
            if (!QueryFullProcessImageNameW(process, 0, image, &size) ||
                !std::wstring(image, size).ends_with(L"\\StandInServer.exe")) {
                CloseHandle(process); // gone, and its number taken by another process
                continue;
            }
            if (WaitForSingleObject(process, 15000) != WAIT_OBJECT_0) {
                ADD_FAILURE() << "the stand-in server did not end (process " << pid << ")";
                TerminateProcess(process, 1);
                WaitForSingleObject(process, 5000);
            }
            CloseHandle(process);
        }
    }

    std::wstring deck() const { return folder() + L"\\Quarterly review.pptx"; }
};

/** OpenPresentation: create, find the running instance, show it, open through the running one. */
PowerPointApp openPresentation(const std::wstring &path)
{
    PowerPointApp created = PowerPointApp::create();
    PowerPointApp running = PowerPointApp::getRunning();
    created.setVisible(true);
    running.open(path);
    return running; // the created reference is released on the way out
}

} // namespace

TEST_F(StandIn, OneFileGoesThroughTheRunningInstanceInOrder)
{
    {
        PowerPointApp app = openPresentation(deck());                   // step 120
        PowerPointPresentation presentation = app.activePresentation(); // 122
        app.setActivePrinter(L"Deckrun Test Printer");                  // 126
        presentation.setPrintInBackground(false);                       // 128
        presentation.printOut();                                        // 130
        app.quit();                                                     // 132
    } // 136, 138: both references released
    waitForEnd();

    const std::string path = "\"" + utf8(deck()) + "\"";
    const std::vector<std::string> expected = {
        "CreateInstance",
        "Application.Visible put (VT_BOOL -1)",
        "Application.Presentations get ()",
        "Presentations.Open call (fileName: VT_BSTR|VT_BYREF " + path + ")",
        "Application.ActivePresentation get ()",
        "Application.ActivePresentation get ()",
        "Presentation.PrintOptions get ()",
        "PrintOptions.ActivePrinter put (VT_BSTR \"Deckrun Test Printer\")",
        "Presentation.PrintOptions get ()",
        "PrintOptions.PrintInBackground put (VT_BOOL 0)",
        "Presentation.PrintOut call ()",
        "Application.Quit call ()",
    };
    EXPECT_EQ(calls(), expected);
    std::cout << "Calls recorded by the stand-in server for one printed file:\n";
    for (const std::string &line : calls())
        std::cout << "  " << line << "\n";
}

TEST_F(StandIn, IsInTheRunningObjectTableWhileItRuns)
{
    EXPECT_THROW(ComPowerPoint::getRunning(), ComError);
    {
        PowerPointApp created = PowerPointApp::create();
        const PowerPointApp running = PowerPointApp::getRunning();
        EXPECT_EQ(running.name(), L"Microsoft PowerPoint"); // the default member
        created.quit();
    }
    waitForEnd();
    EXPECT_THROW(ComPowerPoint::getRunning(), ComError);
}

TEST_F(StandIn, EndsAfterQuitEvenWhileAClientHoldsOn)
{
    const PowerPointApp held = PowerPointApp::create();
    ComPowerPoint::quit(ComPowerPoint::getRunning()); // through another reference
    waitForEnd(); // its process is gone although `held` was never released
    std::ifstream in(log().c_str());
    std::string line, last;
    while (std::getline(in, line))
        if (line.rfind("ending: ", 0) == 0)
            last = line;
    EXPECT_EQ(last, "ending: clients still held references after Quit");
    EXPECT_THROW(held.name(), ComError); // a call to the ended server fails, it does not hang
}

TEST_F(StandIn, ReportsTheNameItIsGiven)
{
    script("name=Microsoft PowerPoint Viewer\n");
    PowerPointApp created = PowerPointApp::create();
    EXPECT_EQ(PowerPointApp::getRunning().name(), L"Microsoft PowerPoint Viewer");
    EXPECT_EQ(calls().back(), "Application.[default] get ()");
    created.quit();
}

TEST_F(StandIn, AnOpenThatRaisesArrivesWithTheServersDescriptionAndNothingIsQuit)
{
    script("open-error=PowerPoint can't read C:\\decks\\broken.pptx.\n");
    try {
        openPresentation(L"C:\\decks\\broken.pptx");
        FAIL() << "the open went through";
    } catch (const ComError &e) {
        EXPECT_EQ(e.description(), L"PowerPoint can't read C:\\decks\\broken.pptx.");
    }
    // The adapter does not quit the application it made visible.
    EXPECT_EQ(count("Application.Quit"), 0);
    EXPECT_EQ(count("Presentations.Open"), 1);
}

TEST_F(StandIn, BusyAnswersAreRetriedUntilTheCallGoesThrough)
{
    script("busy=5\n");
    {
        PowerPointApp app = openPresentation(deck());
        PowerPointPresentation presentation = app.activePresentation();
        app.setActivePrinter(L"Deckrun Test Printer");
        presentation.setPrintInBackground(false);
        presentation.printOut();
        app.quit();
    }
    waitForEnd();
    EXPECT_EQ(count("busy "), 5);
    EXPECT_EQ(count("Application.Visible put"), 1); // each call went through once
    EXPECT_EQ(count("Presentations.Open"), 1);
    EXPECT_EQ(count("Presentation.PrintOut"), 1);
    EXPECT_EQ(count("Application.Quit"), 1);
}

TEST_F(StandIn, StayingBusyPastTheLimitFailsTheCall)
{
    script("busy=1000000\n");
    ComPowerPoint::setBusyLimit(1500ms);
    PowerPointApp created = PowerPointApp::create();
    try {
        created.setVisible(true);
        FAIL() << "a busy application took the call";
    } catch (const ComError &e) {
        EXPECT_TRUE(e.code() == static_cast<long>(RPC_E_CALL_REJECTED) ||
                    e.code() == static_cast<long>(RPC_E_SERVERCALL_RETRYLATER))
            << std::hex << e.code();
        EXPECT_NE(e.description().find(L"busy"), std::wstring::npos) << utf8(e.description());
    }
    EXPECT_GT(count("busy "), 1); // tried again before giving up
    EXPECT_EQ(count("Application.Visible"), 0);
    created.quit(); // Quit always goes through
}

TEST_F(StandIn, ARefusedPrinterMeansNoPrintOut)
{
    struct Case {
        const wchar_t *printer;
        std::wstring said;
    };
    const Case cases[] = {
        {L"Nowhere", L"\"Quarterly review.pptx\" was not printed: the printer \"Nowhere\" could "
                     L"not be set."},
        {L"", L"\"Quarterly review.pptx\" was not printed: no printer was chosen."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(utf8(c.printer));
        DeleteFileW(log().c_str());
        {
            PowerPointApp app = openPresentation(deck());
            PowerPointPresentation presentation = app.activePresentation();
            try {
                app.setActivePrinter(c.printer);
                ADD_FAILURE() << "the printer was taken";
            } catch (const ComError &e) {
                EXPECT_EQ(e.description(),
                          L"PrintOptions.ActivePrinter : Invalid request.  Printer name is not "
                          L"valid.");
            }
            presentation.setPrintInBackground(false);
            try {
                presentation.printOut();
                ADD_FAILURE() << "printed on the application's own printer";
            } catch (const ComError &e) {
                EXPECT_EQ(e.description(), c.said);
            }
            app.quit();
        }
        waitForEnd();
        EXPECT_EQ(count("Presentation.PrintOut"), 0);
        EXPECT_EQ(count("Application.Quit"), 1);
    }
}

TEST_F(StandIn, NotRegisteredMeansNoApplication)
{
    ASSERT_EQ(registration(L"/UnregServer"), 0);
    try {
        PowerPointApp::create();
        ADD_FAILURE() << "created without a registration";
    } catch (const ComError &e) {
        EXPECT_EQ(e.code(), static_cast<long>(CO_E_CLASSSTRING)) << std::hex << e.code();
        EXPECT_FALSE(e.description().empty());
    }
    EXPECT_THROW(PowerPointApp::getRunning(), ComError);
    ASSERT_EQ(registration(L"/RegServer \"" + folder() + L"\""), 0);
    PowerPointApp::create().quit();
}
