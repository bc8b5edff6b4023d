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

namespace {

enum class Running { No, Yes, NotAnswering };

Running runningState(PresentationAutomation &office)
{
    try {
        const std::shared_ptr<PresentationApp> running = office.getRunning();
        return running && running->name() == office.expectedName() ? Running::Yes : Running::No;
    } catch (const Failure &f) {
        // One that is there but does not answer (a dialog open in it) runs:
        // taken as not running, it would be printed through or stopped.
        if (f.code() == code::NotAnswering)
            return Running::NotAnswering;
        qCDebug(lcOffice) << "taken as not running:" << f.description();
        return Running::No;
    } catch (const std::exception &e) {
        qCDebug(lcOffice) << "taken as not running:" << e.what();
        return Running::No;
    }
}

} // namespace

QString NotAnsweringNote(const PresentationAutomation &office)
{
    return office.productLabel() +
           QStringLiteral(" is running but does not answer: a dialog in it may be waiting for "
                          "you.\r\n\r\n");
}

bool PowerPointIsRunning(PresentationAutomation &office)
{
    return runningState(office) != Running::No;
}

bool AbortForRunningPowerPoint(PresentationAutomation &office, Dialogs &dialogs)
{
    const Running running = runningState(office);
    if (running == Running::No)
        return false;
    const QString warning = RunningApplicationWarning(office);
    return dialogs.messageBox(running == Running::NotAnswering ? NotAnsweringNote(office) + warning
                                                               : warning,
                              QString(), Buttons::YesNo, Icon::None) != Answer::Yes;
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
