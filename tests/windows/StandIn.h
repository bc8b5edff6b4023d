// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The stand-in automation server as the PowerPoint backend's tests use it:
// registered once for a test program as "PowerPoint.Application", scripted
// and read per test (StandIn), and one file driven through the print run's
// automation steps (printFile).

#include "platform/com/PowerPointAutomation.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

std::wstring programFolder();
/** Runs a program and waits for its exit code (at most a minute); -1 when it did not start. */
int runProgram(const std::wstring &commandLine);
std::string utf8(const std::wstring &text);
double secondsSince(std::chrono::steady_clock::time_point start);

/** The deadline cap every call of the product reads; empty: none. */
void capDeadlines(const std::string &seconds);

/** A step of the print run that failed: its number, what it said, how long it took. */
struct FailedStep {
    int step;
    std::wstring said;
    long code;
    double seconds;
};

std::ostream &operator<<(std::ostream &out, const std::vector<FailedStep> &failed);

/**
 * One file through the print run's automation steps (120 to 138) in its
 * order, a failing step noted and the next one run, as the run does; step
 * 130 asks for `asked` and gives what PowerPoint printed with.
 */
std::vector<FailedStep> printFile(deckrun::com::PowerPointAutomation &office,
                                  const std::wstring &path,
                                  const std::wstring &printer = L"Deckrun Test Printer",
                                  const deckrun::com::PrintRequest &asked = {},
                                  deckrun::com::PrintRequest *printedWith = nullptr);

/** PowerPointIsRunning's test: the running instance, and its name. */
bool looksRunning(deckrun::com::PowerPointAutomation &office);

/**
 * A user's own PowerPoint, started by hand before Deckrun (the stand-in with
 * /User, and /Dialog for one behind a modal dialog); ended when dropped, as
 * its user would, a failure when it does not end.
 */
class UsersPowerPoint {
public:
    UsersPowerPoint(const std::wstring &folder, bool behindADialog);
    ~UsersPowerPoint();
    UsersPowerPoint(const UsersPowerPoint &) = delete;
    UsersPowerPoint &operator=(const UsersPowerPoint &) = delete;

    /** In the running-object table, ready for clients. */
    bool ready() const { return m_ready; }
    DWORD pid() const { return m_process.dwProcessId; }
    bool alive() const;

private:
    PROCESS_INFORMATION m_process{};
    HANDLE m_end = nullptr;
    bool m_ready = false;
};

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
            deckrun::com::PowerPointAutomation cleanup;
            for (int i = 0; i < 3; ++i) {
                try {
                    cleanup.getRunning()->quit();
                } catch (const deckrun::com::ComError &) {
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
