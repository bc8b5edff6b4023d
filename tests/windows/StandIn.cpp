// SPDX-License-Identifier: GPL-3.0-or-later
#include "StandIn.h"

#include "core/run/OpenPresentationSteps.h"
#include "platform/com/ComPowerPoint.h"

#include <memory>

using namespace deckrun::com;
using Clock = std::chrono::steady_clock;

namespace {

std::wstring folderOf(const std::wstring &path)
{
    return path.substr(0, path.find_last_of(L'\\'));
}

template <typename P> P &required(const std::shared_ptr<P> &p)
{
    if (!p)
        throw ComError(L"Object variable not set", static_cast<long>(E_POINTER));
    return *p;
}

} // namespace

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

void capDeadlines(const std::string &seconds)
{
    _putenv(("DECKRUN_OFFICE_DEADLINE=" + seconds).c_str());
}

std::ostream &operator<<(std::ostream &out, const std::vector<FailedStep> &failed)
{
    for (const FailedStep &f : failed)
        out << "\n  step " << f.step << " after " << f.seconds << " s: " << utf8(f.said) << " ("
            << std::hex << f.code << std::dec << ")";
    return out;
}

std::vector<FailedStep> printFile(PowerPointAutomation &office, const std::wstring &path,
                                  const std::wstring &printer, const PrintRequest &asked,
                                  PrintRequest *printedWith)
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
    step(130, [&] {
        const PrintRequest now = required(presentation).printOut(asked);
        if (printedWith)
            *printedWith = now;
    });
    step(132, [&] { required(app).quit(); });
    presentation.reset(); // 136
    app.reset();          // 138
    return failed;
}

bool looksRunning(PowerPointAutomation &office)
{
    try {
        return office.getRunning()->name() == L"Microsoft PowerPoint";
    } catch (const ComError &) {
        return false;
    }
}

UsersPowerPoint::UsersPowerPoint(const std::wstring &folder, bool behindADialog)
{
    std::wstring line = L"\"" + programFolder() + L"\\StandInServer.exe\" \"" + folder +
                        L"\" /User" + (behindADialog ? L" /Dialog" : L"");
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &si, &m_process)) {
        ADD_FAILURE() << "the user's stand-in did not start";
        return;
    }
    // The stand-in ends when this event is set; made before it runs, so it is the same one.
    m_end = CreateEventW(nullptr, TRUE, FALSE,
                         (L"DeckrunStandInEnd-" + std::to_wstring(m_process.dwProcessId)).c_str());
    ResumeThread(m_process.hThread);
    CLSID clsid{};
    CLSIDFromProgID(deckrun::com::ComPowerPoint::ProgId, &clsid);
    for (int i = 0; i < 300 && !m_ready && alive(); ++i) {
        IUnknown *running = nullptr;
        if (SUCCEEDED(GetActiveObject(clsid, nullptr, &running)) && running) {
            running->Release();
            m_ready = true;
        } else {
            Sleep(50);
        }
    }
}

UsersPowerPoint::~UsersPowerPoint()
{
    if (!m_process.hProcess)
        return;
    if (m_end)
        SetEvent(m_end);
    if (WaitForSingleObject(m_process.hProcess, 15000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the user's stand-in did not end when asked (process "
                      << m_process.dwProcessId << ")";
        TerminateProcess(m_process.hProcess, 1);
        WaitForSingleObject(m_process.hProcess, 5000);
    }
    if (m_end)
        CloseHandle(m_end);
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
}

bool UsersPowerPoint::alive() const
{
    return m_process.hProcess && WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT;
}
