// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The two text conversions more than one file of the COM core needs.

#include <cwctype>
#include <string>

namespace deckrun::com {

/** ASCII as it is, every other character as "?": for an exception's what(). */
inline std::string narrow(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text)
        out += (c > 0 && c < 128) ? static_cast<char>(c) : '?';
    return out;
}

/** The text in lower case, character by character: for names Windows compares in any case. */
inline std::wstring lowered(std::wstring text)
{
    for (wchar_t &c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

} // namespace deckrun::com
