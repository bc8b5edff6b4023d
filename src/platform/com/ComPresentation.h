// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// PowerPoint as the presentation application (Windows): the Qt-free
// PowerPointAutomation behind the interface the print run uses. Every call
// runs in the core's own apartment under its deadline while the window's
// thread handles its messages (Qt's events among them).

#include "platform/PresentationAutomation.h"

#include <memory>

namespace deckrun::com {

class PowerPointAutomation;

class ComAutomation final : public PresentationAutomation {
public:
    ComAutomation();
    ~ComAutomation() override;

    std::shared_ptr<PresentationApp> create() override;
    std::shared_ptr<PresentationApp> getRunning() override;
    /** Whether PowerPoint is registered for automation; starts nothing. */
    bool isInstalled() override;
    QString expectedName() const override { return QStringLiteral("Microsoft PowerPoint"); }
    QString productLabel() const override { return QStringLiteral("PowerPoint"); }
    QString processName() const override { return QStringLiteral("POWERPNT.EXE"); }
    /** True while a PowerPoint runs that Deckrun did not start: PowerPoint runs once a session. */
    bool someoneElsesRunning() override;
    /** Two-sided printing is the printer's own setting: PowerPoint cannot be asked for it. */
    QString refusal(const PrintSettings &asked) const override;
    /** Stops the PowerPoint Deckrun started, if it still runs. */
    void shutdown() override;

private:
    std::unique_ptr<PowerPointAutomation> m_core;
};

} // namespace deckrun::com
