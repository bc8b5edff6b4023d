// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace deckrun {

/** The system's printers, by device name. */
class Printers {
public:
    virtual ~Printers() = default;
    /** The default printer's name; empty when the system has none. */
    virtual QString defaultPrinterName() = 0;
    /** Every printer's device name, in the system's order. */
    virtual QStringList printerNames() = 0;
};

} // namespace deckrun
