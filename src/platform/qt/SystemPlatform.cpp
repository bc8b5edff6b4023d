// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Platform.h"

#include "platform/Failure.h"
#include "platform/qt/QtServices.h"

namespace deckrun {

std::unique_ptr<Platform> makeSystemPlatform(bool windowless)
{
    auto p = std::make_unique<Platform>();
    p->dialogs = std::make_unique<QtDialogs>();
    p->settings = std::make_unique<QtSettingsStore>();
    p->shell = std::make_unique<QtShell>();
    p->events = std::make_unique<QtEventLoop>();
    p->files = makeSystemFileSystem();
    p->printers = std::make_unique<QtPrinters>();
    p->office = makeSystemPresentationAutomation(*p->printers, windowless);
    p->runLog = std::make_unique<FileRunLog>(DefaultRunLogPath());
    p->program = std::make_unique<QtProgramControl>(*p->office);
    return p;
}

} // namespace deckrun
