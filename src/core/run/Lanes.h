// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Several kept applications side by side (`deckrun --print --fast --jobs N`),
// each on a thread and a profile of its own: each opens its next file while
// another prints. The run's thread still takes every file's steps in queue
// order, waiting for each piece of work on its lane, so the reports, the run
// log and the printer keep the queue's order. An application stopped after a
// failed file starts again at once on its thread, meanwhile.
//
// With one job (`--fast`) there is a spare: every file goes to one lane, and
// after a file that cost its application the next goes to the other one,
// whose application was started ahead, while the first starts again. An
// application that only refused a damaged file keeps its lane: a fresh one's
// first open is slower than a warm one's.

#include "core/run/PrintStrategy.h"
#include "platform/Printers.h"

#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace deckrun {

class FileSystem;
class PresentationAutomation;

/** The printers as a run began: the threads of a run ask them, not the system, file after file. */
class PrintersAsRunBegan final : public Printers {
public:
    explicit PrintersAsRunBegan(Printers &system);
    QString defaultPrinterName() override { return m_default; }
    QStringList printerNames() override { return m_names; }

private:
    QString m_default;
    QStringList m_names;
};

/** Makes one more application of the system's kind, asking `printers` which printers exist. */
using MakeOffice = std::function<std::unique_ptr<PresentationAutomation>(Printers &printers)>;

class Lane;

class Lanes final : public PrintStrategy {
public:
    /**
     * `jobs` applications made by `makeOffice`, each renewed after
     * `renewEvery` files; with one job, two, the second a spare. The lanes
     * serve one run after another; their applications quit as each ends.
     */
    Lanes(const MakeOffice &makeOffice, Printers &printers, FileSystem &files, EventLoop &events,
          int jobs, int renewEvery = 100);
    ~Lanes() override;

    void runStarts(const RowsAhead &ahead) override;
    void printFile(FileInHand &file) override;
    void runEnds() override;
    void stopNow() override;

private:
    /** The lane that prints `row`: in turn, or with a spare the one in use. */
    Lane &laneOf(std::int32_t row);
    void openAhead(std::int32_t row);

    PrintersAsRunBegan m_printers;
    EventLoop &m_events;
    std::vector<std::unique_ptr<Lane>> m_lanes;
    bool m_spare = false;    // one job, and a spare lane for after a failed file
    std::size_t m_inUse = 0; // with a spare: the lane every file goes to now
    RowsAhead m_ahead;
};

} // namespace deckrun
