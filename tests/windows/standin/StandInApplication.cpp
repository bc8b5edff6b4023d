// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in application's members and Presentations.Open.

#include "StandInState.h"

namespace standin {

namespace {

constexpr DISPID FileNameArgument = 0; // the named arguments of Open
constexpr DISPID ReadOnlyArgument = 1;
constexpr DISPID WithWindowArgument = 2;
constexpr DISPID OpenId = 10;

HRESULT name(const Call &c)
{
    if (!c.get || c.argCount != 0)
        return DISP_E_MEMBERNOTFOUND;
    return text(c.result, server.script.name);
}

HRESULT visible(const Call &c)
{
    if (c.value) {
        if (c.value->vt != VT_BOOL)
            return DISP_E_TYPEMISMATCH;
        server.visible = c.value->boolVal != VARIANT_FALSE;
        return S_OK;
    }
    return c.get ? boolean(c.result, server.visible) : DISP_E_MEMBERNOTFOUND;
}

HRESULT presentations(const Call &c)
{
    return c.get ? object(c.result, Kind::Presentations) : DISP_E_MEMBERNOTFOUND;
}

HRESULT activePresentation(const Call &c)
{
    if (!c.get)
        return DISP_E_MEMBERNOTFOUND;
    if (!server.opened)
        return raise(c.error, L"Application.ActivePresentation : Invalid request.  "
                              L"There is no active presentation.");
    return object(c.result, Kind::Presentation);
}

HRESULT quit(const Call &c)
{
    if (!(c.flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    leave();
    if (noClientLeft())
        endLoop();
    return S_OK;
}

HRESULT window(const Call &c)
{
    if (!c.get || c.argCount != 0)
        return DISP_E_MEMBERNOTFOUND;
    return integer(c.result, static_cast<LONG>(reinterpret_cast<INT_PTR>(server.window)));
}

/** Whether the scripted open error is for this file. */
bool failsToOpen(const std::wstring &path)
{
    const Script &s = server.script;
    const bool thisFile =
        s.openErrorFile.empty() || (path.size() > s.openErrorFile.size() &&
                                    path.compare(path.size() - s.openErrorFile.size(),
                                                 std::wstring::npos, s.openErrorFile) == 0);
    return thisFile && (!s.openError.empty() || s.openErrorNumber || s.openErrorScode);
}

/** The print options a presentation opens with: its own, as saved. */
void openDeck()
{
    server.opened = true;
    server.print.values = {
        {L"OutputType", 1},         {L"PrintColorType", 1}, {L"FrameSlides", 0},
        {L"PrintHiddenSlides", -1}, {L"FitToPage", 0},      {L"NumberOfCopies", 1},
        {L"Collate", -1},           {L"RangeType", 1},      {L"HandoutOrder", 2}};
    for (const auto &[member, value] : server.script.deck)
        server.print.values[member] = value;
    server.print.ranges.clear();
}

HRESULT open(const Call &c)
{
    if (!(c.flags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    // Every argument named; the file name among them.
    std::wstring path;
    if (c.argCount == 0 || c.params->cNamedArgs != c.argCount)
        return DISP_E_PARAMNOTFOUND;
    for (UINT i = 0; i < c.argCount; ++i)
        if (c.params->rgdispidNamedArgs[i] == FileNameArgument &&
            !textArgument(c.params->rgvarg[i], path))
            return DISP_E_TYPEMISMATCH;
    if (path.empty())
        return DISP_E_PARAMNOTFOUND;
    const Script &s = server.script;
    if (failsToOpen(path))
        return raise(c.error, s.openError, s.openErrorNumber,
                     s.openErrorScode ? s.openErrorScode : E_FAIL);
    openDeck();
    return object(c.result, Kind::Presentation);
}

const Member Members[] = {
    {Kind::FoundApplication, L"Name", 1, name},
    {Kind::FoundApplication, L"Visible", 2, visible},
    {Kind::FoundApplication, L"Presentations", 3, presentations},
    {Kind::FoundApplication, L"ActivePresentation", 4, activePresentation},
    {Kind::FoundApplication, L"Quit", QuitId, quit},
    {Kind::FoundApplication, L"HWND", 6, window},
    {Kind::Presentations, L"Open", OpenId, open},
};

const NamedArgument Arguments[] = {
    {Kind::Presentations, OpenId, L"fileName", FileNameArgument},
    {Kind::Presentations, OpenId, L"ReadOnly", ReadOnlyArgument},
    {Kind::Presentations, OpenId, L"WithWindow", WithWindowArgument},
};

} // namespace

std::span<const Member> applicationMembers()
{
    return Members;
}

std::span<const NamedArgument> applicationArguments()
{
    return Arguments;
}

} // namespace standin
