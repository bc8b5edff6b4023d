// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The machine's own printers (through CUPS), for tests and benchmarks that
// drive the real office: the office backend asks this service which printers
// exist, as the program's does.

#include "platform/qt/QtServices.h"

namespace deckrun::test {

inline Printers &systemPrinters()
{
    static QtPrinters printers;
    return printers;
}

} // namespace deckrun::test
