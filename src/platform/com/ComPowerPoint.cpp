// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/com/ComPowerPoint.h"

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwctype>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace deckrun::com {

namespace {

using Clock = std::chrono::steady_clock;

std::string narrow(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text)
        out += (c > 0 && c < 128) ? static_cast<char>(c) : '?';
    return out;
}

std::wstring hexCode(long code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

/** The system's text for a result code; none when the system has no text for it. */
std::wstring systemText(HRESULT hr)
{
    wchar_t *buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text = n && buffer ? std::wstring(buffer, n) : std::wstring();
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && std::iswspace(text.back()))
        text.pop_back();
    return text;
}

std::wstring systemMessage(HRESULT hr)
{
    const std::wstring text = systemText(hr);
    return text.empty() ? L"Automation error " + hexCode(hr) : text;
}

std::wstring secondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

bool isBusy(HRESULT hr)
{
    return hr == RPC_E_CALL_REJECTED || hr == RPC_E_SERVERCALL_RETRYLATER;
}

/**
 * The call in hand on an apartment's thread: its deadline, and where a busy
 * answer is noted for the thread that waits for it.
 */
struct CallContext {
    Clock::time_point deadline;
    std::atomic<long> *busyAnswer;
};
thread_local CallContext *t_call = nullptr;

void noteBusy(HRESULT hr)
{
    if (t_call)
        t_call->busyAnswer->store(hr);
}

[[noreturn]] void fail(HRESULT hr, const std::wstring &what)
{
    throw ComError(what.empty() ? systemMessage(hr) : what, static_cast<long>(hr));
}

void check(HRESULT hr)
{
    if (FAILED(hr))
        fail(hr, std::wstring());
}

// Makes one call into the application, again while it answers busy, until it
// goes through or the deadline of the call in hand has passed (what the busy
// answer asks a caller to do). This runs on the apartment's thread: the
// window's thread waits elsewhere, handling its events.
template <typename Call> HRESULT whileBusy(Call &&call)
{
    DWORD pause = 20;
    for (;;) {
        const HRESULT hr = call();
        if (!isBusy(hr))
            return hr;
        noteBusy(hr);
        if (!t_call)
            return hr;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(t_call->deadline - Clock::now());
        if (left.count() <= 0)
            return hr;
        Sleep(static_cast<DWORD>(std::min<long long>(pause, left.count())));
        pause = std::min<DWORD>(pause * 2, 250);
    }
}

/** COM on the calling thread, for the raw calls; the apartment's thread has it already. */
void ensureCom()
{
    if (t_call)
        return;
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE)
        fail(hr, std::wstring());
}

class Bstr {
public:
    explicit Bstr(const std::wstring &text)
        : m_b(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
        if (!m_b && !text.empty())
            fail(E_OUTOFMEMORY, std::wstring());
    }
    ~Bstr() { SysFreeString(m_b); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    BSTR *address() { return &m_b; }
    BSTR get() const { return m_b; }

private:
    BSTR m_b;
};

struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
};

/** A text as the application sent it: all of it, without the NULs a BSTR may hold. */
std::wstring wholeText(BSTR text)
{
    std::wstring out;
    if (text)
        for (const wchar_t c : std::wstring_view(text, SysStringLen(text)))
            if (c != L'\0')
                out += c;
    return out;
}

/**
 * The failure an exception raised by the application stands for: its own
 * description, whole; without one, the application's error number (never
 * the system's text for that number: 1004 is not "Invalid flags.").
 */
[[noreturn]] void raiseException(EXCEPINFO &error)
{
    if (error.pfnDeferredFillIn)
        error.pfnDeferredFillIn(&error);
    const std::wstring description = wholeText(error.bstrDescription);
    const WORD number = error.wCode;
    const HRESULT scode = error.scode;
    SysFreeString(error.bstrSource);
    SysFreeString(error.bstrDescription);
    SysFreeString(error.bstrHelpFile);
    const long code = scode ? static_cast<long>(scode) : static_cast<long>(number);
    const bool said = std::any_of(description.begin(), description.end(),
                                  [](wchar_t c) { return !std::iswspace(c); });
    if (said)
        throw ComError(description, code ? code : static_cast<long>(DISP_E_EXCEPTION));
    const std::wstring product = ComPowerPoint::Name;
    if (number)
        throw ComError(product + L" reported error " + std::to_wstring(number) + L".", number);
    if (scode) {
        const std::wstring text = systemText(scode);
        throw ComError(text.empty() ? product + L" reported error " + hexCode(scode) + L"." : text,
                       scode);
    }
    throw ComError(product + L" reported an error without saying which.",
                   static_cast<long>(DISP_E_EXCEPTION));
}

