// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// PowerPoint as the presentation application (Windows): the Qt-free
// ComPowerPoint calls behind the interface the print run uses.

#include "platform/PresentationAutomation.h"

namespace deckrun::com {

class ComAutomation final : public PresentationAutomation {
public:
    std::shared_ptr<PresentationApp> create() override;
    std::shared_ptr<PresentationApp> getRunning() override;
    QString expectedName() const override { return QStringLiteral("Microsoft PowerPoint"); }
    QString productLabel() const override { return QStringLiteral("PowerPoint"); }
    QString processName() const override { return QStringLiteral("POWERPNT.EXE"); }
};

} // namespace deckrun::com
