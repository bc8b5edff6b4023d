// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every test sees this first (the test programs are compiled with it
// included): a failed check shows a QString as its text, not as
// "2-byte object <61-00>" for each character.

#include <QString>

#include <ostream>

inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
