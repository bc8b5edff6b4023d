// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The print run ("Start Printing", PushButton3_Click in
// printing/PrintingHandlers.h) and the helpers only it uses. The run itself
// needs no window: it works on the queue, reads the choices and shows its
// progress through the two interfaces below, and reaches the system through
// the platform.

#include <QString>

#include <cstdint>

namespace deckrun {

class EventLoop;
class QueueModel;
struct Platform;

/** The user's choices a print run reads; read again for every file, as they may change meanwhile.
 */
class PrintChoices {
public:
    virtual ~PrintChoices() = default;
    /** The printer every file goes to. */
    virtual QString printerName() const = 0;
    /** The pause after each file, as its text ("5 seconds"). */
    virtual QString pauseText() const = 0;
};

/** Where a print run shows how far it is. */
class PrintProgress {
public:
    virtual ~PrintProgress() = default;
    /** The hourglass while the files are handled (true); the arrow once the run is over (false). */
    virtual void showBusy(bool busy) = 0;
    /** The share of files begun, 0 to 100. */
    virtual void showPercent(int percent) = 0;
    /** The text over the progress ("Processing: a.ppt", "Progress Bar"). */
    virtual void showText(const QString &text) = 0;
};

/**
 * Prints every file of `queue`, in order, with its numbered steps under the
 * error report of "Start Printing". `printing` is set for the length of the
 * run and cleared however it is left; a run started while it is set does
 * nothing.
 */
void PrintQueue(Platform &platform, const QueueModel &queue, const PrintChoices &choices,
                PrintProgress &progress, bool &printing);

/** The location the print run's error reports name. */
inline constexpr auto PrintRunLocation = "in Tamberlin2021/08/31.Form1.PushButton3_Click ";

/**
 * Returns after `seconds` have passed on the loop's clock, handling window
 * events meanwhile. It sleeps in the event loop until the next event or the
 * deadline, so the window stays responsive without spinning a core. A pass over
 * midnight is counted; zero or fewer seconds return at once, without pumping.
 */
void WaitSeconds(EventLoop &events, double seconds);

/** The text after the path's last separator; the whole text when it holds none. */
QString FileNameFromPath(const QString &path);

/**
 * The share of files begun, including the one about to print, as a whole
 * percentage rounded down: row `i` of `count` rows. Exact integer arithmetic,
 * so 29 of 100 shows 29; kept within 0 to 100 when rows went missing.
 */
int ProgressPercent(std::int32_t i, std::int32_t count);

/**
 * The seconds of pause a pause text asks for: its first character as a digit.
 * Throws Failure "Type mismatch" (13) when the text does not begin with one.
 */
int PauseDigit(const QString &pauseText);

} // namespace deckrun
