// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in presentation's members: PrintOut, Close and PrintOptions with
// the options a print run sets (the printer, background printing, what each
// sheet shows and how, copies, the slide ranges). The options start as the
// deck's own ("deck=" in the script); one scripted "not-kept" is taken
// without an error and not kept, as PowerPoint may do.

#include "StandInState.h"

#include <algorithm>

namespace standin {

namespace {

HRESULT outOfRange(const Call &c, const std::wstring &where, long value, long low, long high)
{
    return raise(c.error, where + L" : Integer out of range. " + std::to_wstring(value) +
                              L" is not in the valid range of " + std::to_wstring(low) + L" to " +
                              std::to_wstring(high) + L".");
}

// --- the presentation ----------------------------------------------------------

HRESULT printOptions(const Call &c)
{
    return c.get ? object(c.result, Kind::PrintOptions) : DISP_E_MEMBERNOTFOUND;
}

HRESULT printOut(const Call &c)
{
    if (!(c.flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    return c.argCount == 0 ? S_OK : DISP_E_BADPARAMCOUNT;
}

HRESULT close(const Call &c)
{
    if (!(c.flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    server.opened = false;
    return S_OK;
}

// --- its print options -----------------------------------------------------------

HRESULT activePrinter(const Call &c)
{
    if (c.value) {
        std::wstring name;
        if (!textArgument(*c.value, name))
            return DISP_E_TYPEMISMATCH;
        for (const std::wstring &known : server.script.printers) {
            if (known == name) {
                // Accepted, and kept elsewhere when so scripted.
                server.printer = server.script.keepsPrinter ? server.script.printerKept : name;
                return S_OK;
            }
        }
        return raise(c.error, L"PrintOptions.ActivePrinter : Invalid request.  "
                              L"Printer name is not valid.");
    }
    return c.get ? text(c.result, server.printer) : DISP_E_MEMBERNOTFOUND;
}

HRESULT printInBackground(const Call &c)
{
    if (!c.value)
        return DISP_E_MEMBERNOTFOUND;
    if (c.value->vt != VT_BOOL)
        return DISP_E_TYPEMISMATCH;
    server.printInBackground = c.value->boolVal != VARIANT_FALSE;
    return S_OK;
}

/** A print option that is a number: its values, or an MsoTriState (msoTrue -1, msoFalse 0). */
struct NumberOption {
    const wchar_t *name;
    DISPID id;
    long low, high; // for a tri-state: -1 and 0
};

const NumberOption NumberOptions[] = {
    {L"OutputType", 32, 1, 10},  {L"PrintColorType", 33, 1, 3},
    {L"FrameSlides", 34, -1, 0}, {L"PrintHiddenSlides", 35, -1, 0},
    {L"FitToPage", 36, -1, 0},   {L"NumberOfCopies", 37, 1, 9999},
    {L"Collate", 38, -1, 0},     {L"RangeType", 39, 1, 6},
    {L"HandoutOrder", 41, 1, 2},
};

HRESULT numberOption(const Call &c, const NumberOption &o)
{
    long &now = server.print.values[o.name];
    if (!c.value)
        return c.get ? integer(c.result, now) : DISP_E_MEMBERNOTFOUND;
    long value = 0;
    if (!longArgument(*c.value, value))
        return DISP_E_TYPEMISMATCH;
    if (value < o.low || value > o.high)
        return outOfRange(c, std::wstring(L"PrintOptions.") + o.name, value, o.low, o.high);
    const auto &notKept = server.script.notKept;
    if (std::find(notKept.begin(), notKept.end(), o.name) == notKept.end())
        now = value;
    return S_OK;
}

template <size_t I> HRESULT numberOptionAt(const Call &c)
{
    return numberOption(c, NumberOptions[I]);
}

HRESULT ranges(const Call &c)
{
    return c.get ? object(c.result, Kind::PrintRanges) : DISP_E_MEMBERNOTFOUND;
}

// --- its slide ranges --------------------------------------------------------------

HRESULT clearAll(const Call &c)
{
    if (!(c.flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    server.print.ranges.clear();
    return S_OK;
}

HRESULT add(const Call &c)
{
    if (!(c.flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    long first = 0, last = 0;
    // Start and End, by position: the last argument comes first.
    if (c.argCount != 2 || c.params->cNamedArgs != 0)
        return DISP_E_BADPARAMCOUNT;
    if (!longArgument(c.params->rgvarg[1], first) || !longArgument(c.params->rgvarg[0], last))
        return DISP_E_TYPEMISMATCH;
    const long slides = server.script.slides;
    for (const long slide : {first, last})
        if (slide < 1 || slide > slides)
            return outOfRange(c, L"PrintRanges.Add", slide, 1, slides);
    server.print.ranges.emplace_back(first, std::max(first, last));
    return object(c.result, Kind::PrintRange, static_cast<int>(server.print.ranges.size()));
}

HRESULT count(const Call &c)
{
    return c.get ? integer(c.result, static_cast<LONG>(server.print.ranges.size()))
                 : DISP_E_MEMBERNOTFOUND;
}

HRESULT item(const Call &c)
{
    long index = 0;
    if (!c.get || c.argCount != 1 || !longArgument(c.params->rgvarg[0], index))
        return DISP_E_BADPARAMCOUNT;
    const long n = static_cast<long>(server.print.ranges.size());
    if (index < 1 || index > n)
        return outOfRange(c, L"PrintRanges.Item", index, 1, n);
    return object(c.result, Kind::PrintRange, static_cast<int>(index));
}

HRESULT rangeEnd(const Call &c, bool start)
{
    if (!c.get || c.index < 1 || c.index > static_cast<int>(server.print.ranges.size()))
        return DISP_E_MEMBERNOTFOUND;
    const auto &[first, last] = server.print.ranges[static_cast<size_t>(c.index - 1)];
    return integer(c.result, start ? first : last);
}

const Member Members[] = {
    {Kind::Presentation, L"PrintOptions", 20, printOptions},
    {Kind::Presentation, L"PrintOut", 21, printOut},
    {Kind::Presentation, L"Close", 22, close},
    {Kind::PrintOptions, L"ActivePrinter", 30, activePrinter},
    {Kind::PrintOptions, L"PrintInBackground", 31, printInBackground},
    {Kind::PrintOptions, L"OutputType", 32, numberOptionAt<0>},
    {Kind::PrintOptions, L"PrintColorType", 33, numberOptionAt<1>},
    {Kind::PrintOptions, L"FrameSlides", 34, numberOptionAt<2>},
    {Kind::PrintOptions, L"PrintHiddenSlides", 35, numberOptionAt<3>},
    {Kind::PrintOptions, L"FitToPage", 36, numberOptionAt<4>},
    {Kind::PrintOptions, L"NumberOfCopies", 37, numberOptionAt<5>},
    {Kind::PrintOptions, L"Collate", 38, numberOptionAt<6>},
    {Kind::PrintOptions, L"RangeType", 39, numberOptionAt<7>},
    {Kind::PrintOptions, L"Ranges", 40, ranges},
    {Kind::PrintOptions, L"HandoutOrder", 41, numberOptionAt<8>},
    {Kind::PrintRanges, L"ClearAll", 50, clearAll},
    {Kind::PrintRanges, L"Add", 51, add},
    {Kind::PrintRanges, L"Count", 52, count},
    {Kind::PrintRanges, L"Item", 53, item},
    {Kind::PrintRange, L"Start", 60, [](const Call &c) { return rangeEnd(c, true); }},
    {Kind::PrintRange, L"End", 61, [](const Call &c) { return rangeEnd(c, false); }},
};

} // namespace

std::span<const Member> printMembers()
{
    return Members;
}

} // namespace standin