DISPID memberId(IDispatch *object, const wchar_t *member)
{
    LPOLESTR name = const_cast<LPOLESTR>(member);
    DISPID id = DISPID_UNKNOWN;
    check(whileBusy(
        [&] { return object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id); }));
    return id;
}

/** One late-bound call; the application's own description when it raises. */
void invoke(IDispatch *object, DISPID id, WORD flags, std::vector<VARIANT> &argsReversed,
            std::vector<DISPID> &named, VARIANT *result)
{
    if (!object)
        fail(E_POINTER, L"Object variable not set");
    DISPPARAMS params{};
    params.cArgs = static_cast<UINT>(argsReversed.size());
    params.rgvarg = argsReversed.empty() ? nullptr : argsReversed.data();
    params.cNamedArgs = static_cast<UINT>(named.size());
    params.rgdispidNamedArgs = named.empty() ? nullptr : named.data();
    EXCEPINFO error{};
    UINT argError = 0;
    const HRESULT hr = whileBusy([&] {
        return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &error,
                              &argError);
    });
    if (hr == DISP_E_EXCEPTION)
        raiseException(error);
    check(hr);
}

void getValue(const Dispatch &object, const wchar_t *member, Variant &result)
{
    std::vector<VARIANT> none;
    std::vector<DISPID> noNames;
    invoke(object.get(), member ? memberId(object.get(), member) : DISPID_VALUE,
           DISPATCH_PROPERTYGET | DISPATCH_METHOD, none, noNames, &result.v);
}

std::wstring getText(const Dispatch &object, const wchar_t *member)
{
    Variant result;
    getValue(object, member, result);
    check(VariantChangeType(&result.v, &result.v, 0, VT_BSTR));
    return wholeText(result.v.bstrVal);
}

Dispatch getObject(const Dispatch &object, const wchar_t *member)
{
    Variant result;
    getValue(object, member, result);
    if (result.v.vt != VT_DISPATCH || !result.v.pdispVal)
        fail(E_NOINTERFACE, L"Object required");
    result.v.pdispVal->AddRef();
    return Dispatch(result.v.pdispVal);
}

/** A property put: the value by value, as the one named argument DISPID_PROPERTYPUT. */
void putProperty(const Dispatch &object, const wchar_t *member, VARIANT value)
{
    std::vector<VARIANT> args{value};
    std::vector<DISPID> named{DISPID_PROPERTYPUT};
    invoke(object.get(), memberId(object.get(), member), DISPATCH_PROPERTYPUT, args, named,
           nullptr);
}

void callMethod(const Dispatch &object, const wchar_t *member)
{
    std::vector<VARIANT> none;
    std::vector<DISPID> noNames;
    Variant result;
    invoke(object.get(), memberId(object.get(), member), DISPATCH_METHOD, none, noNames, &result.v);
}

VARIANT boolean(bool value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; // true is -1
    return v;
}

} // namespace

// --- the raw calls -------------------------------------------------------------

ComError::ComError(std::wstring description, long code)
    : std::runtime_error(narrow(description)), m_description(std::move(description)), m_code(code)
{}

Dispatch::Dispatch(const Dispatch &other) : m_p(other.m_p)
{
    if (m_p)
        m_p->AddRef();
}

Dispatch::Dispatch(Dispatch &&other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}

Dispatch &Dispatch::operator=(Dispatch other) noexcept
{
    std::swap(m_p, other.m_p);
    return *this;
}

Dispatch::~Dispatch()
{
    if (m_p)
        m_p->Release();
}

Dispatch ComPowerPoint::create()
{
    ensureCom();
    CLSID clsid;
    check(CLSIDFromProgID(ProgId, &clsid));
    IDispatch *app = nullptr;
    check(whileBusy([&] {
        return CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch,
                                reinterpret_cast<void **>(&app));
    }));
    if (!app)
        fail(E_NOINTERFACE, std::wstring());
    return Dispatch(app);
}

Dispatch ComPowerPoint::getRunning()
{
    ensureCom();
    CLSID clsid;
    check(CLSIDFromProgID(ProgId, &clsid));
    IUnknown *running = nullptr;
    check(GetActiveObject(clsid, nullptr, &running));
    IDispatch *app = nullptr;
    const HRESULT hr = whileBusy(
        [&] { return running->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&app)); });
    running->Release();
    check(hr);
    return Dispatch(app);
}

std::wstring ComPowerPoint::name(const Dispatch &app)
{
    return getText(app, nullptr);
}

