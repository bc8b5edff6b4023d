// SPDX-License-Identifier: GPL-3.0-or-later
// PowerPoint's calls (ComPowerPoint) and their late binding (ComDispatch)
// against the stand-in automation server, out of process, under Wine: one
// file's calls through the product's own OpenPresentation steps, the calls
// the server recorded (and through which of its objects), the wording of what
// it raises, busy answers tried again, no registration at all.

#include "StandIn.h"

#include "core/run/OpenPresentationSteps.h"
#include "platform/com/ComPowerPoint.h"

#include <iostream>
#include <string>
#include <vector>

using namespace deckrun::com;

TEST_F(StandIn, OneFileGoesThroughTheRunningInstanceInOrder)
{
    {
        PowerPointAutomation office;
        EXPECT_TRUE(printFile(office, deck()).empty());
    }
    waitForEnd();

    // Shown through the created reference, opened, printed and quit through
    // the one found running; each PowerPoint's window asked for its process.
    const std::string path = "\"" + utf8(deck()) + "\"";
    const std::vector<std::string> expected = {
        "CreateInstance",
        "Application(created).HWND get ()",
        "Application(found).HWND get ()",
        "Application(created).Visible put (VT_BOOL -1)",
        "Application(found).Presentations get ()",
        "Presentations.Open call (fileName: VT_BSTR|VT_BYREF " + path + ")",
        "Application(found).ActivePresentation get ()",
        "Application(found).ActivePresentation get ()",
        "Presentation.PrintOptions get ()",
        "PrintOptions.ActivePrinter put (VT_BSTR \"Deckrun Test Printer\")",
        "PrintOptions.ActivePrinter get ()",
        "Presentation.PrintOptions get ()",
        "PrintOptions.PrintInBackground put (VT_BOOL 0)",
        // Nothing asked: the deck's own print options, read for the run log.
        "Presentation.PrintOptions get ()",
        "PrintOptions.OutputType get ()",
        "PrintOptions.PrintColorType get ()",
        "PrintOptions.PrintHiddenSlides get ()",
        "PrintOptions.FrameSlides get ()",
        "PrintOptions.FitToPage get ()",
        "PrintOptions.NumberOfCopies get ()",
        "PrintOptions.Collate get ()",
        "PrintOptions.HandoutOrder get ()",
        "PrintOptions.RangeType get ()",
        "Presentation.PrintOut call ()",
        "Application(found).Quit call ()",
    };
    EXPECT_EQ(calls(), expected);
    std::cout << "Calls recorded by the stand-in server for one printed file:\n";
    for (const std::string &line : calls())
        std::cout << "  " << line << "\n";
}

TEST_F(StandIn, IsInTheRunningObjectTableWhileItRuns)
{
    PowerPointAutomation office;
    EXPECT_THROW(office.getRunning(), ComError);
    EXPECT_FALSE(looksRunning(office));
    {
        const auto created = office.create();
        EXPECT_EQ(office.getRunning()->name(), L"Microsoft PowerPoint"); // the default member
        EXPECT_TRUE(looksRunning(office));
        created->quit();
    }
    waitForEnd();
    EXPECT_THROW(office.getRunning(), ComError);
}

TEST_F(StandIn, EndsAfterQuitEvenWhileAClientHoldsOn)
{
    PowerPointAutomation office;
    const auto held = office.create();
    office.getRunning()->quit(); // through another reference
    waitForEnd();                // its process is gone although `held` was never released
    std::string last;
    for (const std::string &line : logLines())
        if (line.rfind("ending: ", 0) == 0)
            last = line;
    EXPECT_EQ(last, "ending: clients still held references after Quit");
    EXPECT_THROW(held->name(), ComError); // a call to the ended server fails, it does not hang
}

TEST_F(StandIn, ReportsTheNameItIsGiven)
{
    // From its script file, and from the environment (how a run of the whole
    // program scripts it).
    const struct {
        const char *file;
        const char *environment;
        std::wstring name;
    } cases[] = {
        {"name=Microsoft PowerPoint Viewer\n", "", L"Microsoft PowerPoint Viewer"},
        {"name=Microsoft PowerPoint Viewer\n", "name=Presenter;busy=0", L"Presenter"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.environment);
        DeleteFileW(log().c_str());
        script(c.file);
        _putenv((std::string("DECKRUN_STANDIN_SCRIPT=") + c.environment).c_str());
        PowerPointAutomation office;
        const auto created = office.create();
        EXPECT_EQ(office.getRunning()->name(), c.name);
        EXPECT_EQ(calls().back(), "Application(found).[default] get ()");
        EXPECT_FALSE(looksRunning(office)); // not exactly "Microsoft PowerPoint"
        created->quit();
        waitForEnd();
    }
}

