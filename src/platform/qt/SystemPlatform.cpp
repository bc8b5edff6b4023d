// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Platform.h"

#include "platform/Failure.h"
#include "platform/qt/QtServices.h"

namespace deckrun {

std::unique_ptr<Platform> makeSystemPlatform(std::unique_ptr<Dialogs> dialogs, bool windowless)
{
    auto p = std::make_unique<Platform>();
    p->dialogs = dialogs ? std::move(dialogs) : std::make_unique<QtDialogs>();
    p->settings = std::make_unique<QtSettingsStore>();
    p->shell = std::make_unique<QtShell>();
    p->events = std::make_unique<QtEventLoop>();
    p->files = makeSystemFileSystem();
    p->handover = std::make_unique<FileHandover>();
    p->printers = std::make_unique<QtPrinters>();
    p->spooler = makeSystemPrintSpooler();
    p->office = makeSystemPresentationAutomation(*p->printers, p->spooler.get(), windowless);
    p->runLog = std::make_unique<FileRunLog>(DefaultRunLogPath());
    p->program = std::make_unique<QtProgramControl>(*p->office);
    return p;
}

} // namespace deckrun
