// SPDX-License-Identifier: GPL-3.0-or-later
// Where each layout puts its slides on the printer's paper, read as a person
// reads a sheet: rows from the top, each from the left.

#include "platform/sheets/SheetLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

using namespace deckrun;
using namespace deckrun::sheets;
using L = PrintLayout;

namespace {

const Paper A4{};
const Paper Letter{612, 792, 18, 36, 18, 36};
// Slides of 4:3 (25.4 x 19.05 cm) and of PowerPoint's default 16:9 (33.867 x 19.05 cm).
constexpr double W43 = 720, W169 = 960, H = 540;

/** The slide numbers in reading order, "1 2 / 3 4": a row is the slides whose tops align. */
std::string reading(const SheetPlan &plan)
{
    std::vector<int> order(plan.slides.size());
    std::iota(order.begin(), order.end(), 0);
    const auto &b = plan.slides;
    std::sort(order.begin(), order.end(), [&](int i, int j) {
        if (std::abs(b[i].top() - b[j].top()) > 1)
            return b[i].top() > b[j].top();
        return b[i].x < b[j].x;
    });
    std::string said;
    for (std::size_t k = 0; k < order.size(); ++k) {
        if (k > 0)
            said += std::abs(b[order[k]].top() - b[order[k - 1]].top()) > 1 ? " / " : " ";
        said += std::to_string(order[k] + 1);
    }
    return said;
}

struct Row {
    const char *name;
    PrintLayout layout;
    HandoutOrder order = HandoutOrder::Horizontal;
    bool fit = false;
    Paper paper = A4;
    double width = W43, height = H; // of the office's pages
    const char *reads = "1";
    bool landscape = false;
    double slideWidth = 0; // where it matters: the slide's printed width
    std::size_t rules = 0;
    friend void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }
};

// The mutation each row kills, where its name does not say it.
const Row Rows[] = {
    {"Handouts1", L::Handouts1},
    {"Handouts2", L::Handouts2, {}, false, A4, W43, H, "1 / 2"},
    {"Handouts3WithLines", L::Handouts3, {}, false, A4, W43, H, "1 / 2 / 3", false, 0, 24},
    {"Handouts4", L::Handouts4, {}, false, A4, W43, H, "1 2 / 3 4"},
    {"Handouts6", L::Handouts6, {}, false, A4, W43, H, "1 2 / 3 4 / 5 6"},
    {"Handouts6Vertical", L::Handouts6, HandoutOrder::Vertical, false, A4, W43, H,
     "1 4 / 2 5 / 3 6"}, // the order not looked at, or rows and columns crossed
    {"Handouts9OnLetter", L::Handouts9, {}, false, Letter, W169, H, "1 2 3 / 4 5 6 / 7 8 9"},
    // A slide that fits prints at its size; fit enlarges it to the paper's printable width.
    {"SlideAtItsSize", L::Slides, {}, false, A4, W43, H, "1", true, W43},
    {"SlideFitToPaper", L::Slides, {}, true, A4, W43, H, "1", true, 595.276 * 4 / 3},
    // 16:9 is wider than A4: made smaller, never cropped.
    {"WideSlideOnA4", L::Slides, {}, false, A4, W169, H, "1", true, 841.89 * 0.9999},
    {"WideSlideOnLetter", L::Slides, {}, false, Letter, W169, H, "1", true, 792 - 72},
    {"NotesUpright", L::Notes, {}, false, Letter, 595, 842},
};

class SheetLayout : public testing::TestWithParam<Row> {};

} // namespace

TEST_P(SheetLayout, PutsEachSlideWhereAReaderLooksForIt)
{
    const Row &row = GetParam();
    const SheetPlan plan =
        planSheet(row.layout, row.order, row.fit, row.paper, row.width, row.height);
    EXPECT_EQ(plan.width > plan.height, row.landscape);
    EXPECT_EQ(std::max(plan.width, plan.height), row.paper.height) << "the printer's paper";
    EXPECT_EQ(reading(plan), row.reads);
    for (const Box &b : plan.slides) {
        // Whole, on the paper, clear of the margins it cannot print, in the slide's proportions.
        EXPECT_GE(b.x, std::min(row.paper.left, row.paper.bottom) - 0.01);
        EXPECT_GE(b.y, std::min(row.paper.left, row.paper.bottom) - 0.01);
        EXPECT_LE(b.right(), plan.width - std::min(row.paper.right, row.paper.top) + 0.01);
        EXPECT_LE(b.top(), plan.height - std::min(row.paper.right, row.paper.top) + 0.01);
        EXPECT_NEAR(b.width / b.height, row.width / row.height, 0.01);
        if (row.slideWidth > 0) {
            EXPECT_NEAR(b.width, row.slideWidth, 1.0);
        }
    }
    ASSERT_EQ(plan.rules.size(), row.rules);
    for (const Rule &r : plan.rules) {
        // Beside a slide, level with it, within the paper.
        const auto beside =
            std::count_if(plan.slides.begin(), plan.slides.end(), [&](const Box &b) {
                return r.x1 > b.right() && r.y >= b.y - 0.01 && r.y <= b.top() + 0.01;
            });
        EXPECT_EQ(beside, 1);
        EXPECT_LE(r.x2, plan.width);
    }
}
INSTANTIATE_TEST_SUITE_P(OneLayoutARow, SheetLayout, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<Row> &row) {
                             return std::string(row.param.name);
                         });