// A run that keeps PowerPoint hidden for many files opens each one read-only
// and without a window: PowerPoint refuses a window while it is hidden.
TEST_F(StandIn, AHiddenOpenIsReadOnlyAndWithoutAWindow)
{
    {
        PowerPointAutomation office;
        const auto app = office.create();
        app->openHidden(deck());
        app->quit();
    }
    waitForEnd();
    EXPECT_EQ(count("Presentations.Open call (WithWindow: VT_I4 0, ReadOnly: VT_I4 -1, fileName: "
                    "VT_BSTR|VT_BYREF \"" +
                    utf8(deck()) + "\")"),
              1);
}

TEST_F(StandIn, AnOpenThatRaisesArrivesWithTheServersDescriptionAndNothingIsQuit)
{
    script("open-error=PowerPoint can't read C:\\decks\\broken.pptx.\n");
    PowerPointAutomation office;
    try {
        deckrun::openPresentationSteps(office, std::wstring(L"C:\\decks\\broken.pptx"));
        FAIL() << "the open went through";
    } catch (const ComError &e) {
        EXPECT_EQ(e.description(), L"PowerPoint can't read C:\\decks\\broken.pptx.");
    }
    // The adapter does not quit the application it made visible.
    EXPECT_EQ(count("Application(created).Quit"), 0);
    EXPECT_EQ(count("Application(found).Quit"), 0);
    EXPECT_EQ(count("Presentations.Open"), 1);
}

TEST_F(StandIn, AnErrorSaysWhatTheApplicationSent)
{
    // An application error number is PowerPoint's, not the system's message of
    // that number (1004 would read "Invalid flags."); a description is whole.
    const struct {
        const char *script;
        std::wstring said;
        long code;
    } cases[] = {
        {"open-error-number=1004\n", L"Microsoft PowerPoint reported error 1004.", 1004},
        {"open-error=Cannot open\\0 the file: it is locked.\n",
         L"Cannot open the file: it is locked.", static_cast<long>(E_FAIL)},
        {"open-error-scode=800A03EC\n", L"Microsoft PowerPoint reported error 0x800A03EC.",
         static_cast<long>(0x800A03ECL)},
        {"open-error=Not a presentation.\nopen-error-scode=80048240\n", L"Not a presentation.",
         static_cast<long>(0x80048240L)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script);
        DeleteFileW(log().c_str());
        script(c.script);
        {
            PowerPointAutomation office;
            const std::vector<FailedStep> failed = printFile(office, deck());
            ASSERT_FALSE(failed.empty());
            EXPECT_EQ(failed.front().step, 120);
            EXPECT_EQ(failed.front().said, c.said) << utf8(failed.front().said);
            EXPECT_EQ(failed.front().code, c.code) << std::hex << failed.front().code;
            office.getRunning()->quit();
        }
        waitForEnd();
    }
}

TEST_F(StandIn, BusyAnswersAreRetriedUntilTheCallGoesThrough)
{
    script("busy=5\n");
    {
        PowerPointAutomation office;
        EXPECT_TRUE(printFile(office, deck()).empty());
    }
    waitForEnd();
    EXPECT_EQ(count("busy "), 5);
    EXPECT_EQ(count("Application(created).Visible put"), 1); // each call went through once
    EXPECT_EQ(count("Presentations.Open"), 1);
    EXPECT_EQ(count("Presentation.PrintOut"), 1);
    EXPECT_EQ(count("Application(found).Quit"), 1);
}

TEST_F(StandIn, NotRegisteredMeansNoApplication)
{
    ASSERT_EQ(registration(L"/UnregServer"), 0);
    EXPECT_FALSE(PowerPointAutomation::registered());
    PowerPointAutomation office;
    try {
        office.create();
        ADD_FAILURE() << "created without a registration";
    } catch (const ComError &e) {
        EXPECT_EQ(e.code(), static_cast<long>(CO_E_CLASSSTRING)) << std::hex << e.code();
        EXPECT_FALSE(e.description().empty());
    }
    EXPECT_THROW(office.getRunning(), ComError);
    ASSERT_EQ(registration(L"/RegServer \"" + folder() + L"\""), 0);
    EXPECT_TRUE(PowerPointAutomation::registered());
    EXPECT_EQ(count("started"), 0) << "looking at the registration starts nothing";
    office.create()->quit();
}
