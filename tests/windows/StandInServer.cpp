// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the presentation application's automation server, so that the
// COM backend runs against a real out-of-process server under Wine. It answers
// the members the backend calls (the name as default member, HWND, Visible,
// Presentations.Open with the named argument fileName (and ReadOnly and
// WithWindow when given), ActivePresentation,
// PrintOptions.ActivePrinter (put and get), PrintOptions.PrintInBackground,
// PrintOut, Quit), sits in the running-object table while it runs, and writes
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
//   fault-starts=N        the faults (open-error*, printer-kept, busy, hang) hold for the
//                         first N servers started from this folder (counted by the
//                         "started" lines of calls.log); later ones behave
//
// Usage: StandInServer.exe /RegServer FOLDER | /UnregServer | FOLDER -Embedding

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// {6C3B1A52-7E0D-4C8F-9B1E-2D5A7F3C9E41}
const CLSID StandInClsid = {
    0x6c3b1a52, 0x7e0d, 0x4c8f, {0x9b, 0x1e, 0x2d, 0x5a, 0x7f, 0x3c, 0x9e, 0x41}};
const wchar_t *const ClsidText = L"{6C3B1A52-7E0D-4C8F-9B1E-2D5A7F3C9E41}";
const wchar_t *const ProgId = L"PowerPoint.Application";

struct Script {
    std::wstring name = L"Microsoft PowerPoint";
    std::vector<std::wstring> printers{L"Deckrun Test Printer"};
    std::wstring openError;
    WORD openErrorNumber = 0;
    HRESULT openErrorScode = 0;
    std::wstring printerKept;
    bool keepsPrinter = false;
    int busy = 0;
    DWORD busyFor = 0;
    std::wstring busyAnswer; // empty: the two take turns
    std::vector<std::wstring> hang;
    int faultStarts = -1;       // every start
    std::wstring openErrorFile; // empty: every file
};

struct Server {
    std::wstring folder;
    Script script;
    int busyAnswers = 0;
    HRESULT lastBusy = S_OK;
    bool opened = false;
    bool visible = false;
    bool printInBackground = true;
    std::wstring printer;
    DWORD thread = 0;
    DWORD lastCall = 0;
    DWORD rotCookie = 0;
    bool inRot = false;
    DWORD classCookie = 0;
    bool classRegistered = false;
    LONG references = 0;   // held on all its objects, its own one on the application included
    bool quitting = false; // Quit was called: it ends when its clients let go
    DWORD quitAt = 0;
    HANDLE starter = nullptr; // the process that started it (the client), while it runs
    HWND window = nullptr;    // its main window (a message-only one: no display needed)
} server;

constexpr DWORD IdleLimitMs = 30000;    // no call for this long: nobody is coming back
constexpr DWORD ReleaseLimitMs = 3000;  // after Quit, clients have this long to let go
constexpr DWORD TeardownLimitMs = 5000; // leaving COM must not take longer than this
constexpr DWORD HangLimitMs = 120000;   // a hung call ends with the process after this long

