// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Platform.h"

#include "platform/Failure.h"
#include "platform/qt/QtServices.h"

namespace deckrun {

#ifdef DECKRUN_NO_UNO
// Built without a presentation backend: Deckrun says so at start-up.
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

std::unique_ptr<PresentationAutomation> makeSystemPresentationAutomation()
{
    return std::make_unique<UnavailableAutomation>();
}
#endif

std::unique_ptr<Platform> makeSystemPlatform()
{
    auto p = std::make_unique<Platform>();
    p->dialogs = std::make_unique<QtDialogs>();
    p->settings = std::make_unique<QtSettingsStore>();
    p->shell = std::make_unique<QtShell>();
    p->events = std::make_unique<QtEventLoop>();
    p->files = makeSystemFileSystem();
    p->printers = std::make_unique<QtPrinters>();
    p->office = makeSystemPresentationAutomation();
    p->program = std::make_unique<QtProgramControl>(*p->office);
    return p;
}

} // namespace deckrun
