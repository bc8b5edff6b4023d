// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/com/ComPowerPoint.h"

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace deckrun::com {

namespace {

std::string narrow(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text)
        out += (c > 0 && c < 128) ? static_cast<char>(c) : '?';
    return out;
}

std::wstring systemMessage(HRESULT hr)
{
    wchar_t *buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text = n && buffer ? std::wstring(buffer, n) : L"Automation error";
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

std::chrono::milliseconds busyLimitNow{30000};

bool isBusy(HRESULT hr)
{
    return hr == RPC_E_CALL_REJECTED || hr == RPC_E_SERVERCALL_RETRYLATER;
}

[[noreturn]] void fail(HRESULT hr, const std::wstring &what)
{
    if (what.empty() && isBusy(hr)) {
        const auto ms = busyLimitNow.count();
        const std::wstring limit =
            ms % 1000 == 0 ? std::to_wstring(ms / 1000) + L" s" : std::to_wstring(ms) + L" ms";
        throw ComError(L"The application stayed busy and refused the call for " + limit + L": " +
                           systemMessage(hr),
                       static_cast<long>(hr));
    }
    throw ComError(what.empty() ? systemMessage(hr) : what, static_cast<long>(hr));
}

void check(HRESULT hr)
{
    if (FAILED(hr))
        fail(hr, std::wstring());
}

// Makes one call into the application, again while it answers busy, until it
// goes through or the limit has passed (what the busy answer asks a caller to do).
template <typename Call> HRESULT whileBusy(Call &&call)
{
    const auto deadline = std::chrono::steady_clock::now() + busyLimitNow;
    DWORD pause = 20;
    for (;;) {
        const HRESULT hr = call();
        if (!isBusy(hr) || std::chrono::steady_clock::now() >= deadline)
            return hr;
        Sleep(pause);
        pause = std::min<DWORD>(pause * 2, 250);
    }
}

/** COM on the calling (window) thread; Qt may already have set it up. */
void ensureCom()
{
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
    if (hr == DISP_E_EXCEPTION) {
        if (error.pfnDeferredFillIn)
            error.pfnDeferredFillIn(&error);
        std::wstring description =
            error.bstrDescription ? std::wstring(error.bstrDescription) : std::wstring();
        const HRESULT code = error.scode ? error.scode : static_cast<HRESULT>(error.wCode);
        SysFreeString(error.bstrSource);
        SysFreeString(error.bstrDescription);
        SysFreeString(error.bstrHelpFile);
        fail(code ? code : hr, description);
    }
    check(hr);
}

Dispatch getObject(const Dispatch &object, const wchar_t *member)
{
    std::vector<VARIANT> none;
    std::vector<DISPID> noNames;
    Variant result;
    invoke(object.get(), memberId(object.get(), member), DISPATCH_PROPERTYGET | DISPATCH_METHOD,
           none, noNames, &result.v);
    if (result.v.vt != VT_DISPATCH || !result.v.pdispVal)
        fail(E_NOINTERFACE, L"Object required");
    result.v.pdispVal->AddRef();
    return Dispatch(result.v.pdispVal);
}

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

std::chrono::milliseconds ComPowerPoint::busyLimit()
{
    return busyLimitNow;
}

void ComPowerPoint::setBusyLimit(std::chrono::milliseconds limit)
{
    busyLimitNow = limit;
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
    std::vector<VARIANT> none;
    std::vector<DISPID> noNames;
    Variant result;
    invoke(app.get(), DISPID_VALUE, DISPATCH_PROPERTYGET | DISPATCH_METHOD, none, noNames,
           &result.v);
    check(VariantChangeType(&result.v, &result.v, 0, VT_BSTR));
    return result.v.bstrVal ? std::wstring(result.v.bstrVal, SysStringLen(result.v.bstrVal))
                            : std::wstring();
}

void ComPowerPoint::setVisible(const Dispatch &app, bool visible)
{
    putProperty(app, L"Visible", boolean(visible));
}

void ComPowerPoint::open(const Dispatch &app, const std::wstring &path)
{
    const Dispatch presentations = getObject(app, L"Presentations");
    // The method and its one named argument resolved together.
    LPOLESTR names[2] = {const_cast<LPOLESTR>(L"Open"), const_cast<LPOLESTR>(L"fileName")};
    DISPID ids[2] = {DISPID_UNKNOWN, DISPID_UNKNOWN};
    check(whileBusy([&] {
        return presentations.get()->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids);
    }));

    Bstr file(path);
    VARIANT byReference;
    VariantInit(&byReference);
    byReference.vt = VT_BSTR | VT_BYREF;
    byReference.pbstrVal = file.address();
    std::vector<VARIANT> args{byReference};
    std::vector<DISPID> named{ids[1]};
    Variant opened; // the presentation that Open returns is not kept
    invoke(presentations.get(), ids[0], DISPATCH_METHOD, args, named, &opened.v);
}

Dispatch ComPowerPoint::activePresentation(const Dispatch &app)
{
    return getObject(app, L"ActivePresentation");
}

void ComPowerPoint::setActivePrinter(const Dispatch &app, const std::wstring &printer)
{
    const Dispatch options = getObject(activePresentation(app), L"PrintOptions");
    Bstr name(printer);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = name.get();
    putProperty(options, L"ActivePrinter", value);
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

} // namespace

PowerPointPresentation::PowerPointPresentation(Dispatch presentation,
                                               std::shared_ptr<FileInHand> file)
    : m_presentation(std::move(presentation)), m_file(std::move(file))
{}

void PowerPointPresentation::setPrintInBackground(bool background)
{
    ComPowerPoint::setPrintInBackground(m_presentation, background);
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
    ComPowerPoint::printOut(m_presentation);
}

void PowerPointPresentation::close()
{
    ComPowerPoint::closePresentation(m_presentation);
}

PowerPointApp::PowerPointApp(Dispatch app)
    : m_app(std::move(app)), m_file(std::make_shared<FileInHand>())
{}

PowerPointApp PowerPointApp::create()
{
    return PowerPointApp(ComPowerPoint::create());
}

PowerPointApp PowerPointApp::getRunning()
{
    return PowerPointApp(ComPowerPoint::getRunning());
}

std::wstring PowerPointApp::name() const
{
    return ComPowerPoint::name(m_app);
}

void PowerPointApp::setVisible(bool visible)
{
    ComPowerPoint::setVisible(m_app, visible);
}

void PowerPointApp::open(const std::wstring &path)
{
    m_file->path = path;
    ComPowerPoint::open(m_app, path);
}

PowerPointPresentation PowerPointApp::activePresentation()
{
    return PowerPointPresentation(ComPowerPoint::activePresentation(m_app), m_file);
}

void PowerPointApp::setActivePrinter(const std::wstring &printer)
{
    try {
        ComPowerPoint::setActivePrinter(m_app, printer);
        m_file->printerRefused = false;
    } catch (const ComError &) {
        m_file->printerRefused = true;
        m_file->refusedPrinter = printer;
        throw;
    }
}

void PowerPointApp::quit()
{
    ComPowerPoint::quit(m_app);
}

} // namespace deckrun::com
