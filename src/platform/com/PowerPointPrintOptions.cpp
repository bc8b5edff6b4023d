// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/com/PowerPointPrintOptions.h"

#include "platform/com/ComPowerPoint.h"

#include <type_traits>

namespace deckrun::com {

namespace {

// PpPrintRangeType
constexpr long RangeSlides = 4; // the ranges of `Ranges`; 1 is every slide

std::wstring wide(const std::string &text)
{
    return std::wstring(text.begin(), text.end()); // digits, "-" and ","
}

/** A value as a refusal names it: true or false for a tri-state, else the number. */
template <typename Codec> std::wstring valueText(const Codec &, long value)
{
    if constexpr (std::is_same_v<Codec, setting::YesNo>)
        return value != 0 ? L"true" : L"false";
    return std::to_wstring(value);
}

/** Whether PowerPoint has `now` where `asked` was set (any non-zero tri-state is true). */
template <typename Codec> bool kept(const Codec &, long asked, long now)
{
    if constexpr (std::is_same_v<Codec, setting::YesNo>)
        return (now != 0) == (asked != 0);
    return now == asked;
}

[[noreturn]] void notKept(const std::wstring &member, const std::wstring &asked,
                          const std::wstring &now)
{
    throw ComError(L"PrintOptions." + member + L" : " + ComPowerPoint::Name + L" did not keep " +
                       asked + L"; it has " + now + L".",
                   static_cast<long>(E_FAIL));
}

} // namespace

void applyPrintOptions(const Dispatch &options, const PrintRequest &asked)
{
    forEachPrintSetting([&](const auto &row) {
        if constexpr (requires { row.codec.powerPoint(*(asked.*row.member)); }) {
            const auto &value = asked.*row.member;
            if (!row.powerPoint || !value)
                return;
            const long number = row.codec.powerPoint(*value);
            constexpr bool triState =
                std::is_same_v<std::decay_t<decltype(row.codec)>, setting::YesNo>;
            ComPowerPoint::setPrintOption(options, row.powerPoint, number, triState);
            const long now = ComPowerPoint::printOption(options, row.powerPoint);
            if (!kept(row.codec, number, now))
                notKept(row.powerPoint, valueText(row.codec, number), valueText(row.codec, now));
        }
    });
    if (!asked.slides)
        return;
    const auto ranges = slideRangesOf(*asked.slides);
    if (!ranges)
        throw ComError(L"\"" + wide(*asked.slides) +
                           L"\" are no slide numbers and ranges (as 1-3,5).",
                       static_cast<long>(E_INVALIDARG));
    ComPowerPoint::setPrintOption(options, L"RangeType", RangeSlides, false);
    ComPowerPoint::setSlideRanges(options, *ranges);
    if (const long type = ComPowerPoint::printOption(options, L"RangeType"); type != RangeSlides)
        notKept(L"RangeType", std::to_wstring(RangeSlides), std::to_wstring(type));
    if (const auto now = ComPowerPoint::slideRanges(options); now != *ranges)
        notKept(L"Ranges", L"the slides " + wide(slidesText(*ranges)),
                L"\"" + wide(slidesText(now)) + L"\"");
}

PrintRequest readPrintOptions(const Dispatch &options)
{
    PrintRequest now;
    forEachPrintSetting([&](const auto &row) {
        if constexpr (requires { row.codec.fromPowerPoint(0L); }) {
            if (row.powerPoint)
                now.*row.member =
                    row.codec.fromPowerPoint(ComPowerPoint::printOption(options, row.powerPoint));
        }
    });
    if (ComPowerPoint::printOption(options, L"RangeType") == RangeSlides) {
        const std::vector<SlideRange> ranges = ComPowerPoint::slideRanges(options);
        if (!ranges.empty())
            now.slides = slidesText(ranges);
    }
    return now;
}

} // namespace deckrun::com
