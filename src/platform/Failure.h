// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FailureCodes.h"

#include <QString>

#include <stdexcept>

namespace deckrun {

/**
 * The one exception type of platform operations and helpers. It carries the
 * description the user reads in the error report, and an optional error code
 * (70 permission denied, 76 path not found, 20476 too many files, ...).
 */
class Failure : public std::runtime_error {
public:
    explicit Failure(const QString &description, int code = 0)
        : std::runtime_error(description.toStdString()), m_description(description), m_code(code)
    {}

    const QString &description() const { return m_description; }
    int code() const { return m_code; }

private:
    QString m_description;
    int m_code;
};

} // namespace deckrun