unsigned long ComPowerPoint::processId(const Dispatch &app, std::intptr_t *window)
{
    Variant result;
    getValue(app, L"HWND", result);
    if (FAILED(VariantChangeType(&result.v, &result.v, 0, VT_I4)))
        return 0;
    // A window handle travels as a 32-bit number; its upper half is the sign's.
    const HWND handle = reinterpret_cast<HWND>(static_cast<INT_PTR>(result.v.lVal));
    DWORD pid = 0;
    if (!handle || !GetWindowThreadProcessId(handle, &pid))
        return 0;
    if (window)
        *window = reinterpret_cast<std::intptr_t>(handle);
    return pid;
}

void ComPowerPoint::setVisible(const Dispatch &app, bool visible)
{
    putProperty(app, L"Visible", boolean(visible));
}

void ComPowerPoint::open(const Dispatch &app, const std::wstring &path, bool hidden)
{
    const Dispatch presentations = getObject(app, L"Presentations");
    // The method and its named arguments resolved together.
    LPOLESTR names[4] = {const_cast<LPOLESTR>(L"Open"), const_cast<LPOLESTR>(L"fileName"),
                         const_cast<LPOLESTR>(L"ReadOnly"), const_cast<LPOLESTR>(L"WithWindow")};
    const UINT count = hidden ? 4 : 2;
    DISPID ids[4] = {DISPID_UNKNOWN, DISPID_UNKNOWN, DISPID_UNKNOWN, DISPID_UNKNOWN};
    check(whileBusy([&] {
        return presentations.get()->GetIDsOfNames(IID_NULL, names, count, LOCALE_USER_DEFAULT, ids);
    }));

    Bstr file(path);
    VARIANT byReference;
    VariantInit(&byReference);
    byReference.vt = VT_BSTR | VT_BYREF;
    byReference.pbstrVal = file.address();
    std::vector<VARIANT> args{byReference};
    std::vector<DISPID> named{ids[1]};
    if (hidden) {
        // MsoTriState: msoTrue is -1, msoFalse 0.
        for (const auto &[id, value] : {std::pair{ids[2], -1L}, std::pair{ids[3], 0L}}) {
            VARIANT v;
            VariantInit(&v);
            v.vt = VT_I4;
            v.lVal = value;
            args.push_back(v);
            named.push_back(id);
        }
    }
    Variant opened; // the presentation that Open returns is not kept
    invoke(presentations.get(), ids[0], DISPATCH_METHOD, args, named, &opened.v);
}

Dispatch ComPowerPoint::activePresentation(const Dispatch &app)
{
    return getObject(app, L"ActivePresentation");
}

std::wstring ComPowerPoint::setActivePrinter(const Dispatch &app, const std::wstring &printer)
{
    const Dispatch options = getObject(activePresentation(app), L"PrintOptions");
    Bstr name(printer);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = name.get();
    putProperty(options, L"ActivePrinter", value);
    return getText(options, L"ActivePrinter");
}

void ComPowerPoint::setPrintInBackground(const Dispatch &presentation, bool background)
{
    putProperty(getObject(presentation, L"PrintOptions"), L"PrintInBackground",
                boolean(background));
}

void ComPowerPoint::printOut(const Dispatch &presentation)
{
    callMethod(presentation, L"PrintOut");
}

void ComPowerPoint::closePresentation(const Dispatch &presentation)
{
    callMethod(presentation, L"Close");
}

void ComPowerPoint::quit(const Dispatch &app)
{
    callMethod(app, L"Quit");
}

long ComPowerPoint::retryAfterBusy(Clock::time_point now, Clock::time_point deadline)
{
    if (now >= deadline)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    return static_cast<long>(std::clamp<long long>(left.count(), 100, 250));
}

// --- the apartment -------------------------------------------------------------

namespace {

/**
 * The message filter of an apartment's thread: COM asks it what to do when
 * PowerPoint refuses a call as busy, and it says "again a little later" until
 * the deadline of the call in hand. (Wine does not ask it: there the busy
 * answer comes back as the call's result, and whileBusy tries again.)
 */
// COM interfaces have no virtual destructor by design: the object deletes
// itself in Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class BusyFilter final : public IMessageFilter {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMessageFilter)) {
            *out = static_cast<IMessageFilter *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Lives as long as its thread's apartment; COM's references do not own it.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override
    {
        return SERVERCALL_ISHANDLED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD rejectType) override
    {
        if (!t_call)
            return static_cast<DWORD>(-1);
        noteBusy(rejectType == SERVERCALL_RETRYLATER ? RPC_E_SERVERCALL_RETRYLATER
                                                     : RPC_E_CALL_REJECTED);
        return static_cast<DWORD>(ComPowerPoint::retryAfterBusy(Clock::now(), t_call->deadline));
    }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override
    {
        return PENDINGMSG_WAITDEFPROCESS;
    }
};
#pragma GCC diagnostic pop

