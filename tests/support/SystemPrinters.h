// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The machine's own printers (through CUPS), for tests and benchmarks that
// drive the real office: the office backend asks this service which printers
// exist, as the program's does.

#include "platform/qt/QtServices.h"

#include <QDir>
#include <QString>

namespace deckrun::test {

inline Printers &systemPrinters()
{
    static QtPrinters printers;
    return printers;
}

/**
 * The PDF printer scripts/test-printer.sh made for the tests (the one
 * `variable` names), or empty when it or its output folder is not set.
 */
inline QString printerUnderTest(const char *variable = "DECKRUN_TEST_PRINTER")
{
    if (qEnvironmentVariableIsEmpty("DECKRUN_TEST_PDF_DIR"))
        return {};
    return qEnvironmentVariable(variable);
}

/** Why a test that prints is skipped without that printer. */
inline constexpr const char *NoPrinterUnderTest =
    "DECKRUN_TEST_PRINTER / DECKRUN_TEST_PDF_DIR unset (source scripts/test-printer.sh)";

/**
 * Removes the test printer's PDFs whose names carry `token`. Nothing without
 * a token or the printer's folder: the empty folder name is the current one.
 */
inline void removeTestPdfs(const QString &token)
{
    const QString folder = qEnvironmentVariable("DECKRUN_TEST_PDF_DIR");
    if (token.isEmpty() || folder.isEmpty())
        return;
    QDir pdfs(folder);
    for (const QString &name :
         pdfs.entryList({QLatin1Char('*') + token + QLatin1Char('*')}, QDir::Files))
        pdfs.remove(name);
}

} // namespace deckrun::test
