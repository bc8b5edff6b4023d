// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// PowerPoint's automation surface, late-bound by member name (IDispatch):
// exactly the calls the print run needs, one raw call each, made on the
// calling thread. PowerPointAutomation (PowerPointAutomation.h) makes them in
// an apartment of its own under their deadlines; ComPresentation.cpp wraps
// that into the presentation application interface. Free of Qt, so that the
// Windows cross compiler builds it on any machine and its tests run under Wine.

#include "platform/com/ComDispatch.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace deckrun::com {

/**
 * Every call throws ComError when it fails. A busy application answers "call
 * rejected" (RPC_E_CALL_REJECTED, RPC_E_SERVERCALL_RETRYLATER); such a call is
 * tried again until it goes through or the deadline of the call in hand has
 * passed (outside an apartment there is none: it fails at once).
 */
class ComPowerPoint {
public:
    static constexpr const wchar_t *ProgId = L"PowerPoint.Application";
    static constexpr const wchar_t *Name = L"Microsoft PowerPoint";

    /**
     * Whether PowerPoint is registered for automation: its ProgID names a
     * class with a local server. Starts nothing.
     */
    static bool registered();
    /** Creates an automation object for the ProgID. */
    static Dispatch create();
    /** The running instance registered for the ProgID. */
    static Dispatch getRunning();
    /** The application's default member (dispatch identifier 0): its name. */
    static std::wstring name(const Dispatch &app);
    /**
     * The process behind the application's main window (`HWND`), and that
     * window in `window`; 0 when it has none.
     */
    static unsigned long processId(const Dispatch &app, std::intptr_t *window = nullptr);
    /** `Visible` := true (-1). */
    static void setVisible(const Dispatch &app, bool visible);
    /**
     * `Presentations.Open` with the one named argument "fileName", by
     * reference; `hidden`: also "ReadOnly" and "WithWindow" (msoTrue, msoFalse).
     */
    static void open(const Dispatch &app, const std::wstring &path, bool hidden = false);
    static Dispatch activePresentation(const Dispatch &app);
    /**
     * `ActivePresentation.PrintOptions.ActivePrinter` := printer, then read
     * back: returns the printer the presentation has now.
     */
    static std::wstring setActivePrinter(const Dispatch &app, const std::wstring &printer);
    /** `PrintOptions.PrintInBackground` of a presentation. */
    static void setPrintInBackground(const Dispatch &presentation, bool background);
    /** `PrintOptions` of a presentation. */
    static Dispatch printOptions(const Dispatch &presentation);
    /**
     * A number of the print options (`OutputType`, `NumberOfCopies`, ...) :=
     * value; an MsoTriState one (`triState`: `Collate`, `FrameSlides`, ...)
     * as a VT_BOOL, true for any value but 0.
     */
    static void setPrintOption(const Dispatch &options, const wchar_t *member, long value,
                               bool triState);
    /** A number of the print options as PowerPoint has it now (msoTrue is -1). */
    static long printOption(const Dispatch &options, const wchar_t *member);
    /** `Ranges.ClearAll`, then `Ranges.Add(from, to)` for each range. */
    static void setSlideRanges(const Dispatch &options,
                               const std::vector<std::pair<long, long>> &ranges);
    /** `Ranges`: each `Item(i)`'s `Start` and `End`. */
    static std::vector<std::pair<long, long>> slideRanges(const Dispatch &options);
    /** `PrintOut` without arguments. */
    static void printOut(const Dispatch &presentation);
    /** `Close` of a presentation: the application keeps running. */
    static void closePresentation(const Dispatch &presentation);
    static void quit(const Dispatch &app);
};

} // namespace deckrun::com
