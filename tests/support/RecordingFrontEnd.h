// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/run/PrintRun.h"

#include <functional>
#include <vector>

namespace deckrun::test {

/** The choices and the progress of a run without a window, with what it was told. */
class RecordingFrontEnd final : public PrintChoices, public PrintProgress {
public:
    QString printerName() const override { return printer; }
    QString pauseText() const override { return pause; }
    void showBusy(bool) override {}
    void showPercent(int) override {}
    void showText(const QString &) override {}
    void fileStarted(int position, int, const QString &) override
    {
        if (onFileStarted)
            onFileStarted(position);
    }
    void fileEnded(const FileOutcome &outcome) override { ended.push_back(outcome); }
    bool announceDone() override { return saysDone; }

    QString printer = QStringLiteral("Office Laser");
    QString pause = QStringLiteral("3 seconds");
    bool saysDone = false;
    std::function<void(int position)> onFileStarted;
    std::vector<FileOutcome> ended;
};

} // namespace deckrun::test
