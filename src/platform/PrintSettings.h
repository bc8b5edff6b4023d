// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How a deck is printed: what goes on the paper (slides, handouts, notes,
// the outline), in what colour, which slides, how many copies on which sides.
// A deck keeps its own choices in its file; a run may ask for others
// (`--layout handouts-6 --sides long-edge ...`), and what the run asks wins
// over what the deck says, one setting at a time.
//
// Every setting is one row of printSettingRows below: its name (the command
// line's option and the run log's key), its member, how its value is read
// from text and written to JSON, what the command line's help says of it, and
// the PowerPoint print option that carries it, and what the window's dialog
// calls it. Merging, emptiness, the run log, the command line, the window's
// dialog and stored choices and the PowerPoint backend all go through the rows.
// Free of Qt: the Windows automation core takes these settings as they are.

#include "platform/PrintLayout.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace deckrun {

/** Print settings, each unset where nothing was said (the default then holds). */
struct PrintSettings {
    std::optional<PrintLayout> layout;
    std::optional<PrintColor> color;
    /** Hidden slides printed too. */
    std::optional<bool> hiddenSlides;
    /** A thin frame around each slide. */
    std::optional<bool> frameSlides;
    /** Each slide scaled to fill the paper. */
    std::optional<bool> fitToPaper;
    std::optional<int> copies;
    std::optional<bool> collate;
    std::optional<PrintSides> sides;
    /** Slide numbers and ranges, "1-3,5"; unset: every slide. */
    std::optional<std::string> slides;
    /** The order of the slides on a handout. */
    std::optional<HandoutOrder> handoutOrder;

    /** These settings with every one that `over` says in place of this one's. */
    PrintSettings overriddenBy(const PrintSettings &over) const;
    /** True when nothing is said: the deck prints as the application prints it by default. */
    bool isEmpty() const;

    friend bool operator==(const PrintSettings &, const PrintSettings &) = default;
};

/** Slides `first` to `last`, counted from 1. */
using SlideRange = std::pair<long, long>;

/**
 * "1-3,5" as ranges: numbers from 1 (at most six digits, no leading zero) and
 * ranges of them, low to high, separated by commas; none for any other text.
 */
inline std::optional<std::vector<SlideRange>> slideRangesOf(std::string_view text)
{
    const auto number = [](std::string_view digits) -> long {
        if (digits.empty() || digits.size() > 6 || digits.front() == '0' ||
            digits.find_first_not_of("0123456789") != std::string_view::npos)
            return 0;
        long n = 0;
        for (const char c : digits)
            n = n * 10 + (c - '0');
        return n;
    };
    std::vector<SlideRange> ranges;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(',', start);
        const std::string_view piece = text.substr(start, comma - start);
        const std::size_t dash = piece.find('-');
        const long first = number(piece.substr(0, dash));
        const long last = dash == std::string_view::npos ? first : number(piece.substr(dash + 1));
        if (first < 1 || last < first)
            return std::nullopt;
        ranges.emplace_back(first, last);
        if (comma == std::string_view::npos)
            return ranges;
        start = comma + 1;
    }
}

/** Ranges as "1-3,5" (a range of one slide as its number). */
inline std::string slidesText(const std::vector<SlideRange> &ranges)
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

namespace setting {

/**
 * A value's name as text, PowerPoint's number for it, how the window's dialog
 * names it, and the print service's keyword.
 */
template <typename E> struct Name {
    E value;
    const char *text;
    long powerPoint;
    const char *caption;
    /** The IPP keyword a job carries it as; none: a job does not carry it. */
    const char *ipp;
};

/** A value that is one of a list of names. */
template <typename E, std::size_t N> struct Names {
    std::array<Name<E>, N> names;
    static constexpr bool bareMeansYes = false;

    std::optional<E> read(std::string_view text) const
    {
        for (const Name<E> &n : names)
            if (text == n.text)
                return n.value;
        return std::nullopt;
    }
    std::string text(E value) const
    {
        for (const Name<E> &n : names)
            if (n.value == value)
                return n.text;
        return {};
    }
    std::string json(E value) const { return '"' + text(value) + '"'; }
    /** "color, gray or bw"; `shown` leaves out the names it refuses. */
    template <typename Shown = bool (*)(E)>
    std::string takes(Shown shown = [](E) { return true; }) const
    {
        std::vector<std::string> listed;
        for (const Name<E> &n : names)
            if (shown(n.value))
                listed.emplace_back(n.text);
        std::string said;
        for (std::size_t k = 0; k < listed.size(); ++k)
            said += (k == 0 ? "" : k + 1 == listed.size() ? " or " : ", ") + listed[k];
        return said;
    }
    long powerPoint(E value) const
    {
        for (const Name<E> &n : names)
            if (n.value == value)
                return n.powerPoint;
        return names[0].powerPoint;
    }
    std::optional<E> fromPowerPoint(long number) const
    {
        for (const Name<E> &n : names)
            if (n.powerPoint == number)
                return n.value;
        return std::nullopt;
    }
    /** The IPP keyword of `value`; empty when a job does not carry it. */
    std::string ipp(E value) const
    {
        for (const Name<E> &n : names)
            if (n.value == value && n.ipp)
                return n.ipp;
        return {};
    }
    /** The first value a job carries as `keyword`. */
    std::optional<E> fromIpp(std::string_view keyword) const
    {
        for (const Name<E> &n : names)
            if (n.ipp && keyword == n.ipp)
                return n.value;
        return std::nullopt;
    }
};

/** Yes or no; PowerPoint's MsoTriState (msoTrue -1, msoFalse 0). */
struct YesNo {
    /** The command line's option alone ("--frame") means yes. */
    bool bareMeansYes;

