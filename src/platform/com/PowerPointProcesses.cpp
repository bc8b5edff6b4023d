// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/com/PowerPointProcesses.h"

#include "platform/OfficeDeadline.h"
#include "platform/com/ComPowerPoint.h"
#include "platform/com/ComText.h"
#include "platform/com/MessageWait.h"

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <utility>

namespace deckrun::com {

namespace {

std::wstring registryDefault(const std::wstring &key)
{
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return {};
    wchar_t value[1024] = {};
    DWORD size = sizeof value - sizeof(wchar_t); // room for the NUL it may lack
    DWORD type = 0;
    const LONG rc =
        RegQueryValueExW(h, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    return value;
}

/** Waits, handling messages, until each process has ended or `seconds` have passed. */
bool waitForEnd(const std::vector<HANDLE> &processes, double seconds)
{
    const auto until = deadlineAfter(seconds);
    bool ended = true;
    for (const HANDLE process : processes)
        ended = waitHandlingMessages(process, until) && ended;
    return ended;
}

} // namespace

std::wstring serverImageName()
{
    const std::wstring clsid = registryDefault(std::wstring(ComPowerPoint::ProgId) + L"\\CLSID");
    if (clsid.empty())
        return {};
    std::wstring command = registryDefault(L"CLSID\\" + clsid + L"\\LocalServer32");
    std::wstring path;
    if (!command.empty() && command.front() == L'"') {
        path = command.substr(1, command.find(L'"', 1) - 1);
    } else {
        const std::wstring lower = lowered(command);
        const auto exe = lower.find(L".exe");
        path = exe == std::wstring::npos ? command.substr(0, command.find(L' '))
                                         : command.substr(0, exe + 4);
    }
    const auto slash = path.find_last_of(L"\\/");
    return lowered(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

std::vector<unsigned long> processesOf(const std::wstring &image)
{
    std::vector<unsigned long> found;
    if (image.empty())
        return found;
    DWORD session = 0;
    // Without our own session, every process would seem to be in session 0.
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session))
        return found;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        DWORD theirs = 0;
        if (lowered(entry.szExeFile) == image &&
            ProcessIdToSessionId(entry.th32ProcessID, &theirs) && theirs == session)
            found.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return found;
}

unsigned long appearedSince(const std::vector<unsigned long> &before, const std::wstring &image)
{
    if (image.empty())
        return 0;
    std::vector<unsigned long> appeared;
    for (const unsigned long pid : processesOf(image))
        if (std::find(before.begin(), before.end(), pid) == before.end())
            appeared.push_back(pid);
    return appeared.size() == 1 ? appeared.front() : 0;
}

PowerPointProcess::PowerPointProcess(unsigned long pid, bool ours, std::intptr_t window)
    : m_pid(pid), m_ours(ours), m_window(window)
{
    m_handle = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                           FALSE, pid);
}

PowerPointProcess::~PowerPointProcess()
{
    if (m_handle)
        CloseHandle(m_handle);
}

bool PowerPointProcess::running() const
{
    return m_handle && WaitForSingleObject(m_handle, 0) == WAIT_TIMEOUT;
}

PowerPointProcesses::PowerPointProcesses(std::function<void(const std::string &)> log)
    : m_log(std::move(log)), m_image(serverImageName())
{}

void PowerPointProcesses::log(const std::string &text) const
{
    if (m_log)
        m_log(text);
}

void PowerPointProcesses::forgetEnded()
{
    std::erase_if(m_seen, [](const auto &p) { return !p->running(); });
}

std::shared_ptr<PowerPointProcess> PowerPointProcesses::track(unsigned long pid, bool ours,
                                                              std::intptr_t window)
{
    forgetEnded();
    if (pid == 0)
        return nullptr;
    for (const auto &p : m_seen)
        if (p->pid() == pid)
            return p;
    auto p = std::make_shared<PowerPointProcess>(pid, ours, window);
    if (p->running())
        m_seen.push_back(p);
    return p;
}

bool PowerPointProcesses::ours(unsigned long pid) const
{
    // A process seen is held open: its number stays its own even after it ended.
    return std::any_of(m_seen.begin(), m_seen.end(),
                       [pid](const auto &p) { return p->pid() == pid && p->ours(); });
}

bool PowerPointProcesses::stop(const std::shared_ptr<PowerPointProcess> &process)
{
    if (!process || !process->ours() || !process->m_handle) {
        log(process ? "PowerPoint's process " + std::to_string(process->pid()) +
                          " was left running: Deckrun did not start it"
                    : std::string("a PowerPoint that did not answer was left running: its "
                                  "process is not known to be Deckrun's"));
        return false;
    }
    if (process->running() && !TerminateProcess(process->m_handle, 1))
        log("PowerPoint's process " + std::to_string(process->pid()) + " could not be stopped");
    if (!waitForEnd({process->m_handle}, 5.0))
        log("PowerPoint's process " + std::to_string(process->pid()) +
            " did not end after it was stopped");
    return true;
}

bool PowerPointProcesses::othersRunning()
{
    forgetEnded();
    const std::vector<unsigned long> running = processesOf(m_image);
    return std::any_of(running.begin(), running.end(),
                       [this](unsigned long pid) { return !ours(pid); });
}

void PowerPointProcesses::endOurs()
{
    forgetEnded();
    std::vector<HANDLE> ours;
    for (const auto &p : m_seen) {
        if (!p->ours())
            continue;
        ours.push_back(p->m_handle);
        if (!p->m_quitAsked && p->m_window)
            PostMessageW(reinterpret_cast<HWND>(p->m_window), WM_CLOSE, 0, 0);
    }
    if (!ours.empty() && !waitForEnd(ours, 1.0)) {
        for (const HANDLE h : ours)
            if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT)
                TerminateProcess(h, 1);
        if (!waitForEnd(ours, 5.0))
            log("the PowerPoint Deckrun started did not end when stopped");
    }
    forgetEnded();
}

} // namespace deckrun::com
