// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The print settings the window asks for: what "Start Printing" prints every
// deck with, over what the deck says. Kept per user, one key a setting
// (printSettingKey), each value as the command line writes it; a value that
// is missing, unreadable or not printed by this system means "as each deck
// says". Every setting is a row of platform/PrintSettings.h: nothing here
// names one.

#include "platform/PresentationAutomation.h"
#include "platform/PrintSettings.h"

#include <QString>

namespace deckrun {

class SettingsStore;

/** The row's value in `settings` as the command line writes it; empty when unset. */
template <typename Row> QString settingText(const Row &row, const PrintSettings &settings)
{
    const auto &value = settings.*row.member;
    return value ? QString::fromStdString(row.codec.text(*value)) : QString();
}

/**
 * Sets the row's value in `settings` from `text` as the command line writes
 * it; an empty text unsets it. False, and unset, for a text the row does not take.
 */
template <typename Row>
bool setSettingText(const Row &row, PrintSettings &settings, const QString &text)
{
    auto &value = settings.*row.member;
    value = row.codec.read(text.toStdString());
    return value || text.isEmpty();
}

/** Whether the application prints the row's value `text`: it reads, and nothing refuses it. */
template <typename Row>
bool printsValue(const PresentationAutomation &office, const Row &row, const QString &text)
{
    PrintSettings alone;
    return setSettingText(row, alone, text) && !text.isEmpty() && office.refusal(alone).isEmpty();
}

/** The stored choices, each one the application prints; the others as each deck says. */
PrintSettings storedPrintSettings(SettingsStore &store, const PresentationAutomation &office);
/** Stores every setting, an unset one as empty; throws Failure when the store refuses. */
void storePrintSettings(SettingsStore &store, const PrintSettings &settings);
/** One line for the window: "Print settings: layout handouts-6, color gray". */
QString printSettingsSummary(const PrintSettings &settings);

} // namespace deckrun
