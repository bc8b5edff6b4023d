// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/common/Conversions.h"

#include "platform/Failure.h"

#include <cmath>

namespace deckrun {

std::int16_t ToInteger16(const QString &text)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    const double value = trimmed.toDouble(&ok);
    if (!ok || trimmed.isEmpty() || std::isnan(value))
        throw Failure(QStringLiteral("Type mismatch"), code::TypeMismatch);
    const double rounded = std::nearbyint(value); // the default rounding mode is half to even
    if (rounded < -32768.0 || rounded > 32767.0)
        throw Failure(QStringLiteral("Overflow"), code::Overflow);
    return static_cast<std::int16_t>(rounded);
}

void checkSelectorIndex(int index, int count)
{
    if (index < -1 || index >= count)
        throw Failure(QStringLiteral("Invalid property value"), code::InvalidPropertyValue);
}

} // namespace deckrun