/** An event handle, closed when dropped. */
class Event {
public:
    Event() : m_h(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        if (!m_h)
            fail(HRESULT_FROM_WIN32(GetLastError()), std::wstring());
    }
    ~Event() { CloseHandle(m_h); }
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;
    HANDLE get() const { return m_h; }
    void set() const { SetEvent(m_h); }

private:
    HANDLE m_h;
};

/**
 * Waits until `done` is signalled or `deadline` passes, handling the calling
 * thread's messages meanwhile (the window's events, Qt's among them) and
 * never past the deadline. True when `done` was signalled. A WM_QUIT taken
 * from the queue is posted again when the wait is over.
 */
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
            Sleep(1);
            continue;
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

std::wstring noLongerRunningText()
{
    return std::wstring(ComPowerPoint::Name) + L" is no longer running.";
}

class Apartment;

/** A piece of work for an apartment's thread, and what to do when it never runs. */
struct Task {
    std::function<void(Apartment &)> run;
    std::function<void()> cancel;
};

/**
 * One single-threaded apartment: a thread of its own that makes every call
 * and holds every automation object (the caller holds only their numbers).
 * It is abandoned, never joined, when a call in it does not return: once
 * that call comes back (its PowerPoint stopped), the thread releases what it
 * holds and ends by itself.
 */
class Apartment {
public:
    static std::shared_ptr<Apartment> start()
    {
        auto apartment = std::make_shared<Apartment>();
        Event ready;
        HRESULT started = E_UNEXPECTED;
        try {
            std::thread([apartment, &ready, &started] { apartment->run(ready, started); }).detach();
        } catch (const std::system_error &) {
            throw ComError(L"The automation thread could not be started.",
                           static_cast<long>(E_OUTOFMEMORY));
        }
        // The thread signals as soon as COM is set up on it, a matter of milliseconds.
        WaitForSingleObject(ready.get(), INFINITE);
        check(started);
        return apartment;
    }

    Apartment() : m_wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~Apartment() { CloseHandle(m_wake); }
    Apartment(const Apartment &) = delete;
    Apartment &operator=(const Apartment &) = delete;

    /** Queues `task` for the apartment's thread; cancels it when the apartment is over. */
    void post(Task task)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_over) {
                m_tasks.push_back(std::move(task));
                SetEvent(m_wake);
                return;
            }
        }
        if (task.cancel)
            task.cancel();
    }

    /** Gives the apartment up: queued work is cancelled, the call in hand left to return. */
    void abandon()
    {
        std::deque<Task> dropped;
        {
            const std::lock_guard lock(m_mutex);
            m_abandoned = true;
            m_over = true;
            std::swap(dropped, m_tasks);
            SetEvent(m_wake);
        }
        for (Task &task : dropped)
            if (task.cancel)
                task.cancel();
    }

    /** Ends the apartment once the queued work is done; its objects are released then. */
    void finish()
    {
        const std::lock_guard lock(m_mutex);
        m_over = true;
        SetEvent(m_wake);
    }

    bool abandoned() const
    {
        const std::lock_guard lock(m_mutex);
        return m_abandoned;
    }

    // On the apartment's thread only.
    std::uint64_t keep(Dispatch object)
    {
        const std::uint64_t id = m_nextId++;
        m_objects.emplace(id, std::move(object));
        return id;
    }
    const Dispatch &object(std::uint64_t id) const
    {
        const auto found = m_objects.find(id);
        if (found == m_objects.end())
            fail(E_POINTER, L"Object variable not set");
        return found->second;
    }
    void release(std::uint64_t id) { m_objects.erase(id); }

    /** The last busy answer of the call in hand (S_OK when there was none). */
    std::atomic<long> busyAnswer{S_OK};

