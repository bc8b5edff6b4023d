// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The "Print settings…" dialog: one control a print setting, each with
// "As each deck says" and the values this system prints, built from the rows
// of platform/PrintSettings.h (a setting none of whose values it prints is
// left out). Opened window-modal by PushButton10_Click; on OK the window
// keeps, stores and shows what it is left at.

#include "platform/PrintSettings.h"

#include <QDialog>

#include <functional>
#include <vector>

class QPushButton;

namespace deckrun {

class Form1;
class PresentationAutomation;

/** One setting's control in the dialog, and its value as the command line writes it ("": as each
 * deck says). */
struct SettingField {
    QWidget *control;
    std::function<QString()> text;
    std::function<void(const QString &)> setText;
    /** Sets the setting from a text; false when it does not read. */
    std::function<bool(PrintSettings &, const QString &)> take;
};

class PrintSettingsDialog final : public QDialog {
    Q_OBJECT

public:
    PrintSettingsDialog(const PrintSettings &current, const PresentationAutomation &office,
                        QWidget *parent);

    /** What the controls say now. */
    PrintSettings chosen() const;

private:
    void addFields(const PrintSettings &current, const PresentationAutomation &office);
    /** OK only while every control holds a value that reads (the slides typed in). */
    void checkValues();

    std::vector<SettingField> m_fields;
    QPushButton *m_ok = nullptr;
};

void PushButton10_Click(Form1 &form); // Print settings…

} // namespace deckrun
