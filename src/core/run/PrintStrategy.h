// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How one file is printed: steps 120 to 138 of the print run
// (core/run/PrintRun.h), which calls a strategy for each file in queue
// order. The strategies: a fresh application per file with the window's
// fixed waits (FreshApplication), one application kept from file to file
// (KeptApplication), several kept applications side by side (Lanes).

#include "core/run/RunLogLine.h"
#include "platform/Failure.h"
#include "platform/Presentation.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace deckrun {

class EventLoop;
class PrintChoices;
class StepRunner;

/** The file in hand, as the run hands it to a strategy. */
struct FileInHand {
    StepRunner &steps;  // reports each failing step under the run's location
    std::int32_t row;   // its position in the queue, 1 first
    const QString path; // its full path
    const PrintChoices &choices;
    const PrintSettings &asked; // what the run asks the deck to print with
    const QString jobName;      // the print job's name; empty: the file's
    FileOutcome &outcome;       // the strategy fills in the printer (126) and the job (130)
    EventLoop &events;
    /** To be called the moment step 130 passed: the print job is confirmed. */
    std::function<void()> handedOver;
    /** True once the run is asked to stop: waits end early. */
    std::function<bool()> stopping;
};

/** The rows a strategy may look ahead at (to open them while another file prints). */
struct RowsAhead {
    /** The path of `row` as it stands now; none when the row is gone. */
    std::function<std::optional<QString>(std::int32_t row)> pathAt;
    std::int32_t rows = 0; // the rows the run prints
    std::function<bool()> stopping;
};

class PrintStrategy {
public:
    virtual ~PrintStrategy() = default;
    /** Before the first file. */
    virtual void runStarts(const RowsAhead &ahead) { (void)ahead; }
    /**
     * Steps 120 to 138 of one file, each through `file.steps`: a failing step
     * is reported there and the steps after it run as the run's order has
     * them. Calls `file.handedOver()` as soon as step 130 passed.
     */
    virtual void printFile(FileInHand &file) = 0;
    /** After the last file, or once the run stopped: before "Done.". */
    virtual void runEnds() {}
    /**
     * Stops every application this strategy prints through, at once and from
     * the run's thread while a call may be under way (a second request to
     * stop). Never throws.
     */
    virtual void stopNow() = 0;
};

/** Step 130's work: prints and records the job in the file's outcome. */
inline void printAndRecord(Presentation &presentation, FileInHand &file)
{
    const PrintedJob job = presentation.printOut(file.asked, file.jobName);
    file.outcome.jobId = job.jobId;
    file.outcome.settings = job.settings;
    file.outcome.notice = job.notice;
}

/** A reference a step needs, or the failure a step meets when the open failed. */
template <typename T> T &requiredObject(const std::shared_ptr<T> &reference)
{
    if (!reference)
        throw Failure(QStringLiteral("Object variable or With block variable not set"),
                      code::ObjectNotSet);
    return *reference;
}

} // namespace deckrun
