// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in's automation objects: IDispatch by member name through the
// tables of members, every call recorded with its argument types, refused as
// busy or hung as the script says, then answered by the member's handler.

#include "StandInState.h"

#include <algorithm>
#include <fstream>

namespace standin {

std::vector<IDispatch *> liveObjects;

namespace {

constexpr DWORD HangLimitMs = 120000; // a hung call ends with the process after this long

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
    case Kind::PrintRanges:
        return L"PrintRanges";
    case Kind::PrintRange:
        return L"PrintRange";
    }
    return L"?";
}

/** The application's members are the same whichever object a client holds. */
Kind memberKind(Kind k)
{
    return isApplication(k) ? Kind::FoundApplication : k;
}

template <typename F> void eachMember(F &&f)
{
    for (const auto members : {applicationMembers(), printMembers()})
        for (const Member &m : members)
            f(m);
}

const Member *memberOf(Kind kind, DISPID id)
{
    const Member *found = nullptr;
    eachMember([&](const Member &m) {
        if (m.kind == memberKind(kind) && m.id == id)
            found = &m;
    });
    return found;
}

DISPID idOf(Kind kind, const wchar_t *name)
{
    DISPID id = DISPID_UNKNOWN;
    eachMember([&](const Member &m) {
        if (m.kind == memberKind(kind) && _wcsicmp(m.name, name) == 0)
            id = m.id;
    });
    return id;
}

std::wstring memberName(Kind kind, DISPID id)
{
    if (id == DISPID_VALUE)
        return L"[default]";
    const Member *m = memberOf(kind, id);
    return m ? m->name : L"#" + std::to_wstring(id);
}

const NamedArgument *argumentOf(Kind kind, DISPID member, DISPID id)
{
    for (const NamedArgument &a : applicationArguments())
        if (a.kind == memberKind(kind) && a.member == member && a.id == id)
            return &a;
    return nullptr;
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

/** "put (VT_BOOL -1)", "call (fileName: VT_BSTR|VT_BYREF "x")": how a call came. */
std::wstring describeCall(Kind kind, DISPID member, WORD flags, const DISPPARAMS *params)
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
            const NamedArgument *a =
                (flags & DISPATCH_METHOD) ? argumentOf(kind, member, id) : nullptr;
            if (a)
                label = std::wstring(a->name) + L":";
            else if (id != DISPID_PROPERTYPUT)
                label = L"#" + std::to_wstring(id) + L":";
        }
        if (!args.empty())
            args += L", ";
        args += (label.empty() ? L"" : label + L" ") + typeName(v.vt) + L" " + valueText(v);
    }
    return how + L" (" + args + L")";
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
 * stuck print driver. It comes back (failed) when whoever started the
 * stand-in asks it to end; the process ends when its starter has ended (or
 * after a long while), so that a stand-in nobody stopped does not outlive the test.
 */
