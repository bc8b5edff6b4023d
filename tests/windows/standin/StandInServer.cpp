// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the presentation application's automation server, so that the
// COM backend runs against a real out-of-process server under Wine. It answers
// the members the backend calls (the name as default member, HWND, Visible,
// Presentations.Open with the named argument fileName (and ReadOnly and
// WithWindow when given), ActivePresentation, PrintOut, Close, Quit, and of
// PrintOptions: ActivePrinter (put and get), PrintInBackground, OutputType,
// PrintColorType, FrameSlides, PrintHiddenSlides, FitToPage, NumberOfCopies,
// Collate, HandoutOrder, RangeType and Ranges (ClearAll, Add, Count, Item, Start, End)),
// sits in the running-object table while it runs, and writes
// every call with its argument types to calls.log in its folder ("started PID"
// first, "ended" last). The application object a create hands out and the one
// in the running-object table are distinct objects of the one application, so
// the log tells them apart: "Application(created)." and "Application(found).".
// Property puts must come as PowerPoint takes them: the value by value, as the
// one named argument DISPID_PROPERTYPUT; anything else is refused.
//
// It ends once Quit was called (or its window was asked to close) and its
// clients have released what they hold, or when they have let go of it while
// it was never shown (as after the installed check), and in any case: a few seconds after
// Quit, when the process that started it has ended, or after a quiet half
// minute. (Under Wine it keeps its starter's Unix standard error open while
// it runs: the tests' run step gives the test program a file for its output,
// not the caller's pipe.)
//
// What it does is read when it starts, from script.txt in that folder, then
// from the environment variable DECKRUN_STANDIN_SCRIPT (the same lines,
// separated by ";"), a later line overriding an earlier one:
//   name=TEXT             its name (default "Microsoft PowerPoint")
//   printers=A|B          the printers it knows (default "Deckrun Test Printer")
//   open-error=TEXT       Presentations.Open raises with this description ("\0" is a NUL)
//   open-error-number=N   ... with this application error number (EXCEPINFO wCode)
//   open-error-scode=HEX  ... with this result code (EXCEPINFO scode)
//   open-error-file=NAME  ... only for a file of this name (default: every file)
//   printer-kept=NAME     PrintOptions.ActivePrinter takes any known printer without an
//                         error but keeps NAME, and reads back NAME
//   busy=N                the first N calls are answered "call rejected" (Quit always goes through)
//   busy-for=MS           every call is answered "call rejected" until it has been tried for MS
//                         milliseconds (Quit always goes through)
//   busy-answer=WHICH     "rejected" (RPC_E_CALL_REJECTED) or "retry-later"
//                         (RPC_E_SERVERCALL_RETRYLATER) for every busy answer; by default
//                         they take turns, "rejected" first
//   hang=A|B              a call of these members never returns ("PrintOut", "Quit",
//                         "Open", "Name" (also the default member), "ActivePrinter", ...):
//                         the server's thread blocks until it is ended, or until the
//                         process that started it has ended, or two minutes
//   deck=NAME:N|NAME:N    the deck's own print options (OutputType:5|NumberOfCopies:2);
//                         otherwise slides, colour, hidden slides printed, one copy, collated
//   not-kept=A|B          these print options take a value without an error but keep their own
//   slides=N              the deck's slides (default 5), for the slide ranges
//   fault-starts=N        the faults (open-error*, printer-kept, busy, hang, not-kept) hold
//                         for the first N servers started from this folder (counted by the
//                         "started" lines of calls.log); later ones behave
//
// Started by hand with /User, it is a user's own PowerPoint: shown from the
// start, registered for every client (a create hands out this one, as
// PowerPoint runs once per session), and not ending when idle; with /Dialog
// too, a modal dialog is open in it and it answers every call, Quit and
// create included, "busy". Whoever starts one ends it by setting the event
// "DeckrunStandInEnd-PID" (a call hung in it then fails), as every stand-in
// ends when that event is set; /End PID sets it from a shell.
//
// Usage: StandInServer.exe /RegServer FOLDER | /UnregServer | FOLDER -Embedding
//        | FOLDER /User [/Dialog] | /End PID

#include "StandInState.h"

#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