private:
    void run(const Event &ready, HRESULT &started)
    {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        started = hr;
        ready.set(); // `ready` and `started` belong to the starter: not touched after this
        if (FAILED(hr))
            return;
        BusyFilter filter;
        IMessageFilter *previous = nullptr;
        const bool filtered = SUCCEEDED(CoRegisterMessageFilter(&filter, &previous));
        for (;;) {
            std::deque<Task> tasks;
            bool over = false;
            {
                const std::lock_guard lock(m_mutex);
                std::swap(tasks, m_tasks);
                over = m_over;
            }
            for (Task &task : tasks) {
                if (abandoned()) {
                    if (task.cancel)
                        task.cancel();
                    continue;
                }
                task.run(*this);
            }
            if (over && tasks.empty())
                break;
            if (!tasks.empty())
                continue; // more may have come meanwhile
            // Idle: wait for work, handling what COM posts to this apartment.
            MsgWaitForMultipleObjectsEx(1, &m_wake, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        m_objects.clear();
        if (filtered) {
            CoRegisterMessageFilter(previous, nullptr);
            if (previous)
                previous->Release();
        }
        CoUninitialize();
    }

    mutable std::mutex m_mutex;
    std::deque<Task> m_tasks;
    bool m_over = false;      // takes no more work
    bool m_abandoned = false; // a call in it did not return in time
    HANDLE m_wake;
    // The apartment's thread's own.
    std::unordered_map<std::uint64_t, Dispatch> m_objects;
    std::uint64_t m_nextId = 1;
};

template <typename R> struct Outcome {
    std::optional<R> value;
    std::exception_ptr error;
    Event done;
};

// --- PowerPoint's processes ------------------------------------------------------

/** One PowerPoint process as Deckrun knows it. */
struct ServerProcess {
    DWORD pid = 0;
    HANDLE handle = nullptr; // held, so that the number is never another process's
    bool ours = false;       // started by Deckrun's create, not found running
    HWND window = nullptr;   // its main window, when it told
    bool quitAsked = false;  // Quit went through: it ends once let go

    ServerProcess(DWORD id, bool started, HWND main) : pid(id), ours(started), window(main)
    {
        handle = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                             FALSE, pid);
    }
    ~ServerProcess()
    {
        if (handle)
            CloseHandle(handle);
    }
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    bool running() const { return handle && WaitForSingleObject(handle, 0) == WAIT_TIMEOUT; }
};

