// SPDX-License-Identifier: GPL-3.0-or-later
// The print settings a run asks for, through PowerPoint's print options on
// the stand-in: each asked for is set (and nothing else), read back, and
// what PowerPoint then has is what the file printed with; what it does not
// keep fails the print. The rows are those of the office's own print settings.

#include "StandIn.h"

#include "platform/com/PowerPointPrintOptions.h"

#include <string>
#include <vector>

using namespace deckrun;
using namespace deckrun::com;

namespace {

using Change = void (*)(PrintRequest &);

/** The stand-in deck's own print options, as PowerPoint reads them back. */
PrintRequest deckDefaults()
{
    return {.layout = PrintLayout::Slides,
            .color = PrintColor::Colour,
            .hiddenSlides = true,
            .frameSlides = false,
            .fitToPaper = false,
            .copies = 1,
            .collate = true,
            .sides = {},
            .slides = {},
            .handoutOrder = HandoutOrder::Horizontal};
}

} // namespace

// What the file printed with is the deck's own options with those asked for
// over them, as PowerPoint has them. Kills a wrong number for a setting, a
// setting put that was not asked for (the deck's own is lost), a read-back
// that is not PowerPoint's, and ranges not sent.
TEST_F(StandIn, EachSettingAskedForIsSetAndWhatPowerPointHasIsWhatPrinted)
{
    const struct {
        const char *name;
        const char *script; // the deck's own options, as the stand-in has them ...
        Change deck;        // ... and as they read back
        Change asked;
        std::vector<std::string> calls; // the print options set, in order
    } cases[] = {
        {"nothing asked: the deck's own",
         "deck=OutputType:5|NumberOfCopies:3\n",
         [](PrintRequest &r) { r.layout = PrintLayout::Notes, r.copies = 3; },
         [](PrintRequest &) {},
         {}},
        {"handouts-6",
         "",
         nullptr,
         [](PrintRequest &r) { r.layout = PrintLayout::Handouts6; },
         {"PrintOptions.OutputType put (VT_I4 4)"}},
        {"notes",
         "",
         nullptr,
         [](PrintRequest &r) { r.layout = PrintLayout::Notes; },
         {"PrintOptions.OutputType put (VT_I4 5)"}},
        {"grayscale",
         "",
         nullptr,
         [](PrintRequest &r) { r.color = PrintColor::Gray; },
         {"PrintOptions.PrintColorType put (VT_I4 2)"}},
        {"hidden slides left out",
         "",
         nullptr,
         [](PrintRequest &r) { r.hiddenSlides = false; },
         {"PrintOptions.PrintHiddenSlides put (VT_BOOL 0)"}},
        {"hidden slides put back",
         "deck=PrintHiddenSlides:0\n",
         [](PrintRequest &r) { r.hiddenSlides = false; },
         [](PrintRequest &r) { r.hiddenSlides = true; },
         {"PrintOptions.PrintHiddenSlides put (VT_BOOL -1)"}},
        {"slides 2-3",
         "",
         nullptr,
         [](PrintRequest &r) { r.slides = "2-3"; },
         {"PrintOptions.RangeType put (VT_I4 4)", "PrintRanges.ClearAll call ()",
          "PrintRanges.Add call (VT_I4 2, VT_I4 3)"}},
        {"copies 2 with collate",
         "deck=Collate:0\n",
         [](PrintRequest &r) { r.collate = false; },
         [](PrintRequest &r) { r.copies = 2, r.collate = true; },
         {"PrintOptions.NumberOfCopies put (VT_I4 2)", "PrintOptions.Collate put (VT_BOOL -1)"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(log().c_str());
        script(c.script);
        PrintRequest asked, printedWith, expected = deckDefaults();
        c.asked(asked);
        if (c.deck)
            c.deck(expected);
        c.asked(expected);
        {
            PowerPointAutomation office;
            const std::vector<FailedStep> failed =
                printFile(office, deck(), L"Deckrun Test Printer", asked, &printedWith);
            EXPECT_TRUE(failed.empty()) << failed;
        }
        waitForEnd();
        std::vector<std::string> set;
        for (const std::string &line : calls())
            if ((line.starts_with("PrintOptions.") && line.find(" put ") != std::string::npos &&
                 !line.starts_with("PrintOptions.ActivePrinter") &&
                 !line.starts_with("PrintOptions.PrintInBackground")) ||
                line.starts_with("PrintRanges.ClearAll") || line.starts_with("PrintRanges.Add"))
                set.push_back(line);
        EXPECT_EQ(set, c.calls);
        EXPECT_TRUE(printedWith == expected);
        EXPECT_EQ(count("Presentation.PrintOut"), 1);
    }
}

// A value PowerPoint takes without keeping it is no print of what was asked:
// step 130 fails naming the option, and nothing prints. Kills a setting that
// is set and never read back.
TEST_F(StandIn, ASettingPowerPointDoesNotKeepFailsThePrint)
{
    script("not-kept=NumberOfCopies\n");
    PrintRequest asked;
    asked.copies = 2;
    {
        PowerPointAutomation office;
        const std::vector<FailedStep> failed =
            printFile(office, deck(), L"Deckrun Test Printer", asked);
        ASSERT_EQ(failed.size(), 1u) << failed;
        EXPECT_EQ(failed[0].step, 130);
        EXPECT_EQ(failed[0].said,
                  L"PrintOptions.NumberOfCopies : Microsoft PowerPoint did not keep 2; it has 1.")
            << utf8(failed[0].said);
    }
    waitForEnd();
    EXPECT_EQ(count("Presentation.PrintOut"), 0);
}

// The slides as the command line writes them, and as the run log records
// what PowerPoint had. Kills a range read as one slide, or a bad one taken.
TEST(PrintOptions, SlidesAreRangesBothWays)
{
    const struct {
        const char *text;
        std::optional<std::vector<SlideRange>> ranges;
    } cases[] = {
        {"1-3,5", std::vector<SlideRange>{{1, 3}, {5, 5}}},
        {"7", std::vector<SlideRange>{{7, 7}}},
        {"3-1", std::nullopt},
        {"0", std::nullopt},
        {"1,", std::nullopt},
        {"a-b", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(slideRangesOf(c.text), c.ranges);
        if (c.ranges) {
            EXPECT_EQ(slidesText(*c.ranges), c.text);
        }
    }
}