namespace standin {

Server server;

namespace {

// {6C3B1A52-7E0D-4C8F-9B1E-2D5A7F3C9E41}
const CLSID StandInClsid = {
    0x6c3b1a52, 0x7e0d, 0x4c8f, {0x9b, 0x1e, 0x2d, 0x5a, 0x7f, 0x3c, 0x9e, 0x41}};
const wchar_t *const ClsidText = L"{6C3B1A52-7E0D-4C8F-9B1E-2D5A7F3C9E41}";
const wchar_t *const ProgId = L"PowerPoint.Application";

constexpr DWORD IdleLimitMs = 30000;    // no call for this long: nobody is coming back
constexpr DWORD ReleaseLimitMs = 3000;  // after Quit, clients have this long to let go
constexpr DWORD TeardownLimitMs = 5000; // leaving COM must not take longer than this

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **out) override
    {
        server.lastCall = GetTickCount();
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (server.dialog) {
            // Behind a modal dialog a create is refused like any other call.
            server.lastBusy = RPC_E_CALL_REJECTED;
            record(L"busy CreateInstance RPC_E_CALL_REJECTED");
            return server.lastBusy;
        }
        record(L"CreateInstance");
        // An object of its own, so that the log tells it from the one found running.
        IDispatch *created = newObject(Kind::CreatedApplication);
        const HRESULT hr = created->QueryInterface(iid, out);
        created->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

/** Its main window: asked to close, it leaves as after Quit. */
LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        server.lastCall = GetTickCount();
        record(L"Window.WM_CLOSE");
        leave();
        if (noClientLeft())
            endLoop();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeWindow()
{
    WNDCLASSW type{};
    type.lpfnWndProc = windowProc;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = L"DeckrunStandInPowerPoint";
    RegisterClassW(&type);
    return CreateWindowExW(0, type.lpszClassName, L"Stand-in PowerPoint", 0, 0, 0, 0, 0,
                           HWND_MESSAGE, nullptr, type.hInstance, nullptr);
}

std::wstring exePath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

bool setDefault(const std::wstring &key, const std::wstring &value)
{
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const LONG rc =
        RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

int registerServer(const std::wstring &folder)
{
    const std::wstring clsidKey = std::wstring(L"CLSID\\") + ClsidText;
    const bool ok =
        setDefault(std::wstring(ProgId) + L"\\CLSID", ClsidText) &&
        setDefault(clsidKey, L"Stand-in presentation application") &&
        setDefault(clsidKey + L"\\ProgID", ProgId) &&
        setDefault(clsidKey + L"\\LocalServer32", L"\"" + exePath() + L"\" \"" + folder + L"\"");
    return ok ? 0 : 1;
}

/** Asks the stand-in with the Windows process number `pid` to end; 1 when there is none. */
int endStandIn(const std::wstring &pid)
{
    const HANDLE end = OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"DeckrunStandInEnd-" + pid).c_str());
    if (!end)
        return 1;
    SetEvent(end);
    CloseHandle(end);
    return 0;
}

int unregisterServer()
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, ProgId);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + ClsidText).c_str());
    return 0;
}

/** The process that started this one, if it is still the same process. */
HANDLE openStarter()
{
    const DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return nullptr;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == self)
            parent = entry.th32ParentProcessID;
    CloseHandle(snapshot);
    if (parent == 0)
        return nullptr;
    HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent);
    if (!h)
        return nullptr;
    // A process number taken over by a later process is not the starter.
    FILETIME mine{}, theirs{}, unused{};
    GetProcessTimes(GetCurrentProcess(), &mine, &unused, &unused, &unused);
    GetProcessTimes(h, &theirs, &unused, &unused, &unused);
    if (CompareFileTime(&theirs, &mine) > 0 || WaitForSingleObject(h, 0) == WAIT_OBJECT_0) {
        CloseHandle(h);
        return nullptr;
    }
    return h;
}

/** Ends the process if leaving COM hangs (a call still in flight). */
DWORD WINAPI watchdog(void *)
{
    Sleep(TeardownLimitMs);
    record(L"ended: leaving COM took too long");
    TerminateProcess(GetCurrentProcess(), 5);
    return 0;
}

/** Why the loop should end now, or nothing. */
const wchar_t *reasonToEnd()
{
    const DWORD now = GetTickCount();
    if (server.quitting && now - server.quitAt > ReleaseLimitMs)
        return L"clients still held references after Quit";
    if (server.starter && WaitForSingleObject(server.starter, 0) == WAIT_OBJECT_0)
        return L"the process that started it has ended";
    // A user's PowerPoint stays until its user ends it.
    if (!server.user && now - server.lastCall > IdleLimitMs)
        return L"no call for a while";
    return nullptr;
}

