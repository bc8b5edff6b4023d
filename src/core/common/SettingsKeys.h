// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every setting Deckrun stores, with the value a read gives when nothing is
// stored. The names are those earlier versions stored, so a user's choices
// carry over; every read and write goes through this table.

#include "platform/SettingsStore.h"

#include <QString>
#include <QStringList>

namespace deckrun {

struct SettingKey {
    const char *name;
    const char *defaultValue;
};

namespace setting {
/** The chosen printer's index in the printer selector. */
inline constexpr SettingKey PrinterIndex{"Combo1", ""};
/** The chosen printer's name: wins over the index while that printer is installed. */
inline constexpr SettingKey PrinterName{"PrinterName", ""};
/** The chosen pause's index in the pause selector; "5 seconds" at first. */
inline constexpr SettingKey PauseIndex{"Combo2", "5"};
/** The extension last asked for by "Add All File(s) In Folder". */
inline constexpr SettingKey Extension{"Extension", "ppt"};
/** The folder the folder browser starts in. */
inline constexpr SettingKey LastFolder{"LastFolder", ""};
} // namespace setting

/**
 * The key of the print setting a row of printSettingRows names ("hidden-slides":
 * "PrintHiddenSlides"). Its value is written as the command line writes it;
 * empty, or unreadable, means "as each deck says".
 */
inline QString printSettingKey(const char *rowName)
{
    QString key = QStringLiteral("Print");
    for (const QString &word : QString::fromLatin1(rowName).split(QLatin1Char('-')))
        key += word.left(1).toUpper() + word.mid(1);
    return key;
}

/** The stored value of `key`, or its default when none is stored. */
inline QString readSetting(SettingsStore &settings, const SettingKey &key)
{
    return settings.read(QLatin1String(key.name), QLatin1String(key.defaultValue));
}

inline void writeSetting(SettingsStore &settings, const SettingKey &key, const QString &value)
{
    settings.write(QLatin1String(key.name), value);
}

} // namespace deckrun
