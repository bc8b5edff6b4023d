// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/com/ComPowerPoint.h"

#include <utility>
#include <vector>

namespace deckrun::com {

namespace {

/** PowerPoint's failures without a description of its own read "Microsoft PowerPoint reported ...".
 */
constexpr LateBound powerPoint{ComPowerPoint::Name};

} // namespace

bool ComPowerPoint::registered()
{
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(ProgId, &clsid)))
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
    return powerPoint.getText(app, nullptr);
}

unsigned long ComPowerPoint::processId(const Dispatch &app, std::intptr_t *window)
{
    Variant result;
    powerPoint.getValue(app, L"HWND", result);
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
    powerPoint.putProperty(app, L"Visible", boolean(visible));
}

void ComPowerPoint::open(const Dispatch &app, const std::wstring &path, bool hidden)
{
    const Dispatch presentations = powerPoint.getObject(app, L"Presentations");
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
    powerPoint.invoke(presentations.get(), ids[0], DISPATCH_METHOD, args, named, &opened.v);
}

Dispatch ComPowerPoint::activePresentation(const Dispatch &app)
{
    return powerPoint.getObject(app, L"ActivePresentation");
}

std::wstring ComPowerPoint::setActivePrinter(const Dispatch &app, const std::wstring &printer)
{
    const Dispatch options = powerPoint.getObject(activePresentation(app), L"PrintOptions");
    Bstr name(printer);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = name.get();
    powerPoint.putProperty(options, L"ActivePrinter", value);
    return powerPoint.getText(options, L"ActivePrinter");
}

void ComPowerPoint::setPrintInBackground(const Dispatch &presentation, bool background)
{
    powerPoint.putProperty(powerPoint.getObject(presentation, L"PrintOptions"),
                           L"PrintInBackground", boolean(background));
}

Dispatch ComPowerPoint::printOptions(const Dispatch &presentation)
{
    return powerPoint.getObject(presentation, L"PrintOptions");
}

void ComPowerPoint::setPrintOption(const Dispatch &options, const wchar_t *member, long value,
                                   bool triState)
{
    powerPoint.putProperty(options, member, triState ? boolean(value != 0) : number(value));
}

long ComPowerPoint::printOption(const Dispatch &options, const wchar_t *member)
{
    return powerPoint.getNumber(options, member);
}

void ComPowerPoint::setSlideRanges(const Dispatch &options,
                                   const std::vector<std::pair<long, long>> &ranges)
{
    const Dispatch all = powerPoint.getObject(options, L"Ranges");
    powerPoint.callMethod(all, L"ClearAll");
    for (const auto &[from, to] : ranges) {
        Variant added; // the range Add returns is not kept
        powerPoint.callWith(all, L"Add", {number(from), number(to)}, added);
    }
}

std::vector<std::pair<long, long>> ComPowerPoint::slideRanges(const Dispatch &options)
{
    const Dispatch all = powerPoint.getObject(options, L"Ranges");
    const long count = powerPoint.getNumber(all, L"Count");
    std::vector<std::pair<long, long>> ranges;
    for (long i = 1; i <= count; ++i) {
        Variant item;
        powerPoint.callWith(all, L"Item", {number(i)}, item);
        if (item.v.vt != VT_DISPATCH || !item.v.pdispVal)
            fail(E_NOINTERFACE, L"Object required");
        item.v.pdispVal->AddRef();
        const Dispatch range(item.v.pdispVal);
        ranges.emplace_back(powerPoint.getNumber(range, L"Start"),
                            powerPoint.getNumber(range, L"End"));
    }
    return ranges;
}

void ComPowerPoint::printOut(const Dispatch &presentation)
{
    powerPoint.callMethod(presentation, L"PrintOut");
}

void ComPowerPoint::closePresentation(const Dispatch &presentation)
{
    powerPoint.callMethod(presentation, L"Close");
}

void ComPowerPoint::quit(const Dispatch &app)
{
    powerPoint.callMethod(app, L"Quit");
}

} // namespace deckrun::com
