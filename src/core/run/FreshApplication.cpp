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
    steps.step(124, [&] { WaitSeconds(file.events, 1, file.stopping); });
    steps.step(126, [&] {
        file.outcome.printer = file.choices.printerName();
        requiredObject(application).setActivePrinter(file.outcome.printer);
    });
    steps.step(128, [&] { requiredObject(presentation).setPrintInBackground(false); });
    // Once the job is confirmed the file's line goes to the log at once,
    // before the quit and the waits: a run killed from here on has recorded
    // every file that reached the printer.
    if (steps.step(130, [&] { printAndRecord(requiredObject(presentation), file); }))
        file.handedOver();
    steps.step(132, [&] { requiredObject(application).quit(); });
    steps.step(134, [&] { WaitSeconds(file.events, 1, file.stopping); });
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