    std::optional<bool> read(std::string_view text) const
    {
        if (text == "yes" || text == "no")
            return text == "yes";
        return std::nullopt;
    }
    std::string text(bool value) const { return value ? "yes" : "no"; }
    std::string json(bool value) const { return value ? "true" : "false"; }
    std::string takes() const { return "yes or no"; }
    long powerPoint(bool value) const { return value ? -1 : 0; }
    std::optional<bool> fromPowerPoint(long number) const { return number != 0; }
};

/** A whole number within bounds. */
struct Number {
    int low, high;
    static constexpr bool bareMeansYes = false;

    std::optional<int> read(std::string_view text) const
    {
        if (text.empty() || text.size() > 9 ||
            text.find_first_not_of("0123456789") != std::string_view::npos)
            return std::nullopt;
        int n = 0;
        for (const char c : text)
            n = n * 10 + (c - '0');
        return n >= low && n <= high ? std::optional<int>(n) : std::nullopt;
    }
    std::string text(int value) const { return std::to_string(value); }
    std::string json(int value) const { return std::to_string(value); }
    std::string takes() const
    {
        return "a number, " + std::to_string(low) + " to " + std::to_string(high);
    }
    long powerPoint(int value) const { return value; }
    std::optional<int> fromPowerPoint(long number) const { return static_cast<int>(number); }
};

/** Slide numbers and ranges, kept as written; PowerPoint takes them as ranges of their own. */
struct SlideList {
    static constexpr bool bareMeansYes = false;

    std::optional<std::string> read(std::string_view text) const
    {
        return slideRangesOf(text) ? std::optional<std::string>(text) : std::nullopt;
    }
    std::string text(const std::string &value) const { return value; }
    std::string json(const std::string &value) const { return '"' + value + '"'; }
    std::string takes() const { return "slide numbers and ranges, as 1-3,5"; }
};

/** One print setting; see the table below. */
template <typename Member, typename Codec> struct Row {
    /** The command line's option and the run log's key. */
    const char *name;
    Member member;
    /** How its value is read from text, written to JSON and what a refusal says it takes. */
    Codec codec;
    /** The command line's name for its value, and what the help says it does. */
    const char *valueName;
    const char *help;
    /** PowerPoint's print option (`PrintOptions.X`) that carries it; none: PowerPoint has none. */
    const wchar_t *powerPoint;
    /** What the window's print settings dialog calls it. */
    const char *caption;
};
// Said for the compilers that deduce no aggregate's arguments by themselves.
template <typename Member, typename Codec>
Row(const char *, Member, Codec, const char *, const char *, const wchar_t *) -> Row<Member, Codec>;

// For compilers that do not deduce from an aggregate's initializer (clang before 17).
template <typename Member, typename Codec, typename... Rest>
Row(const char *, Member, Codec, Rest...) -> Row<Member, Codec>;

inline constexpr Names<PrintLayout, 9> Layouts{{{
    {PrintLayout::Slides, "slides", 1, "Slides", nullptr},
    {PrintLayout::Handouts1, "handouts-1", 10, "Handouts, 1 slide a page", nullptr},
    {PrintLayout::Handouts2, "handouts-2", 2, "Handouts, 2 slides a page", nullptr},
    {PrintLayout::Handouts3, "handouts-3", 3, "Handouts, 3 slides a page", nullptr},
    {PrintLayout::Handouts4, "handouts-4", 8, "Handouts, 4 slides a page", nullptr},
    {PrintLayout::Handouts6, "handouts-6", 4, "Handouts, 6 slides a page", nullptr},
    {PrintLayout::Handouts9, "handouts-9", 9, "Handouts, 9 slides a page", nullptr},
    {PrintLayout::Notes, "notes", 5, "Notes pages", nullptr},
    {PrintLayout::Outline, "outline", 6, "Outline", nullptr},
}}};
// Black and white is made on the sheet; the printer is asked for monochrome, as for gray.
inline constexpr Names<PrintColor, 3> Colors{{{
    {PrintColor::Colour, "color", 1, "Color", "color"},
    {PrintColor::Gray, "gray", 2, "Grayscale", "monochrome"},
    {PrintColor::BlackAndWhite, "bw", 3, "Pure black and white", "monochrome"},
}}};
inline constexpr Names<PrintSides, 3> Sides{{{
    {PrintSides::OneSided, "one", 0, "One-sided", "one-sided"},
    {PrintSides::LongEdge, "long-edge", 0, "Two-sided, flip on long edge", "two-sided-long-edge"},
    {PrintSides::ShortEdge, "short-edge", 0, "Two-sided, flip on short edge",
     "two-sided-short-edge"},
}}};
inline constexpr Names<HandoutOrder, 2> Orders{{{
    {HandoutOrder::Horizontal, "horizontal", 2, "Horizontal", nullptr},
    {HandoutOrder::Vertical, "vertical", 1, "Vertical", nullptr},
}}};

} // namespace setting

