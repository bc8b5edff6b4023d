// SPDX-License-Identifier: GPL-3.0-or-later
// What a run asks, against what its printer says it can do; and what a job
// carried, back into the settings the run log records.

#include "core/run/PrinterNeeds.h"
#include "support/ScriptedSpooler.h"

#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {

PrintSettings asking(const std::function<void(PrintSettings &)> &set)
{
    PrintSettings settings;
    set(settings);
    return settings;
}

const QStringList OneSided{"one-sided"}, LongEdgeOnly{"one-sided", "two-sided-long-edge"};

} // namespace

// Each side a row: kills a table that asks the printer for one side by another's name.
TEST(APrinter, IsAskedForWhatTheRunAsks)
{
    const struct {
        const char *name;
        PrintSettings asked;
        std::map<QString, QStringList> supported;
        const char *refused; // the option named, or none
        const char *supports = "";
    } rows[] = {
        {"long edge, one-sided printer",
         asking([](PrintSettings &s) { s.sides = PrintSides::LongEdge; }),
         {{"sides", OneSided}},
         "--sides long-edge",
         "one-sided"},
        {"short edge, long-edge printer",
         asking([](PrintSettings &s) { s.sides = PrintSides::ShortEdge; }),
         {{"sides", LongEdgeOnly}},
         "--sides short-edge",
         "one-sided, two-sided-long-edge"},
        {"long edge, long-edge printer",
         asking([](PrintSettings &s) { s.sides = PrintSides::LongEdge; }),
         {{"sides", LongEdgeOnly}},
         nullptr},
        {"one side, one-sided printer",
         asking([](PrintSettings &s) { s.sides = PrintSides::OneSided; }),
         {{"sides", OneSided}},
         nullptr},
        {"gray, colour-only printer",
         asking([](PrintSettings &s) { s.color = PrintColor::Gray; }),
         {{"print-color-mode", {"color"}}},
         "--color gray",
         "color"},
        {"black and white goes as monochrome",
         asking([](PrintSettings &s) { s.color = PrintColor::BlackAndWhite; }),
         {{"print-color-mode", {"monochrome"}}},
         nullptr},
        {"colour, monochrome printer",
         asking([](PrintSettings &s) { s.color = PrintColor::Colour; }),
         {{"print-color-mode", {"monochrome"}}},
         "--color color",
         "monochrome"},
        {"copies",
         asking([](PrintSettings &s) { s.copies = 3; }),
         {{"copies", {"1"}}},
         "--copies 3",
         "1"},
        // What the printer is not asked about is not refused.
        {"layout alone",
         asking([](PrintSettings &s) { s.layout = PrintLayout::Handouts6; }),
         {{"sides", OneSided}, {"print-color-mode", {"color"}}, {"copies", {"1"}}},
         nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedSpooler spooler;
        spooler.supported = row.supported;
        const auto refusal = printerRefusal(spooler, QStringLiteral("Solo"), row.asked);
        ASSERT_EQ(refusal.has_value(), row.refused != nullptr);
        if (!refusal)
            continue;
        EXPECT_EQ(refusal->option, QLatin1String(row.refused));
        EXPECT_EQ(refusal->supported, QLatin1String(row.supports));
        EXPECT_EQ(refusalLine(*refusal),
                  QStringLiteral("the printer \"Solo\" cannot print %1: it supports %2; nothing "
                                 "was printed.")
                      .arg(QLatin1String(row.refused), QLatin1String(row.supports)));
    }
}

// A printer that cannot be described refuses nothing: its jobs say what is wrong.
TEST(APrinter, ThatCannotBeDescribedRefusesNothing)
{
    ScriptedSpooler spooler;
    spooler.describable = false;
    EXPECT_FALSE(printerRefusal(spooler, QStringLiteral("Gone"),
                                asking([](PrintSettings &s) { s.sides = PrintSides::LongEdge; })));
    EXPECT_EQ(spooler.questions, 1);
}

// The run log records what the job carried. Kills a carried side read as another.
TEST(AJob, CarriedSettingsReplaceThoseAsked)
{
    const struct {
        const char *name;
        PrintSettings printed;
        JobOptions carried;
        PrintSettings recorded;
    } rows[] = {
        {"user defaults",
         {},
         {{"copies", "2"}, {"print-color-mode", "monochrome"}, {"number-up", "4"}},
         asking([](PrintSettings &s) {
             s.copies = 2;
             s.color = PrintColor::Gray;
         })},
        {"black and white stays",
         asking([](PrintSettings &s) { s.color = PrintColor::BlackAndWhite; }),
         {{"print-color-mode", "monochrome"}},
         asking([](PrintSettings &s) { s.color = PrintColor::BlackAndWhite; })},
        {"colour after all",
         asking([](PrintSettings &s) { s.color = PrintColor::Gray; }),
         {{"print-color-mode", "color"}},
         asking([](PrintSettings &s) { s.color = PrintColor::Colour; })},
        {"one-sided", {}, {{"sides", "one-sided"}}, asking([](PrintSettings &s) {
             s.sides = PrintSides::OneSided;
         })},
        {"long edge", {}, {{"sides", "two-sided-long-edge"}}, asking([](PrintSettings &s) {
             s.sides = PrintSides::LongEdge;
         })},
        {"short edge",
         asking([](PrintSettings &s) { s.layout = PrintLayout::Notes; }),
         {{"sides", "two-sided-short-edge"}},
         asking([](PrintSettings &s) {
             s.layout = PrintLayout::Notes;
             s.sides = PrintSides::ShortEdge;
         })},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(carriedSettings(row.printed, row.carried) == row.recorded);
    }
}
