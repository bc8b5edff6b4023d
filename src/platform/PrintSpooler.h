// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The system's print service as Deckrun hands it documents: a job of one
// document (sheets made for the printer's paper), with the options a sheet
// cannot carry (copies, two-sided, grayscale), whose id tells it apart later,
// also after a crash, and which is followed to its end. On Linux this is CUPS
// through libcups; on Windows the presentation application prints itself,
// and there is none.

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
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

/** A job as the print service describes it now, with what its printer says. */
struct JobStatus {
    SpooledJob::State state = SpooledJob::State::Waiting;
    /** Held until someone releases it (a waiting job only). */
    bool held = false;
    /** The job's state reasons ("job-printing", "job-completed-with-errors" ...). */
    QStringList reasons = {};
    /** The service's words about the job. */
    QString jobMessage = {};
    /** The printer's words: what it said while it had the job, or says now while the job waits. */
    QString printerMessage = {};
    /** The printer's state reasons with them ("media-jam-error" ...). */
    QStringList printerReasons = {};
    /** The job's printer is stopped: the job waits for someone to start it again. */
    bool printerStopped = false;
};

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
    /**
     * Job `id` as the service describes it now; none once it no longer knows
     * it (its history was not kept). Throws Failure when it cannot be asked.
     */
    virtual std::optional<JobStatus> jobStatus(int id)
    {
        (void)id;
        return std::nullopt;
    }
    /**
     * The options job `id` carries as the service took it: those it was
     * given, the user's defaults and the printer's; empty when it cannot say.
     */
    virtual JobOptions jobOptions(int id)
    {
        (void)id;
        return {};
    }
    /**
     * Whether `printer`, as it describes itself now, prints with the option
     * `name` at `value` ("sides", "two-sided-long-edge"): none when it does;
     * otherwise what it supports, as it lists it ("one-sided"; a range as
     * "1-9999"). Throws Failure when the printer cannot be described.
     */
    virtual std::optional<QString> unsupported(const QString &printer, const QString &name,
                                               const QString &value)
    {
        (void)printer, (void)name, (void)value;
        return std::nullopt;
    }
};

/** The system's print service; none where the presentation application prints itself. */
std::unique_ptr<PrintSpooler> makeSystemPrintSpooler();

} // namespace deckrun