std::wstring lowered(std::wstring text)
{
    for (wchar_t &c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

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

/** The file name of the program registered for the ProgID ("powerpnt.exe"); empty when none. */
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

/** The processes of this session that run the program `image`. */
std::vector<DWORD> processesOf(const std::wstring &image)
{
    std::vector<DWORD> found;
    if (image.empty())
        return found;
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
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

// --- the automation ------------------------------------------------------------

/** What the automation and every reference it handed out share. */
struct AutomationState {
    ComOptions options;
    std::wstring image = serverImageName();
    std::shared_ptr<Apartment> apartment; // where calls go; a fresh one after a hang
    std::vector<std::shared_ptr<ServerProcess>> processes; // the ones seen, while they run
    bool hungSeen = false; // a PowerPoint did not answer the running check

    void log(const std::string &text) const
    {
        if (options.log)
            options.log(text);
    }

    std::shared_ptr<Apartment> currentApartment()
    {
        if (!apartment || apartment->abandoned())
            apartment = Apartment::start();
        return apartment;
    }

    /** The process with this number, known from before or new; none for 0. */
    std::shared_ptr<ServerProcess> process(DWORD pid, bool started, std::intptr_t window)
    {
        std::erase_if(processes, [](const auto &p) { return !p->running(); });
        if (pid == 0)
            return nullptr;
        for (const auto &p : processes)
            if (p->pid == pid)
                return p;
        auto p = std::make_shared<ServerProcess>(pid, started, reinterpret_cast<HWND>(window));
        if (p->running())
            processes.push_back(p);
        return p;
    }

    /** Stops every PowerPoint of this session: when it is not known which one hangs. */
    void stopAll()
    {
        std::vector<HANDLE> stopping;
        for (const DWORD pid : processesOf(image)) {
            if (const HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid)) {
                if (TerminateProcess(h, 1))
                    stopping.push_back(h);
                else
                    CloseHandle(h);
            }
        }
        if (!waitForEnd(stopping, 5.0))
            log("a PowerPoint process did not end after it was stopped");
        for (const HANDLE h : stopping)
            CloseHandle(h);
    }

    /** Stops the process of `process`, or every PowerPoint when it is not known. */
    void stop(const std::shared_ptr<ServerProcess> &process)
    {
        if (!process || !process->handle) {
            stopAll();
            return;
        }
        if (process->running() && !TerminateProcess(process->handle, 1))
            log("PowerPoint's process " + std::to_string(process->pid) + " could not be stopped");
        if (!waitForEnd({process->handle}, 5.0))
            log("PowerPoint's process " + std::to_string(process->pid) +
                " did not end after it was stopped");
    }

    /** A PowerPoint that did not answer the running check would take the next call too. */
    void stopHungBeforeUse()
    {
        if (!hungSeen)
            return;
        hungSeen = false;
        log("stopping the PowerPoint that did not answer the running check");
        stopAll();
    }

    /**
     * Runs `work` in `apartment` with the deadline of `kind`, waiting for it
     * and handling messages meanwhile. When it outlives its deadline (also:
     * when it was refused as busy until then) the apartment is abandoned and
     * PowerPoint stopped (the running check's only counts as not running).
     */
    template <typename R, typename F>
    R call(const std::shared_ptr<Apartment> &apt, const std::shared_ptr<ServerProcess> &process,
           OfficeCall kind, F work)
    {
        if (apt->abandoned())
            throw ComError(noLongerRunningText(), static_cast<long>(CO_E_SERVER_STOPPING));
        const double seconds = officeDeadline(kind);
        const auto deadline = deadlineAfter(seconds);
        auto outcome = std::make_shared<Outcome<R>>();
        apt->post(Task{[outcome, work = std::move(work), deadline](Apartment &a) mutable {
                           CallContext context{deadline, &a.busyAnswer};
                           a.busyAnswer = S_OK;
                           t_call = &context;
                           try {
                               outcome->value.emplace(work(a));
                           } catch (...) {
                               outcome->error = std::current_exception();
                           }
                           t_call = nullptr;
                           outcome->done.set();
                       },
                       [outcome] {
                           outcome->error = std::make_exception_ptr(ComError(
                               noLongerRunningText(), static_cast<long>(CO_E_SERVER_STOPPING)));
                           outcome->done.set();
                       }});
        long busy = S_OK;
        if (waitHandlingMessages(outcome->done.get(), deadline)) {
            if (!outcome->error)
                return std::move(*outcome->value);
            try {
                std::rethrow_exception(outcome->error);
            } catch (const ComError &e) {
                // Refused as busy until the deadline: as good as no answer.
                if (!isBusy(e.code()))
                    throw;
                busy = e.code();
            }
        } else {
            busy = apt->busyAnswer.load();
        }
        expired(apt, process, kind, seconds, busy);
    }

    [[noreturn]] void expired(const std::shared_ptr<Apartment> &apt,
                              const std::shared_ptr<ServerProcess> &process, OfficeCall kind,
                              double seconds, long busy)
    {
        apt->abandon();
        if (apartment == apt)
            apartment.reset();
        const std::wstring late = std::wstring(ComPowerPoint::Name) + L" did not answer within " +
                                  secondsText(seconds) + L" seconds";
        const long code = isBusy(busy) ? busy : static_cast<long>(RPC_E_TIMEOUT);
        if (kind == OfficeCall::RunningCheck) {
            // Counts as not running; stopped when a run needs PowerPoint.
            hungSeen = true;
            throw ComError(late + L".", code);
        }
        stop(process);
        throw ComError(
            late + (isBusy(busy) ? L" and was stopped: it stayed busy." : L" and was stopped."),
            code);
    }

    void shutdown()
    {
        // What Deckrun holds is let go first: a PowerPoint told to quit ends then.
        if (apartment) {
            apartment->finish();
            apartment.reset();
        }
        std::erase_if(processes, [](const auto &p) { return !p->running(); });
        std::vector<HANDLE> ours;
        for (const auto &p : processes) {
            if (!p->ours)
                continue;
            ours.push_back(p->handle);
            // Asked to close first, as a user would; a moment, then ended.
            if (!p->quitAsked && p->window)
                PostMessageW(p->window, WM_CLOSE, 0, 0);
        }
        if (!ours.empty() && !waitForEnd(ours, 1.0)) {
            for (const HANDLE h : ours)
                if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT)
                    TerminateProcess(h, 1);
            if (!waitForEnd(ours, 5.0))
                log("the PowerPoint Deckrun started did not end when stopped");
        }
        std::erase_if(processes, [](const auto &p) { return !p->running(); });
    }
};

/** An automation object held in an apartment, as the calling thread sees it. */
struct RemoteObject {
    std::shared_ptr<AutomationState> state;
    std::shared_ptr<Apartment> apartment;
    std::uint64_t id = 0;
    std::shared_ptr<ServerProcess> process; // the PowerPoint it lives in; null when not known

    RemoteObject(std::shared_ptr<AutomationState> s, std::shared_ptr<Apartment> a,
                 std::uint64_t object, std::shared_ptr<ServerProcess> p)
        : state(std::move(s)), apartment(std::move(a)), id(object), process(std::move(p))
    {}
    ~RemoteObject()
    {
        // Released on the apartment's thread, without waiting for it.
        apartment->post(Task{[object = id](Apartment &a) { a.release(object); }, nullptr});
    }
    RemoteObject(const RemoteObject &) = delete;
    RemoteObject &operator=(const RemoteObject &) = delete;

    /** Runs `work(object)` in the apartment under the deadline of `kind`. */
    template <typename R, typename F> R call(OfficeCall kind, F work)
    {
        return state->call<R>(
            apartment, process, kind,
            [object = id, work = std::move(work)](Apartment &a) { return work(a.object(object)); });
    }

    /** A new object made in the same apartment, the same PowerPoint. */
    std::shared_ptr<RemoteObject> derived(std::uint64_t object) const
    {
        return std::make_shared<RemoteObject>(state, apartment, object, process);
    }
};

/** What the calls of one file share. */
struct FileInHand {
    std::wstring path;           // as given to Presentations.Open
    bool printerRefused = false; // ActivePrinter failed: nothing may print elsewhere
    std::wstring refusedPrinter;
};

namespace {

std::wstring fileNameOf(const std::wstring &path)
{
    const auto cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

/** Whether PowerPoint now prints on `wanted`: its name, in any case, or "NAME on PORT". */
bool printerTaken(const std::wstring &wanted, const std::wstring &now)
{
    const std::wstring a = lowered(wanted);
    const std::wstring b = lowered(now);
    return a == b ||
           (b.size() > a.size() + 4 && b.starts_with(a) && b.compare(a.size(), 4, L" on ") == 0);
}

} // namespace

PowerPointPresentation::PowerPointPresentation(std::shared_ptr<RemoteObject> presentation,
                                               std::shared_ptr<FileInHand> file)
    : m_presentation(std::move(presentation)), m_file(std::move(file))
{}

void PowerPointPresentation::setPrintInBackground(bool background)
{
    m_presentation->call<bool>(OfficeCall::Printer, [background](const Dispatch &p) {
        ComPowerPoint::setPrintInBackground(p, background);
        return true;
    });
}

void PowerPointPresentation::printOut()
{
    if (m_file && m_file->printerRefused) {
        const std::wstring file = L"\"" + fileNameOf(m_file->path) + L"\"";
        throw ComError(m_file->refusedPrinter.empty()
                           ? file + L" was not printed: no printer was chosen."
                           : file + L" was not printed: the printer \"" + m_file->refusedPrinter +
                                 L"\" could not be set.",
                       static_cast<long>(E_ABORT));
    }
    m_presentation->call<bool>(OfficeCall::Print, [](const Dispatch &p) {
        ComPowerPoint::printOut(p);
        return true;
    });
}

void PowerPointPresentation::close()
{
    m_presentation->call<bool>(OfficeCall::Quit, [](const Dispatch &p) {
        ComPowerPoint::closePresentation(p);
        return true;
    });
}

PowerPointApp::PowerPointApp(std::shared_ptr<RemoteObject> app, std::shared_ptr<FileInHand> file)
    : m_app(std::move(app)), m_file(std::move(file))
{}

std::wstring PowerPointApp::name()
{
    return m_app->call<std::wstring>(OfficeCall::RunningCheck,
                                     [](const Dispatch &a) { return ComPowerPoint::name(a); });
}

void PowerPointApp::setVisible(bool visible)
{
    m_app->call<bool>(OfficeCall::Start, [visible](const Dispatch &a) {
        ComPowerPoint::setVisible(a, visible);
        return true;
    });
}

void PowerPointApp::open(const std::wstring &path)
{
    m_file->path = path;
    m_app->call<bool>(OfficeCall::Load, [path](const Dispatch &a) {
        ComPowerPoint::open(a, path);
        return true;
    });
}

void PowerPointApp::openHidden(const std::wstring &path)
{
    m_file->path = path;
    m_app->call<bool>(OfficeCall::Load, [path](const Dispatch &a) {
        ComPowerPoint::open(a, path, true);
        return true;
    });
}

std::shared_ptr<PowerPointPresentation> PowerPointApp::activePresentation()
{
    // A short read: the deadline of the printer's calls.
    const std::uint64_t presentation = m_app->state->call<std::uint64_t>(
        m_app->apartment, m_app->process, OfficeCall::Printer, [object = m_app->id](Apartment &a) {
            return a.keep(ComPowerPoint::activePresentation(a.object(object)));
        });
    return std::make_shared<PowerPointPresentation>(m_app->derived(presentation), m_file);
}

void PowerPointApp::setActivePrinter(const std::wstring &printer)
{
    m_file->printerRefused = true; // until PowerPoint has taken it
    m_file->refusedPrinter = printer;
    const std::wstring now =
        m_app->call<std::wstring>(OfficeCall::Printer, [printer](const Dispatch &a) {
            return ComPowerPoint::setActivePrinter(a, printer);
        });
    if (!printerTaken(printer, now))
        throw ComError(L"PrintOptions.ActivePrinter : " + std::wstring(ComPowerPoint::Name) +
                           L" did not take the printer \"" + printer + L"\"; it kept \"" + now +
                           L"\".",
                       static_cast<long>(E_FAIL));
    m_file->printerRefused = false;
    m_file->refusedPrinter.clear();
}

void PowerPointApp::quit()
{
    // A PowerPoint stopped after a deadline has quit already.
    if (m_app->apartment->abandoned())
        return;
    m_app->call<bool>(OfficeCall::Quit, [](const Dispatch &a) {
        ComPowerPoint::quit(a);
        return true;
    });
    if (m_app->process)
        m_app->process->quitAsked = true;
}

PowerPointAutomation::PowerPointAutomation(ComOptions options)
    : m_state(std::make_shared<AutomationState>())
{
    m_state->options = std::move(options);
}

PowerPointAutomation::~PowerPointAutomation()
{
    shutdown();
}

namespace {

struct Found {
    std::uint64_t id = 0;
    DWORD pid = 0;
    std::intptr_t window = 0;
    bool wasRunning = false;
};

/**
 * The process of a PowerPoint just obtained: from its window, else the one
 * that appeared since `before` (none for one found running).
 */
DWORD processOf(const Dispatch &app, const std::vector<DWORD> *before, const std::wstring &image,
                std::intptr_t &window)
{
    try {
        if (const DWORD pid = ComPowerPoint::processId(app, &window))
            return pid;
    } catch (const ComError &e) {
        if (isBusy(e.code()))
            throw; // busy until the deadline: as good as no answer
    }
    if (!before || image.empty())
        return 0;
    std::vector<DWORD> appeared;
    for (const DWORD pid : processesOf(image))
        if (std::find(before->begin(), before->end(), pid) == before->end())
            appeared.push_back(pid);
    return appeared.size() == 1 ? appeared.front() : 0;
}

} // namespace

std::shared_ptr<PowerPointApp> PowerPointAutomation::create()
{
    AutomationState &s = *m_state;
    s.stopHungBeforeUse();
    const auto apt = s.currentApartment();
    const Found found =
        s.call<Found>(apt, nullptr, OfficeCall::Start, [image = s.image](Apartment &a) {
            const std::vector<DWORD> before = processesOf(image);
            Dispatch app = ComPowerPoint::create();
            Found f;
            f.pid = processOf(app, &before, image, f.window);
            f.wasRunning = std::find(before.begin(), before.end(), f.pid) != before.end();
            f.id = a.keep(std::move(app));
            return f;
        });
    auto remote = std::make_shared<RemoteObject>(
        m_state, apt, found.id, s.process(found.pid, !found.wasRunning, found.window));
    return std::make_shared<PowerPointApp>(std::move(remote), std::make_shared<FileInHand>());
}

std::shared_ptr<PowerPointApp> PowerPointAutomation::getRunning()
{
    AutomationState &s = *m_state;
    const auto apt = s.currentApartment();
    const Found found =
        s.call<Found>(apt, nullptr, OfficeCall::RunningCheck, [image = s.image](Apartment &a) {
            Dispatch app = ComPowerPoint::getRunning();
            Found f;
            f.pid = processOf(app, nullptr, image, f.window);
            f.wasRunning = true;
            f.id = a.keep(std::move(app));
            return f;
        });
    auto remote = std::make_shared<RemoteObject>(m_state, apt, found.id,
                                                 s.process(found.pid, false, found.window));
    return std::make_shared<PowerPointApp>(std::move(remote), std::make_shared<FileInHand>());
}

bool PowerPointAutomation::registered()
{
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(ComPowerPoint::ProgId, &clsid)))
        return false;
    LPOLESTR text = nullptr;
    if (FAILED(StringFromCLSID(clsid, &text)))
        return false;
    const std::wstring key = L"CLSID\\" + std::wstring(text) + L"\\LocalServer32";
    CoTaskMemFree(text);
    HKEY server = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &server) != ERROR_SUCCESS)
        return false;
    RegCloseKey(server);
    return true;
}

void PowerPointAutomation::shutdown()
{
    m_state->shutdown();
}

} // namespace deckrun::com
