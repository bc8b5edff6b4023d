// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The system's print service as Deckrun hands it documents: a job of one
// document (sheets made for the printer's paper), with the options a sheet
// cannot carry (copies, two-sided, grayscale), whose id tells it apart later, also
// after a crash. On Linux this is CUPS through libcups; on Windows the
// presentation application prints itself, and there is none.

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>
#include <vector>

namespace deckrun {

/** A job as the print service remembers it. */
struct SpooledJob {
    int id = 0;
    QString title;
    enum class State { Waiting, Processing, Stopped, Cancelled, Aborted, Completed } state{};
    QDateTime created;
};

/** Options of a job by their IPP names ("copies", "sides" ...). */
using JobOptions = QList<QPair<QString, QString>>;

/** A sheet of a printer's paper, upright, in points (1/72 inch), and the margins it cannot print.
 */
struct Paper {
    double width = 595.276, height = 841.89; // A4
    double left = 0, bottom = 0, right = 0, top = 0;
};

class PrintSpooler {
public:
    virtual ~PrintSpooler() = default;
    /**
     * Hands `file` (a PDF) to `printer` as one job named `title`; the job's id
     * once the service has the whole document. Throws Failure with the
     * service's own words when it will not take it.
     */
    virtual int submit(const QString &printer, const QString &file, const QString &title,
                       const JobOptions &options) = 0;
    /**
     * The paper `printer` prints on when a job does not say (its default
     * media); A4 where the service cannot say. Deckrun makes its sheets for it.
     */
    virtual Paper paper(const QString &printer)
    {
        (void)printer;
        return {};
    }
    /** Whether `printer` accepts jobs now (it may refuse them for a while). */
    virtual bool acceptsJobs(const QString &printer) = 0;
    /** Whether `printer` is stopped: it keeps the jobs it takes until it is started again. */
    virtual bool stopped(const QString &printer) = 0;
    /**
     * The jobs of `printer`, finished ones included, as long as the service
     * keeps their history. Throws Failure when the service cannot be asked.
     */
    virtual std::vector<SpooledJob> jobs(const QString &printer) = 0;
};

/** The system's print service; none where the presentation application prints itself. */
std::unique_ptr<PrintSpooler> makeSystemPrintSpooler();

} // namespace deckrun
