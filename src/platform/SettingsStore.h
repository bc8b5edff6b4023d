// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace deckrun {

/**
 * The per-user store of named text values, application "Orvanta", section
 * "Deckrun". Reads never fail; a write replaces the value at once and throws
 * Failure when it cannot be stored.
 */
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual QString read(const QString &key, const QString &defaultValue = QString()) = 0;
    virtual void write(const QString &key, const QString &value) = 0;
};

} // namespace deckrun
