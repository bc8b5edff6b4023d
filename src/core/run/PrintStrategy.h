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
#include <utility>

namespace deckrun {

class EventLoop;
class StepRunner;

/** Step 126's work where the application lives: it is told the printer the run chose. */
using SetPrinter = std::function<void(const QString &printer)>;
/** Step 130's work where the application lives: prints with what the run asks; the job it gave. */
using PrintOut = std::function<PrintedJob(const PrintSettings &asked, const QString &jobName)>;

/**
 * The file in hand, as the run hands it to a strategy. Steps 126 and 130 are
 * the run's own: it records the printer and the job itself, and writes the
 * file's line the moment the job is confirmed, so no way of printing can
 * lose that rule; a strategy only hands it the work those steps do.
 */
class FileInHand {
public:
    FileInHand(StepRunner &runSteps, std::int32_t queueRow, QString filePath, EventLoop &loop)
        : steps(runSteps), row(queueRow), path(std::move(filePath)), events(loop)
    {}
    virtual ~FileInHand() = default;
    FileInHand(const FileInHand &) = delete;
    FileInHand &operator=(const FileInHand &) = delete;

    /** Step 126: the printer chosen now becomes the file's and goes to `setPrinter`. */
    virtual bool choosePrinter(const SetPrinter &setPrinter) = 0;
    /** Step 130: `printOut` prints; once it passed the job is the file's and its line is written.
     */
    virtual bool print(const PrintOut &printOut) = 0;
    /** True once the run is asked to stop: waits end early. */
    virtual bool stopping() const = 0;

    StepRunner &steps;      // reports each failing step under the run's location
    const std::int32_t row; // its position in the queue, 1 first
    const QString path;     // its full path
    EventLoop &events;
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
     * them. Steps 126 and 130 go through `file.choosePrinter` and `file.print`.
     */
    virtual void printFile(FileInHand &file) = 0;
    /**
     * After the last file, or once the run stopped: before "Done.". A
     * strategy serves any number of runs, one after the other.
     */
    virtual void runEnds() {}
    /**
     * Stops every application this strategy prints through, at once and from
     * the run's thread while a call may be under way (a second request to
     * stop). Never throws.
     */
    virtual void stopNow() = 0;
};

/** A reference a step needs, or the failure a step meets when the open failed. */
template <typename T> T &requiredObject(const std::shared_ptr<T> &reference)
{
    if (!reference)
        throw Failure(QStringLiteral("Object variable or With block variable not set"),
                      code::ObjectNotSet);
    return *reference;
}

} // namespace deckrun