HRESULT hang(const std::wstring &what)
{
    record(L"hang " + what);
    HANDLE waits[2] = {server.endAsked, server.starter};
    const DWORD count = server.starter ? 2 : 1;
    if (WaitForMultipleObjects(count, waits, FALSE, HangLimitMs) == WAIT_OBJECT_0)
        return RPC_E_DISCONNECTED; // the loop ends next, as asked
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

/**
 * A busy application refuses calls: the first N calls of a run, each call for
 * a while, or, behind a dialog, every call.
 */
bool refuseAsBusy(const std::wstring &what)
{
    if (!server.dialog && server.busyAnswers >= server.script.busy && !stillBusyFor(what))
        return false;
    ++server.busyAnswers;
    const std::wstring &which = server.script.busyAnswer;
    const bool rejected = which.empty() ? server.busyAnswers % 2 == 1 : which == L"rejected";
    server.lastBusy = rejected ? RPC_E_CALL_REJECTED : RPC_E_SERVERCALL_RETRYLATER;
    record(L"busy " + what +
           (rejected ? L" RPC_E_CALL_REJECTED" : L" RPC_E_SERVERCALL_RETRYLATER"));
    return true;
}

class Automation final : public IDispatch {
public:
    Automation(Kind kind, int index) : m_kind(kind), m_index(index)
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
        const bool quit = isApplication(m_kind) && _wcsicmp(names[0], L"Quit") == 0;
        if ((!quit || server.dialog) &&
            refuseAsBusy(std::wstring(L"GetIDsOfNames ") + kindName(m_kind) + L"." + names[0]))
            return server.lastBusy;
        ids[0] = idOf(m_kind, names[0]);
        HRESULT hr = ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
        for (UINT i = 1; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (const NamedArgument &a : applicationArguments())
                if (a.kind == memberKind(m_kind) && a.member == ids[0] &&
                    _wcsicmp(a.name, names[i]) == 0)
                    ids[i] = a.id;
            if (ids[i] == DISPID_UNKNOWN)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params,
                                     VARIANT *result, EXCEPINFO *error, UINT *) override
    {
        server.lastCall = GetTickCount();
        const std::wstring member = memberName(m_kind, id);
        const std::wstring what = std::wstring(kindName(m_kind)) + L"." + member;
        const bool quit = isApplication(m_kind) && id == QuitId;
        if ((!quit || server.dialog) && refuseAsBusy(L"Invoke " + what))
            return server.lastBusy;
        record(what + L" " + describeCall(m_kind, id, flags, params));
        if (hangs(member))
            return hang(what);

        const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
        const UINT argCount = params ? params->cArgs : 0;
        // A put as PowerPoint takes it: one value, by value, named DISPID_PROPERTYPUT.
        if (put && (argCount != 1 || params->cNamedArgs != 1 ||
                    params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
            return DISP_E_PARAMNOTFOUND;
        if (put && (params->rgvarg[0].vt & VT_BYREF))
            return DISP_E_TYPEMISMATCH;
        const Member *m = id == DISPID_VALUE ? memberOf(m_kind, 1) : memberOf(m_kind, id);
        if (!m || (id == DISPID_VALUE && !isApplication(m_kind)))
            return DISP_E_MEMBERNOTFOUND;
        return m->handler(Call{m_kind, m_index, flags, params, result, error,
                               (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0,
                               put ? &params->rgvarg[0] : nullptr, argCount});
    }

private:
    Kind m_kind;
    int m_index;
    LONG m_refs = 1;
};

} // namespace

IDispatch *newObject(Kind kind, int index)
{
    return new Automation(kind, index);
}

void record(const std::wstring &line)
{
    std::ofstream out((server.folder + L"\\calls.log").c_str(), std::ios::app | std::ios::binary);
    out << utf8(line) << "\n";
}

HRESULT raise(EXCEPINFO *error, const std::wstring &description, WORD number, HRESULT scode)
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

HRESULT text(VARIANT *result, const std::wstring &value)
{
    if (result) {
        VariantInit(result);
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(value.c_str());
    }
    return S_OK;
}

HRESULT integer(VARIANT *result, LONG value)
{
    if (result) {
        VariantInit(result);
        result->vt = VT_I4;
        result->lVal = value;
    }
    return S_OK;
}

HRESULT boolean(VARIANT *result, bool value)
{
    if (result) {
        VariantInit(result);
        result->vt = VT_BOOL;
        result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
    return S_OK;
}

HRESULT object(VARIANT *result, Kind kind, int index)
{
    if (result) {
        VariantInit(result);
        result->vt = VT_DISPATCH;
        result->pdispVal = newObject(kind, index); // one reference, the caller's
    }
    return S_OK;
}

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

bool longArgument(const VARIANT &v, long &out)
{
    VARIANT copy;
    VariantInit(&copy);
    if (FAILED(VariantChangeType(&copy, const_cast<VARIANT *>(&v), 0, VT_I4)))
        return false;
    out = copy.lVal;
    return true;
}

} // namespace standin
