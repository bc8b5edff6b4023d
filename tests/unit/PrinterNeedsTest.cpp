// SPDX-License-Identifier: GPL-3.0-or-later
// What a run asks, against what its printer supports.

#include "core/run/PrinterNeeds.h"
#include "support/ScriptedSpooler.h"

#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {

template <typename T> PrintSettings with(std::optional<T> PrintSettings::*setting, T value)
{
    PrintSettings settings;
    settings.*setting = value;
    return settings;
}

} // namespace

// Kills a table that asks the printer by another setting's name or value.
TEST(APrinter, RefusesWhatItDoesNotSupport)
{
    const struct {
        PrintSettings asked;
        const char *option, *supported;
        const char *refused; // what the refusal names, or none
    } rows[] = {
        {with(&PrintSettings::sides, PrintSides::ShortEdge), "sides",
         "one-sided,two-sided-long-edge", "--sides short-edge / one-sided, two-sided-long-edge"},
        {with(&PrintSettings::sides, PrintSides::LongEdge), "sides",
         "one-sided,two-sided-long-edge", nullptr},
        {with(&PrintSettings::color, PrintColor::Gray), "print-color-mode", "color",
         "--color gray / color"},
        {with(&PrintSettings::color, PrintColor::BlackAndWhite), "print-color-mode", "monochrome",
         nullptr},
        {with(&PrintSettings::copies, 3), "copies", "1", "--copies 3 / 1"},
    };
    for (const auto &row : rows) {
        ScriptedSpooler spooler;
        spooler.supported[QLatin1String(row.option)] =
            QString::fromLatin1(row.supported).split(',');
        const auto refusal = printerRefusal(spooler, QStringLiteral("Solo"), row.asked);
        EXPECT_EQ(refusal ? refusal->option + " / " + refusal->supported : QString(),
                  QLatin1String(row.refused))
            << row.option;
    }
}
