// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/common/Conversions.h"
#include "gui/Handlers.h"
#include "platform/Failure.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace deckrun;

struct IntegerCase {
    const char *name;
    const char *text;
    std::optional<int> value; // none: the conversion fails
    int code;
};

class ToInteger16Test : public testing::TestWithParam<IntegerCase> {};

TEST_P(ToInteger16Test, ConvertsOrFails)
{
    const IntegerCase c = GetParam();
    if (c.value) {
        EXPECT_EQ(ToInteger16(QString::fromUtf8(c.text)), *c.value);
    } else {
        try {
            ToInteger16(QString::fromUtf8(c.text));
            FAIL() << "no failure for " << c.text;
        } catch (const Failure &f) {
            EXPECT_EQ(f.code(), c.code);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(StoredText, ToInteger16Test,
                         testing::Values(IntegerCase{"Whole", "5", 5, 0},
                                         IntegerCase{"Negative", "-1", -1, 0},
                                         IntegerCase{"SurroundingBlanks", " 7 ", 7, 0},
                                         IntegerCase{"HalfRoundsDownToEven", "2.5", 2, 0},
                                         IntegerCase{"HalfRoundsUpToEven", "3.5", 4, 0},
                                         IntegerCase{"Largest", "32767", 32767, 0},
                                         IntegerCase{"NotANumber", "abc", std::nullopt, 13},
                                         IntegerCase{"Empty", "", std::nullopt, 13},
                                         IntegerCase{"TooLarge", "99999", std::nullopt, 6},
                                         IntegerCase{"TooSmall", "-32769", std::nullopt, 6}),
                         [](const testing::TestParamInfo<IntegerCase> &row) {
                             return std::string(row.param.name);
                         });

TEST(SelectorIndex, AcceptsMinusOneToLastEntry)
{
    EXPECT_NO_THROW(checkSelectorIndex(-1, 10));
    EXPECT_NO_THROW(checkSelectorIndex(9, 10));
    EXPECT_THROW(checkSelectorIndex(10, 10), Failure);
    EXPECT_THROW(checkSelectorIndex(-2, 10), Failure);
}

TEST(ApplicationTitle, CutsWordByWordToForty)
{
    struct Case {
        QString name, title;
    };
    const Case cases[] = {
        {"Deckrun", "Deckrun"},
        {"Deckrun Pro", "Deckrun"}, // the first cut always happens
        {"Alpha Beta Gamma Delta Epsilon Zeta Eta Theta Iota",
         "Alpha Beta Gamma Delta Epsilon Zeta Eta"},
        {"Alpha Beta Gamma Delta Epsilon Zeta Eta Thetas",
         "Alpha Beta Gamma Delta Epsilon Zeta Eta"},
        {QString(45, QLatin1Char('x')), QString(45, QLatin1Char('x'))}, // one word stays whole
        {QString(41, QLatin1Char('y')) + " z", QString(41, QLatin1Char('y'))},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ApplicationTitle(c.name), c.title) << c.name.toStdString();
}
