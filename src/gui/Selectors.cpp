// SPDX-License-Identifier: GPL-3.0-or-later
// The printer and pause selectors: Combo1 names the printer every file goes
// to, Combo2 the pause after each file. Every choice is stored the moment it
// changes, also when start-up selects from code.

#include "core/common/Conversions.h"
#include "core/common/ErrorReport.h"
#include "core/common/SettingsKeys.h"
#include "core/queue/QueueModel.h"
#include "core/run/FreshApplication.h"
#include "core/run/PrinterChoice.h"
#include "core/run/PrinterNeeds.h"
#include "gui/PrintingHandlers.h"
#include "platform/Failure.h"
#include "platform/Platform.h"

#include <QComboBox>
#include <QSignalBlocker>

#include <optional>

namespace deckrun {

// Start-up step 136. A failure here is reported by start-up under that step.
void FillPrinterList(Platform &platform, QComboBox &printers)
{
    QComboBox *list = &printers;

    const QString defaultPrinter = platform.printers->defaultPrinterName();
    const QStringList names = platform.printers->printerNames();
    if (names.isEmpty())
        throw Failure(QStringLiteral("No printers are installed."), code::PrinterError);

    {
        // Adding to an empty drop-down list would select the first entry and
        // store it; the entries go in unselected.
        const QSignalBlocker quiet(list);
        for (const QString &name : names)
            list->addItem(name);
        list->setCurrentIndex(-1);
    }

    // Selecting below goes through the list's change signal, which stores the
    // choice as a click does.
    if (const std::optional<int> chosen =
            startingPrinter(*platform.settings, names, defaultPrinter))
        list->setCurrentIndex(*chosen);
    // Otherwise (printers but no default) every printer is listed and none selected.
}

void FillPauseList(SettingsStore &settings, QComboBox &pauses, StepRunner &steps)
{
    for (int i = 0; i <= 9; ++i) {
        steps.step(140, [&] {
            // Adding to an empty drop-down list would select the first entry
            // and store it; entries are appended unselected.
            const QSignalBlocker quiet(&pauses);
            const int before = pauses.currentIndex();
            pauses.addItem(QString::number(i) + QStringLiteral(" seconds"));
            pauses.setCurrentIndex(before);
        });
    }
    // Selecting goes through the list's change signal, which stores the choice.
    steps.step(144, [&] {
        const int index = ToInteger16(readSetting(settings, setting::PauseIndex));
        checkSelectorIndex(index, pauses.count());
        pauses.setCurrentIndex(index);
    });
}

void Combo1_Click(SettingsStore &settings, const QComboBox &printers)
{
    writeSetting(settings, setting::PrinterIndex, QString::number(printers.currentIndex()));
    // The name too, so that the choice survives printers coming and going.
    writeSetting(settings, setting::PrinterName, printers.currentText());
}

void Combo2_Click(SettingsStore &settings, const QComboBox &pauses)
{
    writeSetting(settings, setting::PauseIndex, QString::number(pauses.currentIndex()));
}

void Combo2_Change(SettingsStore &settings, const QComboBox &pauses)
{
    Combo2_Click(settings, pauses);
}

void PushButton3_Click(PrintWindow &window)
{
    Platform &platform = window.platform();
    const PrintSettings asked = window.printSettings();
    // What the printer cannot do is said once, before any file is printed,
    // not file after file by the printer.
    if (!window.printingFlag() && window.queue().count() > 0 && platform.spooler)
        if (const auto refused = printerRefusal(*platform.spooler, window.printerName(), asked)) {
            platform.dialogs->messageBox(refusalMessage(*refused), QString(), Buttons::Ok,
                                         Icon::Warning);
            return;
        }
    FreshApplication freshApplication(*platform.office, *platform.files);
    printQueue(RunSetup{.platform = platform,
                        .choices = window,
                        .progress = window,
                        .strategy = freshApplication,
                        .settings = asked},
               window.queue(), window.printingFlag());
}

void PushButton9_Click(Dialogs &dialogs)
{
    StepRunner steps(dialogs, FormLocation("PushButton9_Click"));
    steps.step(100, [&] {
        dialogs.messageBox(
            QStringLiteral(
                "Please use this pause feature if blank pages are being printed or if files "
                "are being skipped.") +
                QStringLiteral("\r\n\r\n") +
                QStringLiteral(
                    "By pausing, you will give time for the print jobs to queue properly "
                    "with the physical printer."),
            QString(), Buttons::Ok, Icon::None);
    });
}

} // namespace deckrun