/** In the class table and the running-object table; false, recorded, when it could not be. */
bool registerObjects(IDispatch *app, Factory &factory)
{
    // Single use for a server COM starts: Wine's class table keeps a
    // multiple-use entry of a server that was killed (a hung one Deckrun
    // stopped), and every later create would fail on it; a single-use entry
    // is gone once handed out. A user's serves every create, as PowerPoint does.
    HRESULT hr = CoRegisterClassObject(StandInClsid, &factory, CLSCTX_LOCAL_SERVER,
                                       server.user ? REGCLS_MULTIPLEUSE : REGCLS_SINGLEUSE,
                                       &server.classCookie);
    server.classRegistered = SUCCEEDED(hr);
    if (SUCCEEDED(hr))
        hr = RegisterActiveObject(app, StandInClsid, ACTIVEOBJECT_STRONG, &server.rotCookie);
    if (FAILED(hr)) {
        record(L"could not start: " + std::to_wstring(static_cast<unsigned long>(hr)));
        return false;
    }
    server.inRot = true;
    return true;
}

/** Serves calls until it is asked to end, its loop is ended, or a reason to end comes up. */
void loop()
{
    // A stand-in left behind (its client gone, or holding on after Quit) ends by itself.
    SetTimer(nullptr, 0, 250, nullptr);
    for (;;) {
        if (MsgWaitForMultipleObjects(1, &server.endAsked, FALSE, INFINITE, QS_ALLINPUT) ==
            WAIT_OBJECT_0) {
            record(L"ending: asked to end");
            return;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return;
            if (msg.message == WM_TIMER) {
                if (const wchar_t *why = reasonToEnd()) {
                    record(std::wstring(L"ending: ") + why);
                    return;
                }
            }
            DispatchMessageW(&msg);
        }
    }
}

int serve()
{
    server.starter = openStarter();
    server.script = readScript(server.folder);
    server.thread = GetCurrentThreadId();
    server.lastCall = GetTickCount();
    server.visible = server.user;
    server.endAsked =
        CreateEventW(nullptr, TRUE, FALSE,
                     (L"DeckrunStandInEnd-" + std::to_wstring(GetCurrentProcessId())).c_str());
    if (!server.endAsked || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    record(L"started " + std::to_wstring(GetCurrentProcessId()));
    server.window = makeWindow();
    IDispatch *app = newObject(Kind::FoundApplication);
    Factory factory;
    if (!registerObjects(app, factory))
        return 3;
    loop();
    leave();
    if (HANDLE t = CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr))
        CloseHandle(t);
    // What clients still hold is cut off rather than left to a teardown that waits for it.
    for (IDispatch *object : std::vector<IDispatch *>(liveObjects))
        CoDisconnectObject(object, 0);
    app->Release();
    if (server.window)
        DestroyWindow(server.window);
    CoUninitialize();
    record(L"ended");
    return 0;
}

} // namespace

/** Ends the message loop (the reason was recorded, or Quit and no client left). */
void endLoop()
{
    PostThreadMessageW(server.thread, WM_QUIT, 0, 0);
}

/**
 * Out of the running-object table and no longer started by a create: Quit has
 * been asked for. The loop ends when the clients have released what they hold
 * (their releases still arrive after Quit returns), so that COM is never torn
 * down under a call in flight.
 */
void leave()
{
    if (server.inRot) {
        RevokeActiveObject(server.rotCookie, nullptr);
        server.inRot = false;
    }
    if (server.classRegistered) {
        CoRevokeClassObject(server.classCookie);
        server.classRegistered = false;
    }
    if (!server.quitting) {
        server.quitting = true;
        server.quitAt = GetTickCount();
    }
}

bool noClientLeft()
{
    return InterlockedCompareExchange(&server.references, 0, 0) <= 1;
}

} // namespace standin

int wmain(int argc, wchar_t **argv)
{
    using standin::server;
    std::vector<std::wstring> plain;
    bool reg = false, unreg = false, end = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (_wcsicmp(a.c_str(), L"/RegServer") == 0 || _wcsicmp(a.c_str(), L"-RegServer") == 0)
            reg = true;
        else if (_wcsicmp(a.c_str(), L"/UnregServer") == 0 ||
                 _wcsicmp(a.c_str(), L"-UnregServer") == 0)
            unreg = true;
        else if (_wcsicmp(a.c_str(), L"/End") == 0)
            end = true;
        else if (_wcsicmp(a.c_str(), L"/User") == 0)
            server.user = true;
        else if (_wcsicmp(a.c_str(), L"/Dialog") == 0)
            server.dialog = true;
        else if (!a.empty() && a[0] != L'-' && a[0] != L'/')
            plain.push_back(a);
    }
    if (unreg)
        return standin::unregisterServer();
    if (plain.empty()) {
        std::fputs("usage: StandInServer /RegServer FOLDER | /UnregServer | FOLDER -Embedding | "
                   "FOLDER /User [/Dialog] | /End PID\n",
                   stderr);
        return 64;
    }
    if (end)
        return standin::endStandIn(plain.front());
    server.folder = plain.front();
    if (reg)
        return standin::registerServer(server.folder);
    return standin::serve();
}
