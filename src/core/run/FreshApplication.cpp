// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/FreshApplication.h"

#include "core/common/ErrorReport.h"
#include "core/run/PowerPoint1.h"
#include "core/run/PrintRun.h"
#include "platform/Logging.h"
#include "platform/PresentationAutomation.h"

namespace deckrun {

FreshApplication::FreshApplication(PresentationAutomation &office, FileSystem &files)
    : m_office(office), m_files(files)
{}

void FreshApplication::printFile(FileInHand &file)
{
    StepRunner &steps = file.steps;
    // This file's references, empty when the step that gives them failed.
    std::shared_ptr<PresentationApp> application;
    std::shared_ptr<Presentation> presentation;
    steps.step(120, [&] {
        checkPresentationFile(m_files, m_office, file.path);
        application = OpenPresentation(m_office, file.path);
    });
    steps.step(122, [&] { presentation = requiredObject(application).activePresentation(); });
    steps.step(124, [&] { WaitSeconds(file.events, 1, [&] { return file.stopping(); }); });
    file.choosePrinter(
        [&](const QString &printer) { requiredObject(application).setActivePrinter(printer); });
    steps.step(128, [&] { requiredObject(presentation).setPrintInBackground(false); });
    file.print([&](const PrintSettings &asked, const QString &jobName) {
        return requiredObject(presentation).printOut(asked, jobName);
    });
    steps.step(132, [&] { requiredObject(application).quit(); });
    steps.step(134, [&] { WaitSeconds(file.events, 1, [&] { return file.stopping(); }); });
    steps.step(136, [&] { presentation.reset(); });
    steps.step(138, [&] { application.reset(); });
}

void FreshApplication::stopNow()
{
    try {
        m_office.shutdown();
    } catch (const std::exception &e) {
        qCDebug(lcOffice) << "the application could not be stopped:" << e.what();
    }
}

} // namespace deckrun
