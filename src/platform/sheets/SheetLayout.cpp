// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sheets/SheetLayout.h"

#include <algorithm>

namespace deckrun::sheets {

namespace {

// A handout keeps half an inch clear around its slides (for the printer's
// margins and a header or footer), and a quarter inch between them.
constexpr double HandoutMargin = 36;
constexpr double Gap = 18;
// Ruled lines for notes beside each slide of 3 a page.
constexpr int RulesPerSlide = 8;

struct Grid {
    int columns, rows;
};

Grid gridOf(PrintLayout layout)
{
    switch (layout) {
    case PrintLayout::Handouts2:
        return {1, 2};
    case PrintLayout::Handouts4:
        return {2, 2};
    case PrintLayout::Handouts6:
        return {2, 3};
    case PrintLayout::Handouts9:
        return {3, 3};
    default:
        return {1, 1};
    }
}

bool isHandout(PrintLayout layout)
{
    return layout >= PrintLayout::Handouts1 && layout <= PrintLayout::Handouts9;
}

/** What the printer can print on a sheet of `width` by `height` (turned or not) of `paper`. */
Box printable(const Paper &paper, bool turned, double inset = 0)
{
    // A turned sheet has the paper's margins on its other edges; the larger
    // of each pair keeps clear of both ways the printer may turn it.
    const double sides = std::max(
        turned ? std::max(paper.top, paper.bottom) : std::max(paper.left, paper.right), inset);
    const double ends = std::max(
        turned ? std::max(paper.left, paper.right) : std::max(paper.top, paper.bottom), inset);
    const double width = turned ? paper.height : paper.width;
    const double height = turned ? paper.width : paper.height;
    return Box{sides, ends, width - 2 * sides, height - 2 * ends};
}

/** Handouts: the cells of the grid in reading order, the first at the top left. */
std::vector<Box> cells(const Box &area, Grid grid, HandoutOrder order, int count)
{
    const double width = (area.width - Gap * (grid.columns - 1)) / grid.columns;
    const double height = (area.height - Gap * (grid.rows - 1)) / grid.rows;
    std::vector<Box> found;
    for (int k = 0; k < count; ++k) {
        const bool across = order == HandoutOrder::Horizontal;
        const int column = across ? k % grid.columns : k / grid.rows;
        const int row = across ? k / grid.columns : k % grid.rows;
        found.push_back(Box{area.x + column * (width + Gap),
                            area.top() - (row + 1) * height - row * Gap, width, height});
    }
    return found;
}

} // namespace

Box fitted(const Box &area, double width, double height, bool enlarge)
{
    if (width <= 0 || height <= 0)
        return area;
    double scale = std::min(area.width / width, area.height / height);
    if (!enlarge)
        scale = std::min(scale, 1.0);
    const double w = width * scale, h = height * scale;
    return Box{area.x + (area.width - w) / 2, area.y + (area.height - h) / 2, w, h};
}

SheetPlan planSheet(PrintLayout layout, HandoutOrder order, bool fit, const Paper &paper,
                    double pageWidth, double pageHeight)
{
    SheetPlan plan;
    if (!isHandout(layout)) {
        // Slides as they are turned; notes pages and the outline fill the paper.
        const bool turned = pageWidth > pageHeight;
        const Box area = printable(paper, turned);
        plan.width = turned ? paper.height : paper.width;
        plan.height = turned ? paper.width : paper.height;
        plan.slides.push_back(
            fitted(area, pageWidth, pageHeight, fit || layout != PrintLayout::Slides));
        return plan;
    }
    plan.width = paper.width;
    plan.height = paper.height;
    const Box area = printable(paper, false, HandoutMargin);
    if (layout == PrintLayout::Handouts3) {
        // The slides down the left half, lines for notes on the right half beside each.
        for (const Box &cell : cells(area, Grid{1, 3}, HandoutOrder::Horizontal, 3)) {
            const Box half{cell.x, cell.y, (cell.width - Gap) / 2, cell.height};
            const Box slide = fitted(half, pageWidth, pageHeight, true);
            plan.slides.push_back(slide);
            for (int k = 0; k < RulesPerSlide; ++k)
                plan.rules.push_back(Rule{half.right() + Gap, area.right(),
                                          slide.y + slide.height * k / (RulesPerSlide - 1)});
        }
        return plan;
    }
    for (const Box &cell : cells(area, gridOf(layout), order, slidesPerSheet(layout)))
        plan.slides.push_back(fitted(cell, pageWidth, pageHeight, true));
    return plan;
}

} // namespace deckrun::sheets