std::wstring utf16(const std::string &text)
{
    if (text.empty())
        return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string utf8(const std::wstring &text)
{
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::vector<std::wstring> split(const std::wstring &text, wchar_t separator)
{
    std::vector<std::wstring> items;
    std::wstringstream list(text);
    std::wstring item;
    while (std::getline(list, item, separator))
        items.push_back(item);
    return items;
}

/** A scripted text: "\0" stands for a NUL. */
std::wstring unescaped(const std::wstring &text)
{
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'0') {
            out += L'\0';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

void readLine(Script &s, std::string line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    const auto eq = line.find('=');
    if (eq == std::string::npos)
        return;
    const std::string key = line.substr(0, eq);
    const std::string raw = line.substr(eq + 1);
    const std::wstring value = utf16(raw);
    if (key == "name") {
        s.name = value;
    } else if (key == "printers") {
        s.printers = split(value, L'|');
    } else if (key == "open-error") {
        s.openError = unescaped(value);
    } else if (key == "open-error-number") {
        s.openErrorNumber = static_cast<WORD>(std::stoul(raw));
    } else if (key == "open-error-scode") {
        s.openErrorScode = static_cast<HRESULT>(std::stoul(raw, nullptr, 16));
    } else if (key == "printer-kept") {
        s.printerKept = value;
        s.keepsPrinter = true;
    } else if (key == "busy") {
        s.busy = std::stoi(raw);
    } else if (key == "busy-for") {
        s.busyFor = static_cast<DWORD>(std::stoul(raw));
    } else if (key == "busy-answer") {
        s.busyAnswer = value;
    } else if (key == "hang") {
        s.hang = split(value, L'|');
    } else if (key == "open-error-file") {
        s.openErrorFile = value;
    } else if (key == "fault-starts") {
        s.faultStarts = std::stoi(raw);
    }
}

/** How many servers were started from the folder before this one. */
int earlierStarts(const std::wstring &folder)
{
    std::ifstream in((folder + L"\\calls.log").c_str());
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        n += line.rfind("started ", 0) == 0;
    return n;
}

Script readScript(const std::wstring &folder)
{
    Script s;
    std::ifstream in((folder + L"\\script.txt").c_str());
    std::string line;
    while (std::getline(in, line))
        readLine(s, line);
    if (const char *lines = std::getenv("DECKRUN_STANDIN_SCRIPT")) {
        std::stringstream list(lines);
        while (std::getline(list, line, ';'))
            readLine(s, line);
    }
    if (s.faultStarts >= 0 && earlierStarts(folder) >= s.faultStarts) {
        const Script plain;
        s.openError = plain.openError;
        s.openErrorNumber = plain.openErrorNumber;
        s.openErrorScode = plain.openErrorScode;
        s.keepsPrinter = false;
        s.busy = 0;
        s.busyFor = 0;
        s.hang.clear();
    }
    return s;
}

/** One line per call, written at once, so a test can read it the moment a call returns. */
void record(const std::wstring &line)
{
    std::ofstream out((server.folder + L"\\calls.log").c_str(), std::ios::app | std::ios::binary);
    out << utf8(line) << "\n";
}

std::wstring typeName(VARTYPE vt)
{
    std::wstring base;
    switch (vt & VT_TYPEMASK) {
    case VT_EMPTY:
        base = L"VT_EMPTY";
        break;
    case VT_BOOL:
        base = L"VT_BOOL";
        break;
    case VT_BSTR:
        base = L"VT_BSTR";
        break;
    case VT_I2:
        base = L"VT_I2";
        break;
    case VT_I4:
        base = L"VT_I4";
        break;
    case VT_VARIANT:
        base = L"VT_VARIANT";
        break;
    case VT_DISPATCH:
        base = L"VT_DISPATCH";
        break;
    default:
        base = L"VT_" + std::to_wstring(vt & VT_TYPEMASK);
        break;
    }
    return (vt & VT_BYREF) ? base + L"|VT_BYREF" : base;
}

std::wstring valueText(const VARIANT &v)
{
    VARIANT copy;
    VariantInit(&copy);
    if (FAILED(VariantCopyInd(&copy, const_cast<VARIANT *>(&v))))
        return L"?";
    std::wstring text;
    if (copy.vt == VT_BSTR)
        text = L"\"" + std::wstring(copy.bstrVal ? copy.bstrVal : L"") + L"\"";
    else if (copy.vt == VT_BOOL)
        text = std::to_wstring(copy.boolVal);
    else if (copy.vt == VT_I4)
        text = std::to_wstring(copy.lVal);
    else if (copy.vt == VT_I2)
        text = std::to_wstring(copy.iVal);
    VariantClear(&copy);
    return text;
}

/** A value of a given type, by value or by reference. */
bool textArgument(const VARIANT &v, std::wstring &out)
{
    if (v.vt == VT_BSTR) {
        out = v.bstrVal ? v.bstrVal : L"";
        return true;
    }
    if (v.vt == (VT_BSTR | VT_BYREF) && v.pbstrVal) {
        out = *v.pbstrVal ? *v.pbstrVal : L"";
        return true;
    }
    return false;
}

/** An exception raised to the caller; `number` (wCode) and `scode` as PowerPoint may send them. */
HRESULT raise(EXCEPINFO *error, const std::wstring &description, WORD number = 0,
              HRESULT scode = E_FAIL)
{
    if (error) {
        *error = EXCEPINFO{};
        error->bstrSource = SysAllocString(L"Stand-in PowerPoint");
        // All of it, NULs included: a BSTR has its own length.
        error->bstrDescription =
            description.empty()
                ? nullptr
                : SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
        error->wCode = number;
        error->scode = number ? 0 : scode; // only one of the two may be set
    }
    return DISP_E_EXCEPTION;
}

enum class Kind { CreatedApplication, FoundApplication, Presentations, Presentation, PrintOptions };

bool isApplication(Kind k)
{
    return k == Kind::CreatedApplication || k == Kind::FoundApplication;
}

const wchar_t *kindName(Kind k)
{
    switch (k) {
    case Kind::CreatedApplication:
        return L"Application(created)";
    case Kind::FoundApplication:
        return L"Application(found)";
    case Kind::Presentations:
        return L"Presentations";
    case Kind::Presentation:
        return L"Presentation";
    case Kind::PrintOptions:
        return L"PrintOptions";
    }
    return L"?";
}

struct Member {
    Kind kind;
    const wchar_t *name;
    DISPID id;
};

const Member Members[] = {
    {Kind::FoundApplication, L"Name", 1},
    {Kind::FoundApplication, L"Visible", 2},
    {Kind::FoundApplication, L"Presentations", 3},
    {Kind::FoundApplication, L"ActivePresentation", 4},
    {Kind::FoundApplication, L"Quit", 5},
    {Kind::FoundApplication, L"HWND", 6},
    {Kind::Presentations, L"Open", 10},
    {Kind::Presentation, L"PrintOptions", 20},
    {Kind::Presentation, L"PrintOut", 21},
    {Kind::PrintOptions, L"ActivePrinter", 30},
    {Kind::PrintOptions, L"PrintInBackground", 31},
};
constexpr DISPID QuitId = 5;
constexpr DISPID WindowId = 6;
constexpr DISPID FileNameArgument = 0; // the named arguments of Open
constexpr DISPID ReadOnlyArgument = 1;
constexpr DISPID WithWindowArgument = 2;

/** The application's members are the same whichever object a client holds. */
Kind memberKind(Kind k)
{
    return isApplication(k) ? Kind::FoundApplication : k;
}

std::wstring memberName(Kind kind, DISPID id)
{
    if (id == DISPID_VALUE)
        return L"[default]";
    for (const Member &m : Members)
        if (m.kind == memberKind(kind) && m.id == id)
            return m.name;
    return L"#" + std::to_wstring(id);
}

/** Whether a call of this member is scripted to never return. */
bool hangs(const std::wstring &member)
{
    for (const std::wstring &h : server.script.hang)
        if (_wcsicmp(h.c_str(), member.c_str()) == 0 ||
            (_wcsicmp(h.c_str(), L"Name") == 0 && member == L"[default]"))
            return true;
    return false;
}

/**
 * A call that never returns: the thread blocks, handling nothing, as with a
 * stuck print driver. The process ends when its starter has ended (or after
 * a long while), so that a stand-in nobody stopped does not outlive the test.
 */
[[noreturn]] void hang(const std::wstring &what)
{
    record(L"hang " + what);
    if (server.starter)
        WaitForSingleObject(server.starter, HangLimitMs);
    else
        Sleep(HangLimitMs);
    record(L"ending: a call hung and nobody stopped it");
    TerminateProcess(GetCurrentProcess(), 4);
    for (;;)
        Sleep(INFINITE);
}

/** When each call refused for a while was first tried (busy-for). */
std::vector<std::pair<std::wstring, DWORD>> busySince;

/** Whether a call is still to be refused for busy-for: until it has been tried long enough. */
bool stillBusyFor(const std::wstring &what)
{
    if (server.script.busyFor == 0)
        return false;
    const DWORD now = GetTickCount();
    for (auto it = busySince.begin(); it != busySince.end(); ++it) {
        if (it->first == what) {
            if (now - it->second < server.script.busyFor)
                return true;
            busySince.erase(it); // through; the next call of it waits again
            return false;
        }
    }
    busySince.emplace_back(what, now);
    return true;
}

/** A busy application refuses calls; the first N calls of a run are refused here. */
bool refuseAsBusy(const std::wstring &what)
{
    if (server.busyAnswers >= server.script.busy && !stillBusyFor(what))
        return false;
    ++server.busyAnswers;
    const std::wstring &which = server.script.busyAnswer;
    const bool rejected = which.empty() ? server.busyAnswers % 2 == 1 : which == L"rejected";
    server.lastBusy = rejected ? RPC_E_CALL_REJECTED : RPC_E_SERVERCALL_RETRYLATER;
    record(L"busy " + what +
           (rejected ? L" RPC_E_CALL_REJECTED" : L" RPC_E_SERVERCALL_RETRYLATER"));
    return true;
}

HRESULT busyAnswer()
{
    return server.lastBusy;
}

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

/** Its own reference on the application is the only one left. */
bool noClientLeft()
{
    return InterlockedCompareExchange(&server.references, 0, 0) <= 1;
}

/** Every object the server has handed out and not yet freed (all on its one thread). */
std::vector<IDispatch *> liveObjects;

class Automation final : public IDispatch {
public:
    explicit Automation(Kind kind) : m_kind(kind)
    {
        InterlockedIncrement(&server.references);
        liveObjects.push_back(this);
    }
    ~Automation() { std::erase(liveObjects, static_cast<IDispatch *>(this)); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *out = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        InterlockedIncrement(&server.references);
        return InterlockedIncrement(&m_refs);
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG n = InterlockedDecrement(&m_refs);
        if (n == 0)
            delete this;
        if (InterlockedDecrement(&server.references) <= 1) {
            if (server.quitting) {
                endLoop();
            } else if (!server.visible) {
                // Started for automation, never shown, let go: nobody needs it.
                record(L"ending: released without being shown");
                leave();
                endLoop();
            }
        }
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override
    {
        if (count)
            *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID,
                                            DISPID *ids) override
    {
        server.lastCall = GetTickCount();
        if (count == 0 || !names || !ids)
            return E_INVALIDARG;
        const bool quit = _wcsicmp(names[0], L"Quit") == 0;
        if (!quit &&
            refuseAsBusy(std::wstring(L"GetIDsOfNames ") + kindName(m_kind) + L"." + names[0]))
            return busyAnswer();
        HRESULT hr = S_OK;
        ids[0] = DISPID_UNKNOWN;
        for (const Member &m : Members)
            if (m.kind == memberKind(m_kind) && _wcsicmp(m.name, names[0]) == 0)
                ids[0] = m.id;
        if (ids[0] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
        for (UINT i = 1; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            if (m_kind == Kind::Presentations && ids[0] == 10) {
                if (_wcsicmp(names[i], L"FileName") == 0)
                    ids[i] = FileNameArgument;
                else if (_wcsicmp(names[i], L"ReadOnly") == 0)
                    ids[i] = ReadOnlyArgument;
                else if (_wcsicmp(names[i], L"WithWindow") == 0)
                    ids[i] = WithWindowArgument;
            }
            if (ids[i] == DISPID_UNKNOWN)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params,
                                     VARIANT *result, EXCEPINFO *error, UINT *) override
    {
        server.lastCall = GetTickCount();
        const std::wstring what = std::wstring(kindName(m_kind)) + L"." + memberName(m_kind, id);
        if (id != QuitId && refuseAsBusy(L"Invoke " + what))
            return busyAnswer();
        record(what + L" " + describeCall(flags, params));
        if (hangs(memberName(m_kind, id)))
            hang(what);

        const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
        const bool get = (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0;
        const UINT argCount = params ? params->cArgs : 0;
        // A put as PowerPoint takes it: one value, by value, named DISPID_PROPERTYPUT.
        if (put && (argCount != 1 || params->cNamedArgs != 1 ||
                    params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
            return DISP_E_PARAMNOTFOUND;
        if (put && (params->rgvarg[0].vt & VT_BYREF))
            return DISP_E_TYPEMISMATCH;
        const VARIANT *value = put ? &params->rgvarg[0] : nullptr;

        switch (memberKind(m_kind)) {
        case Kind::CreatedApplication:
        case Kind::FoundApplication:
            if ((id == DISPID_VALUE || id == 1) && get && argCount == 0)
                return text(result, server.script.name);
            if (id == WindowId && get && argCount == 0)
                return integer(result, static_cast<LONG>(reinterpret_cast<INT_PTR>(server.window)));
            if (id == 2 && value) {
                if (value->vt != VT_BOOL)
                    return DISP_E_TYPEMISMATCH;
                server.visible = value->boolVal != VARIANT_FALSE;
                return S_OK;
            }
            if (id == 2 && get)
                return boolean(result, server.visible);
            if (id == 3 && get)
                return object(result, Kind::Presentations);
            if (id == 4 && get) {
                if (!server.opened)
                    return raise(error, L"Application.ActivePresentation : Invalid request.  "
                                        L"There is no active presentation.");
                return object(result, Kind::Presentation);
            }
            if (id == QuitId && (flags & DISPATCH_METHOD)) {
                leave();
                if (noClientLeft())
                    endLoop();
                return S_OK;
            }
            break;
        case Kind::Presentations:
            if (id == 10 && (flags & DISPATCH_METHOD)) {
                // Every argument named; the file name among them.
                std::wstring path;
                if (argCount == 0 || params->cNamedArgs != argCount)
                    return DISP_E_PARAMNOTFOUND;
                for (UINT i = 0; i < argCount; ++i)
                    if (params->rgdispidNamedArgs[i] == FileNameArgument &&
                        !textArgument(params->rgvarg[i], path))
                        return DISP_E_TYPEMISMATCH;
                if (path.empty())
                    return DISP_E_PARAMNOTFOUND;
                const bool thisFile =
                    server.script.openErrorFile.empty() ||
                    (path.size() > server.script.openErrorFile.size() &&
                     path.compare(path.size() - server.script.openErrorFile.size(),
                                  std::wstring::npos, server.script.openErrorFile) == 0);
                if (thisFile && (!server.script.openError.empty() ||
                                 server.script.openErrorNumber || server.script.openErrorScode))
                    return raise(error, server.script.openError, server.script.openErrorNumber,
                                 server.script.openErrorScode ? server.script.openErrorScode
                                                              : E_FAIL);
                server.opened = true;
                return object(result, Kind::Presentation);
            }
            break;
        case Kind::Presentation:
            if (id == 20 && get)
                return object(result, Kind::PrintOptions);
            if (id == 21 && (flags & DISPATCH_METHOD))
                return argCount == 0 ? S_OK : DISP_E_BADPARAMCOUNT;
            break;
        case Kind::PrintOptions:
            if (id == 30 && value) {
                std::wstring name;
                if (!textArgument(*value, name))
                    return DISP_E_TYPEMISMATCH;
                for (const std::wstring &known : server.script.printers) {
                    if (known == name) {
                        // Accepted, and kept elsewhere when so scripted.
                        server.printer =
                            server.script.keepsPrinter ? server.script.printerKept : name;
                        return S_OK;
                    }
                }
                return raise(error, L"PrintOptions.ActivePrinter : Invalid request.  "
                                    L"Printer name is not valid.");
            }
            if (id == 30 && get)
                return text(result, server.printer);
            if (id == 31 && value) {
                if (value->vt != VT_BOOL)
                    return DISP_E_TYPEMISMATCH;
                server.printInBackground = value->boolVal != VARIANT_FALSE;
                return S_OK;
            }
            break;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    static std::wstring describeCall(WORD flags, const DISPPARAMS *params)
    {
        std::wstring how = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) ? L"put"
                           : (flags & DISPATCH_PROPERTYGET)                           ? L"get"
                                                                                      : L"call";
        std::wstring args;
        const UINT n = params ? params->cArgs : 0;
        const UINT named = params ? params->cNamedArgs : 0;
        // rgvarg holds the arguments last first; named ones come first in it.
        for (UINT i = n; i-- > 0;) {
            const VARIANT &v = params->rgvarg[i];
            std::wstring label;
            if (i < named) {
                const DISPID id = params->rgdispidNamedArgs[i];
                if (id == FileNameArgument && (flags & DISPATCH_METHOD))
                    label = L"fileName:";
                else if (id == ReadOnlyArgument && (flags & DISPATCH_METHOD))
                    label = L"ReadOnly:";
                else if (id == WithWindowArgument && (flags & DISPATCH_METHOD))
                    label = L"WithWindow:";
                else if (id != DISPID_PROPERTYPUT)
                    label = L"#" + std::to_wstring(id) + L":";
            }
            if (!args.empty())
                args += L", ";
            args += (label.empty() ? L"" : label + L" ") + typeName(v.vt) + L" " + valueText(v);
        }
        return how + L" (" + args + L")";
    }

    static HRESULT text(VARIANT *result, const std::wstring &value)
    {
        if (result) {
            VariantInit(result);
            result->vt = VT_BSTR;
            result->bstrVal = SysAllocString(value.c_str());
        }
        return S_OK;
    }
    static HRESULT integer(VARIANT *result, LONG value)
    {
        if (result) {
            VariantInit(result);
            result->vt = VT_I4;
            result->lVal = value;
        }
        return S_OK;
    }
    static HRESULT boolean(VARIANT *result, bool value)
    {
        if (result) {
            VariantInit(result);
            result->vt = VT_BOOL;
            result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        }
        return S_OK;
    }
    static HRESULT object(VARIANT *result, Kind kind)
    {
        if (result) {
            VariantInit(result);
            result->vt = VT_DISPATCH;
            result->pdispVal = new Automation(kind); // one reference, the caller's
        }
        return S_OK;
    }

    Kind m_kind;
    LONG m_refs = 1;
};

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
        record(L"CreateInstance");
        // An object of its own, so that the log tells it from the one found running.
        auto *created = new Automation(Kind::CreatedApplication);
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
    if (now - server.lastCall > IdleLimitMs)
        return L"no call for a while";
    return nullptr;
}

int serve()
{
    server.starter = openStarter();
    server.script = readScript(server.folder);
    server.thread = GetCurrentThreadId();
    server.lastCall = GetTickCount();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    record(L"started " + std::to_wstring(GetCurrentProcessId()));
    server.window = makeWindow();
    auto *app = new Automation(Kind::FoundApplication);
    Factory factory;
    // Single use: Wine's class table keeps a multiple-use entry of a server that
    // was killed (a hung one Deckrun stopped), and every later create would
    // fail on it; a single-use entry is gone once handed out.
    HRESULT hr = CoRegisterClassObject(StandInClsid, &factory, CLSCTX_LOCAL_SERVER,
                                       REGCLS_SINGLEUSE, &server.classCookie);
    server.classRegistered = SUCCEEDED(hr);
    if (SUCCEEDED(hr))
        hr = RegisterActiveObject(app, StandInClsid, ACTIVEOBJECT_STRONG, &server.rotCookie);
    if (FAILED(hr)) {
        record(L"could not start: " + std::to_wstring(static_cast<unsigned long>(hr)));
        return 3;
    }
    server.inRot = true;

    // A stand-in left behind (its client gone, or holding on after Quit) ends by itself.
    SetTimer(nullptr, 0, 250, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER) {
            if (const wchar_t *why = reasonToEnd()) {
                record(std::wstring(L"ending: ") + why);
                break;
            }
        }
        DispatchMessageW(&msg);
    }
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

int wmain(int argc, wchar_t **argv)
{
    std::vector<std::wstring> plain;
    bool reg = false, unreg = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (_wcsicmp(a.c_str(), L"/RegServer") == 0 || _wcsicmp(a.c_str(), L"-RegServer") == 0)
            reg = true;
        else if (_wcsicmp(a.c_str(), L"/UnregServer") == 0 ||
                 _wcsicmp(a.c_str(), L"-UnregServer") == 0)
            unreg = true;
        else if (!a.empty() && a[0] != L'-' && a[0] != L'/')
            plain.push_back(a);
    }
    if (unreg)
        return unregisterServer();
    if (plain.empty()) {
        std::fputs("usage: StandInServer /RegServer FOLDER | /UnregServer | FOLDER -Embedding\n",
                   stderr);
        return 64;
    }
    server.folder = plain.front();
    if (reg)
        return registerServer(server.folder);
    return serve();
}