/**
 * Every print setting, in the order the run log writes them and PowerPoint
 * is given them (what is printed first, then how much of it).
 */
inline constexpr std::tuple printSettingRows{
    setting::Row{"layout", &PrintSettings::layout, setting::Layouts, "LAYOUT",
                 "what each sheet shows: %1 (default: what the deck says).", L"OutputType",
                 "Layout"},
    setting::Row{"color", &PrintSettings::color, setting::Colors, "MODE",
                 "color, gray or bw (black and white: text and lines black, fills white).",
                 L"PrintColorType", "Color"},
    setting::Row{"hidden-slides", &PrintSettings::hiddenSlides, setting::YesNo{false}, "yes|no",
                 "yes to print hidden slides too, no to leave them out.", L"PrintHiddenSlides",
                 "Hidden slides"},
    setting::Row{"frame", &PrintSettings::frameSlides, setting::YesNo{true}, "yes|no",
                 "a thin frame around each slide, or none (alone: yes).", L"FrameSlides",
                 "Frame slides"},
    setting::Row{"fit", &PrintSettings::fitToPaper, setting::YesNo{true}, "yes|no",
                 "each slide enlarged to fill the paper, or printed at its size when it fits "
                 "(alone: yes).",
                 L"FitToPage", "Scale to fit paper"},
    setting::Row{"copies", &PrintSettings::copies, setting::Number{1, 999}, "N",
                 "copies of each deck, 1 to 999.", L"NumberOfCopies", "Copies"},
    setting::Row{"collate", &PrintSettings::collate, setting::YesNo{true}, "yes|no",
                 "copies in sets, each deck whole, or each sheet's copies together (alone: yes).",
                 L"Collate", "Collate"},
    setting::Row{"sides", &PrintSettings::sides, setting::Sides, "SIDES",
                 "one, long-edge or short-edge (two-sided).", nullptr, "Sides"},
    setting::Row{"slides", &PrintSettings::slides, setting::SlideList{}, "RANGE",
                 "the slides to print, as 1-3,5.", nullptr, "Slides"},
    setting::Row{"handout-order", &PrintSettings::handoutOrder, setting::Orders, "ORDER",
                 "horizontal (1 2 / 3 4) or vertical (1 3 / 2 4): the order of the slides on "
                 "a handout.",
                 L"HandoutOrder", "Handout order"},
};

/** Calls `visit` with each row of printSettingRows, in order. */
template <typename Visit> void forEachPrintSetting(Visit &&visit)
{
    std::apply([&](const auto &...row) { (visit(row), ...); }, printSettingRows);
}

inline PrintSettings PrintSettings::overriddenBy(const PrintSettings &over) const
{
    PrintSettings merged = *this;
    forEachPrintSetting([&](const auto &row) {
        if (over.*row.member)
            merged.*row.member = over.*row.member;
    });
    return merged;
}

inline bool PrintSettings::isEmpty() const
{
    bool empty = true;
    forEachPrintSetting([&](const auto &row) { empty = empty && !(this->*row.member); });
    return empty;
}

} // namespace deckrun
