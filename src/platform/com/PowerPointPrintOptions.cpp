// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/com/PowerPointPrintOptions.h"

#include "platform/com/ComPowerPoint.h"

#include <cstdlib>
#include <sstream>

namespace deckrun::com {

namespace {

/** One print option that is a number, and the setting it carries. */
struct NumberOption {
    const wchar_t *member;
    bool triState; // MsoTriState: msoTrue is -1, msoFalse 0
    std::optional<long> (*asked)(const PrintRequest &);
    void (*readBack)(PrintRequest &, long);
};

std::optional<long> triState(const std::optional<bool> &flag)
{
    return flag ? std::optional<long>(*flag ? -1 : 0) : std::nullopt;
}

// In the order they are set: what is printed first, then how much of it.
const NumberOption Options[] = {
    {L"OutputType", false,
     [](const PrintRequest &r) {
         return r.layout ? std::optional<long>(outputTypeOf(*r.layout)) : std::nullopt;
     },
     [](PrintRequest &r, long v) { r.layout = layoutOf(v); }},
    {L"PrintColorType", false,
     [](const PrintRequest &r) {
         return r.color ? std::optional<long>(colorTypeOf(*r.color)) : std::nullopt;
     },
     [](PrintRequest &r, long v) { r.color = colorOf(v); }},
    {L"FrameSlides", true, [](const PrintRequest &r) { return triState(r.frameSlides); },
     [](PrintRequest &r, long v) { r.frameSlides = v != 0; }},
    {L"PrintHiddenSlides", true, [](const PrintRequest &r) { return triState(r.hiddenSlides); },
     [](PrintRequest &r, long v) { r.hiddenSlides = v != 0; }},
    {L"FitToPage", true, [](const PrintRequest &r) { return triState(r.fitToPaper); },
     [](PrintRequest &r, long v) { r.fitToPaper = v != 0; }},
    {L"NumberOfCopies", false,
     [](const PrintRequest &r) { return r.copies ? std::optional<long>(*r.copies) : std::nullopt; },
     [](PrintRequest &r, long v) { r.copies = static_cast<int>(v); }},
    {L"Collate", true, [](const PrintRequest &r) { return triState(r.collate); },
     [](PrintRequest &r, long v) { r.collate = v != 0; }},
};

// PpPrintRangeType
constexpr long RangeSlides = 4; // the ranges of `Ranges`; 1 is every slide

const std::pair<PrintLayout, long> OutputTypes[] = {
    {PrintLayout::Slides, 1},    {PrintLayout::Handouts1, 10}, {PrintLayout::Handouts2, 2},
    {PrintLayout::Handouts3, 3}, {PrintLayout::Handouts4, 8},  {PrintLayout::Handouts6, 4},
    {PrintLayout::Handouts9, 9}, {PrintLayout::Notes, 5},      {PrintLayout::Outline, 6},
};

const std::pair<PrintColor, long> ColorTypes[] = {
    {PrintColor::Colour, 1}, {PrintColor::Gray, 2}, {PrintColor::BlackAndWhite, 3}};

template <typename Name, size_t N> long numberOf(const std::pair<Name, long> (&table)[N], Name name)
{
    for (const auto &[n, number] : table)
        if (n == name)
            return number;
    return table[0].second;
}

template <typename Name, size_t N>
std::optional<Name> nameOf(const std::pair<Name, long> (&table)[N], long number)
{
    for (const auto &[n, value] : table)
        if (value == number)
            return n;
    return std::nullopt;
}

std::wstring wide(const std::string &text)
{
    return std::wstring(text.begin(), text.end()); // digits, "-" and ","
}

std::wstring valueText(long value, bool triState)
{
    if (triState)
        return value != 0 ? L"true" : L"false";
    return std::to_wstring(value);
}

[[noreturn]] void notKept(const std::wstring &member, const std::wstring &asked,
                          const std::wstring &now)
{
    throw ComError(L"PrintOptions." + member + L" : " + ComPowerPoint::Name + L" did not keep " +
                       asked + L"; it has " + now + L".",
                   static_cast<long>(E_FAIL));
}

} // namespace

std::optional<std::vector<SlideRange>> slideRangesOf(const std::string &text)
{
    std::vector<SlideRange> ranges;
    std::stringstream pieces(text);
    std::string piece;
    const auto slide = [](const std::string &digits) -> long {
        if (digits.empty() || digits.size() > 6 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            return 0;
        return std::strtol(digits.c_str(), nullptr, 10);
    };
    while (std::getline(pieces, piece, ',')) {
        const auto dash = piece.find('-');
        const long first = slide(piece.substr(0, dash));
        const long last = dash == std::string::npos ? first : slide(piece.substr(dash + 1));
        if (first < 1 || last < first)
            return std::nullopt;
        ranges.emplace_back(first, last);
    }
    if (ranges.empty() || text.back() == ',')
        return std::nullopt;
    return ranges;
}

std::string slidesText(const std::vector<SlideRange> &ranges)
{
    std::string text;
    for (const auto &[first, last] : ranges) {
        if (!text.empty())
            text += ',';
        text += std::to_string(first);
        if (last != first)
            text += '-' + std::to_string(last);
    }
    return text;
}

long outputTypeOf(PrintLayout layout)
{
    return numberOf(OutputTypes, layout);
}

std::optional<PrintLayout> layoutOf(long outputType)
{
    return nameOf(OutputTypes, outputType);
}

long colorTypeOf(PrintColor color)
{
    return numberOf(ColorTypes, color);
}

std::optional<PrintColor> colorOf(long colorType)
{
    return nameOf(ColorTypes, colorType);
}

void applyPrintOptions(const Dispatch &options, const PrintRequest &asked)
{
    for (const NumberOption &o : Options) {
        const std::optional<long> value = o.asked(asked);
        if (!value)
            continue;
        ComPowerPoint::setPrintOption(options, o.member, *value, o.triState);
        const long now = ComPowerPoint::printOption(options, o.member);
        if (o.triState ? (now != 0) != (*value != 0) : now != *value)
            notKept(o.member, valueText(*value, o.triState), valueText(now, o.triState));
    }
    if (!asked.slides)
        return;
    ComPowerPoint::setPrintOption(options, L"RangeType", RangeSlides, false);
    ComPowerPoint::setSlideRanges(options, *asked.slides);
    if (const long type = ComPowerPoint::printOption(options, L"RangeType"); type != RangeSlides)
        notKept(L"RangeType", std::to_wstring(RangeSlides), std::to_wstring(type));
    if (const auto now = ComPowerPoint::slideRanges(options); now != *asked.slides)
        notKept(L"Ranges", L"the slides " + wide(slidesText(*asked.slides)),
                L"\"" + wide(slidesText(now)) + L"\"");
}

PrintRequest readPrintOptions(const Dispatch &options)
{
    PrintRequest now;
    for (const NumberOption &o : Options)
        o.readBack(now, ComPowerPoint::printOption(options, o.member));
    if (ComPowerPoint::printOption(options, L"RangeType") == RangeSlides) {
        std::vector<SlideRange> ranges = ComPowerPoint::slideRanges(options);
        if (!ranges.empty())
            now.slides = std::move(ranges);
    }
    return now;
}

} // namespace deckrun::com
