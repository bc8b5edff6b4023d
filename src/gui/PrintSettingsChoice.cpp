// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/PrintSettingsChoice.h"

#include "core/common/SettingsKeys.h"
#include "platform/Logging.h"

#include <QStringList>

namespace deckrun {

PrintSettings storedPrintSettings(SettingsStore &store, const PresentationAutomation &office)
{
    PrintSettings settings;
    forEachPrintSetting([&](const auto &row) {
        const QString text = store.read(printSettingKey(row.name), QString());
        if (text.isEmpty())
            return;
        // A value another version wrote, or this system does not print (a
        // profile carried over from Windows), must not stop every run.
        if (printsValue(office, row, text))
            setSettingText(row, settings, text);
        else
            qCDebug(lcSettings) << "stored print setting" << row.name << "=" << text
                                << "not taken: as each deck says";
    });
    return settings;
}

void storePrintSettings(SettingsStore &store, const PrintSettings &settings)
{
    forEachPrintSetting([&](const auto &row) {
        store.write(printSettingKey(row.name), settingText(row, settings));
    });
}

QString printSettingsSummary(const PrintSettings &settings)
{
    QStringList said;
    forEachPrintSetting([&](const auto &row) {
        if (const QString text = settingText(row, settings); !text.isEmpty())
            said << QLatin1String(row.name) + QLatin1Char(' ') + text;
    });
    return QStringLiteral("Print settings: ") +
           (said.isEmpty() ? QStringLiteral("as each deck says") : said.join(QStringLiteral(", ")));
}

} // namespace deckrun
