// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The printing handlers, by their given names: "Start Printing" (PrintRun.cpp)
// and the printer and pause selectors (Selectors.cpp), with the start-up
// steps that fill the selectors and check for the presentation application.

#include "core/run/PowerPoint1.h"
#include "core/run/PrintRun.h"
#include "core/run/PrinterChoice.h"

#include <QStringList>

#include <optional>

class QComboBox;

namespace deckrun {

class Dialogs;
class QueueModel;
class SettingsStore;
class StepRunner;
struct Platform;

/** What "Start Printing" reaches in the window: the queue, the choices, the progress shown. */
class PrintWindow : public PrintChoices, public PrintProgress {
public:
    virtual Platform &platform() = 0;
    virtual QueueModel &queue() = 0;
    /** Set while a run is under way: a second start does nothing. */
    virtual bool &printingFlag() = 0;
    /** What every deck is printed with, over what the deck says. */
    virtual PrintSettings printSettings() const = 0;
};

void PushButton3_Click(PrintWindow &window); // Start Printing
void PushButton9_Click(Dialogs &dialogs);    // "?" beside the pause
void Combo1_Click(SettingsStore &settings, const QComboBox &printers);
void Combo2_Click(SettingsStore &settings, const QComboBox &pauses);
void Combo2_Change(SettingsStore &settings, const QComboBox &pauses);

// Start-up hooks called by Form_Load.
void FillPrinterList(Platform &platform, QComboBox &printers); // step 136
/** The ten pauses, each under step 140, then the stored choice under step 144. */
void FillPauseList(SettingsStore &settings, QComboBox &pauses, StepRunner &steps);

} // namespace deckrun
