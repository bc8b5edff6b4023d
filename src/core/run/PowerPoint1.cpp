// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/PowerPoint1.h"

#include "core/run/OpenPresentationSteps.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/Logging.h"
#include "platform/Platform.h"

namespace deckrun {

QString NotInstalledMessage(const PresentationAutomation &office)
{
    const QString product = office.productLabel();
    return product + QStringLiteral(" is not installed on this computer. You need to have it "
                                    "installed to use this software without error.");
}

QString RunningApplicationWarning(const PresentationAutomation &office)
{
    const QString product = office.productLabel();
    return product + QStringLiteral(" may be open. It is recommended that you close ") + product +
           QStringLiteral(" first.") + QLatin1Char('\r') +
           QStringLiteral("Use Ctrl+Alt+Del > Task Manager > ") + office.processName() +
           QStringLiteral(" if necessary.") + QStringLiteral("\r\n\r\n") +
           QStringLiteral("Would you like to proceed anyway?");
}

void CheckPowerPointInstalled(Platform &platform)
{
    bool usable = false;
    try {
        usable = platform.office->isInstalled();
    } catch (const std::exception &e) {
        qCDebug(lcOffice) << "taken as not installed:" << e.what();
        usable = false;
    }
    if (usable)
        return;
    try {
        platform.dialogs->messageBox(NotInstalledMessage(*platform.office), QString(), Buttons::Ok,
                                     Icon::None);
    } catch (const std::exception &e) {
        qCDebug(lcOffice) << "the not-installed message was not shown:" << e.what();
    }
    platform.program->refuseToStart();
}

bool PowerPointIsRunning(PresentationAutomation &office)
{
    try {
        const std::shared_ptr<PresentationApp> running = office.getRunning();
        return running && running->name() == office.expectedName();
    } catch (const std::exception &e) {
        qCDebug(lcOffice) << "taken as not running:" << e.what();
        return false;
    }
}

bool AbortForRunningPowerPoint(PresentationAutomation &office, Dialogs &dialogs)
{
    if (!PowerPointIsRunning(office))
        return false;
    return dialogs.messageBox(RunningApplicationWarning(office), QString(), Buttons::YesNo,
                              Icon::None) != Answer::Yes;
}

void checkPresentationFile(FileSystem &files, const PresentationAutomation &office,
                           const QString &path)
{
    const QString why = files.whyNotReadable(path);
    if (!why.isEmpty())
        throw Failure(
            QStringLiteral("%1 could not open \"%2\": %3.").arg(office.productLabel(), path, why));
}

std::shared_ptr<PresentationApp> OpenPresentation(PresentationAutomation &office,
                                                  const QString &path)
{
    return openPresentationSteps(office, path);
}

} // namespace deckrun
