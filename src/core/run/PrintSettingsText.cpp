// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/PrintSettingsText.h"

#include <QByteArrayList>

namespace deckrun {

QByteArray settingsJson(const PrintSettings &s)
{
    // The names and ranges written hold no quote, backslash or control character.
    QByteArrayList fields;
    forEachPrintSetting([&](const auto &row) {
        if (const auto &value = s.*row.member)
            fields << '"' + QByteArray(row.name) +
                          "\":" + QByteArray::fromStdString(row.codec.json(*value));
    });
    return '{' + fields.join(',') + '}';
}

} // namespace deckrun
