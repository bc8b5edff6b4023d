// SPDX-License-Identifier: GPL-3.0-or-later
// A build without a presentation backend: Deckrun says so at start-up.

#include "platform/Failure.h"
#include "platform/Platform.h"

namespace deckrun {

namespace {
class UnavailableAutomation final : public PresentationAutomation {
public:
    std::shared_ptr<PresentationApp> create() override
    {
        throw Failure(QStringLiteral("This build of Deckrun has no presentation application."));
    }
    std::shared_ptr<PresentationApp> getRunning() override { return create(); }
    QString expectedName() const override { return QStringLiteral("LibreOffice"); }
    QString productLabel() const override { return QStringLiteral("LibreOffice Impress"); }
    QString processName() const override { return QStringLiteral("soffice.bin"); }
};
} // namespace

std::unique_ptr<PresentationAutomation> makeSystemPresentationAutomation(Printers &, PrintSpooler *,
                                                                         bool)
{
    return std::make_unique<UnavailableAutomation>();
}

bool systemPrints(PrintLayout layout)
{
    return layout != PrintLayout::Outline;
}

} // namespace deckrun
