// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/SlideChoice.h"

#include "platform/PrintSettings.h"
#include "platform/uno/UnoGlue.h"

#include <algorithm>

namespace deckrun::uno {

namespace {

/** The ranges of `ranges` that lie within slides `first` to `last`. */
std::vector<SlideRange> within(const std::vector<SlideRange> &ranges, long first, long last)
{
    std::vector<SlideRange> inside;
    for (const auto &[from, to] : ranges)
        if (std::max(from, first) <= std::min(to, last))
            inside.emplace_back(std::max(from, first), std::min(to, last));
    return inside;
}

QString rangeText(const std::vector<SlideRange> &ranges)
{
    return QString::fromStdString(slidesText(ranges));
}

} // namespace

SlideChoice chooseSlides(const std::optional<std::string> &asked, const std::vector<bool> &shown,
                         bool hiddenToo, const QString &file)
{
    const long count = static_cast<long>(shown.size());
    if (count == 0)
        return {}; // the office says what it makes of a deck without slides
    const std::vector<SlideRange> all{{1, count}};
    const std::vector<SlideRange> ranges = asked ? slideRangesOf(*asked).value_or(all) : all;
    const std::vector<SlideRange> there = within(ranges, 1, count);
    const std::vector<SlideRange> beyond = within(ranges, count + 1, 999999);
    SlideChoice choice;
    if (there.empty()) {
        choice.refusal = QStringLiteral("slides %1 are not in \"%2\" (%3 slides)")
                             .arg(rangeText(beyond), file)
                             .arg(count);
        return choice;
    }
    bool anyShown = hiddenToo;
    for (const auto &[first, last] : there)
        for (long slide = first; slide <= last && !anyShown; ++slide)
            anyShown = shown[static_cast<std::size_t>(slide - 1)];
    if (!anyShown) {
        const bool one = there.size() == 1 && there[0].first == there[0].second;
        choice.refusal =
            !asked ? QStringLiteral("%1 could not print \"%2\": every slide in it is hidden.")
                         .arg(Product, file)
            : one ? QStringLiteral("slide %1 of \"%2\" is hidden").arg(rangeText(there), file)
                  : QStringLiteral("slides %1 of \"%2\" are hidden").arg(rangeText(there), file);
        return choice;
    }
    if (asked)
        choice.range = slidesText(there);
    if (!beyond.empty())
        choice.notice = QStringLiteral("slides %1 are not in \"%2\" (%3 slides); the others "
                                       "were printed.")
                            .arg(rangeText(beyond), file)
                            .arg(count);
    return choice;
}

} // namespace deckrun::uno
