// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/com/ComDispatch.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <string_view>
#include <utility>

namespace deckrun::com {

namespace {

using Clock = std::chrono::steady_clock;

thread_local const CallInHand *t_call = nullptr;

std::wstring hexCode(long code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

std::wstring systemMessage(HRESULT hr)
{
    const std::wstring text = systemText(hr);
    return text.empty() ? L"Automation error " + hexCode(hr) : text;
}

/**
 * The failure an exception raised by the server stands for: its own
 * description, whole; without one, the server's error number (never the
 * system's text for that number: 1004 is not "Invalid flags.").
 */
[[noreturn]] void raiseException(EXCEPINFO &error, const std::wstring &server)
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
    if (number)
        throw ComError(server + L" reported error " + std::to_wstring(number) + L".", number);
    if (scode) {
        const std::wstring text = systemText(scode);
        throw ComError(text.empty() ? server + L" reported error " + hexCode(scode) + L"." : text,
                       scode);
    }
    throw ComError(server + L" reported an error without saying which.",
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

} // namespace

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

CallInHand::CallInHand(Clock::time_point deadline, std::atomic<long> &busyAnswer)
    : m_deadline(deadline), m_busyAnswer(busyAnswer)
{
    t_call = this;
}

CallInHand::~CallInHand()
{
    t_call = nullptr;
}

const CallInHand *CallInHand::current()
{
    return t_call;
}

bool isBusy(HRESULT hr)
{
    return hr == RPC_E_CALL_REJECTED || hr == RPC_E_SERVERCALL_RETRYLATER;
}

void fail(HRESULT hr, const std::wstring &what)
{
    throw ComError(what.empty() ? systemMessage(hr) : what, static_cast<long>(hr));
}

void check(HRESULT hr)
{
    if (FAILED(hr))
        fail(hr, std::wstring());
}

// This runs on the apartment's thread: the window's thread waits elsewhere,
// handling its events.
HRESULT whileBusy(const std::function<HRESULT()> &call)
{
    DWORD pause = 20;
    for (;;) {
        const HRESULT hr = call();
        if (!isBusy(hr))
            return hr;
        if (!t_call)
            return hr;
        t_call->noteBusy(hr);
        const Clock::time_point deadline = t_call->deadline();
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return hr;
        Sleep(static_cast<DWORD>(std::min<long long>(pause, left.count())));
        pause = std::min<DWORD>(pause * 2, 250);
    }
}

void ensureCom()
{
    if (t_call)
        return;
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE)
        fail(hr, std::wstring());
}

std::wstring wholeText(BSTR text)
{
    std::wstring out;
    if (text)
        for (const wchar_t c : std::wstring_view(text, SysStringLen(text)))
            if (c != L'\0')
                out += c;
    return out;
}

VARIANT boolean(bool value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; // true is -1
    return v;
}

VARIANT number(long value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

void LateBound::invoke(IDispatch *object, DISPID id, WORD flags, std::vector<VARIANT> &argsReversed,
                       std::vector<DISPID> &named, VARIANT *result) const
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
        raiseException(error, m_server);
    check(hr);
}

void LateBound::getValue(const Dispatch &object, const wchar_t *member, Variant &result) const
{
    std::vector<VARIANT> none;
    std::vector<DISPID> noNames;
    invoke(object.get(), member ? memberId(object.get(), member) : DISPID_VALUE,
           DISPATCH_PROPERTYGET | DISPATCH_METHOD, none, noNames, &result.v);
}

std::wstring LateBound::getText(const Dispatch &object, const wchar_t *member) const
{
    Variant result;
    getValue(object, member, result);
    check(VariantChangeType(&result.v, &result.v, 0, VT_BSTR));
    return wholeText(result.v.bstrVal);
}

long LateBound::getNumber(const Dispatch &object, const wchar_t *member) const
{
    Variant result;
    getValue(object, member, result);
    check(VariantChangeType(&result.v, &result.v, 0, VT_I4));
    return result.v.lVal;
}

Dispatch LateBound::getObject(const Dispatch &object, const wchar_t *member) const
{
    Variant result;
    getValue(object, member, result);
    if (result.v.vt != VT_DISPATCH || !result.v.pdispVal)
        fail(E_NOINTERFACE, L"Object required");
    result.v.pdispVal->AddRef();
    return Dispatch(result.v.pdispVal);
}

void LateBound::putProperty(const Dispatch &object, const wchar_t *member, VARIANT value) const
{
    std::vector<VARIANT> args{value};
    std::vector<DISPID> named{DISPID_PROPERTYPUT};
    invoke(object.get(), memberId(object.get(), member), DISPATCH_PROPERTYPUT, args, named,
           nullptr);
}

void LateBound::callMethod(const Dispatch &object, const wchar_t *member) const
{
    std::vector<VARIANT> none;
    std::vector<DISPID> noNames;
    Variant result;
    invoke(object.get(), memberId(object.get(), member), DISPATCH_METHOD, none, noNames, &result.v);
}

void LateBound::callWith(const Dispatch &object, const wchar_t *member, std::vector<VARIANT> args,
                         Variant &result) const
{
    std::reverse(args.begin(), args.end()); // DISPPARAMS holds the last argument first
    std::vector<DISPID> noNames;
    invoke(object.get(), memberId(object.get(), member), DISPATCH_METHOD, args, noNames, &result.v);
}

} // namespace deckrun::com
