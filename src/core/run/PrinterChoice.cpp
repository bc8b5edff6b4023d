// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/PrinterChoice.h"

#include "core/common/Conversions.h"
#include "core/common/SettingsKeys.h"

namespace deckrun {

std::optional<int> startingPrinter(SettingsStore &settings, const QStringList &names,
                                   const QString &defaultPrinter)
{
    // The printer's own name, when stored and still installed, wins over the
    // stored index: a printer added or removed since the last run shifts the
    // indices, never the choice.
    const QString storedName = readSetting(settings, setting::PrinterName);
    const QString storedIndex = readSetting(settings, setting::PrinterIndex);
    const int named = storedName.isEmpty() ? -1 : static_cast<int>(names.indexOf(storedName));
    if (named >= 0)
        return named;
    if (!storedIndex.isEmpty()) {
        const int index = ToInteger16(storedIndex);
        checkSelectorIndex(index, static_cast<int>(names.size()));
        return index;
    }
    if (!defaultPrinter.isEmpty()) {
        const int index = static_cast<int>(names.indexOf(defaultPrinter));
        if (index >= 0)
            return index;
    }
    return std::nullopt;
}

} // namespace deckrun
