// SPDX-License-Identifier: GPL-3.0-or-later
// The print service on Linux: CUPS, through libcups and the local scheduler.

#include "platform/Failure.h"
#include "platform/PrintSpooler.h"

#include <QFile>

#include <cups/cups.h>

namespace deckrun {

namespace {

class CupsSpooler final : public PrintSpooler {
public:
    int submit(const QString &printer, const QString &file, const QString &title,
               const JobOptions &options) override
    {
        cups_option_t *list = nullptr;
        int count = 0;
        for (const auto &[name, value] : options)
            count =
                cupsAddOption(name.toUtf8().constData(), value.toUtf8().constData(), count, &list);
        const int job =
            cupsPrintFile(printer.toUtf8().constData(), QFile::encodeName(file).constData(),
                          title.toUtf8().constData(), count, list);
        cupsFreeOptions(count, list);
        if (job <= 0)
            throw Failure(QString::fromUtf8(cupsLastErrorString()));
        return job;
    }

    bool acceptsJobs(const QString &printer) override
    {
        const QByteArray accepting = option(printer, "printer-is-accepting-jobs");
        return !accepting.isNull() && (accepting.isEmpty() || accepting == "true");
    }

    bool stopped(const QString &printer) override
    {
        return option(printer, "printer-state") == "5"; // IPP_PSTATE_STOPPED
    }

    std::vector<SpooledJob> jobs(const QString &printer) override
    {
        cups_job_t *list = nullptr;
        const int count = cupsGetJobs(&list, printer.toUtf8().constData(), 0, CUPS_WHICHJOBS_ALL);
        if (count < 0)
            throw Failure(QString::fromUtf8(cupsLastErrorString()));
        std::vector<SpooledJob> found;
        found.reserve(static_cast<std::size_t>(count));
        for (int k = 0; k < count; ++k) {
            const cups_job_t &j = list[k];
            found.push_back(SpooledJob{j.id, QString::fromUtf8(j.title), stateOf(j.state),
                                       QDateTime::fromSecsSinceEpoch(j.creation_time)});
        }
        cupsFreeJobs(count, list);
        return found;
    }

private:
    /** An option of the printer as CUPS reports it now; null when there is no such printer. */
    static QByteArray option(const QString &printer, const char *name)
    {
        cups_dest_t *dest =
            cupsGetNamedDest(CUPS_HTTP_DEFAULT, printer.toUtf8().constData(), nullptr);
        if (!dest)
            return {};
        const char *value = cupsGetOption(name, dest->num_options, dest->options);
        QByteArray found = value ? QByteArray(value) : QByteArray("");
        cupsFreeDests(1, dest);
        return found;
    }

    static SpooledJob::State stateOf(ipp_jstate_t state)
    {
        switch (state) {
        case IPP_JSTATE_PROCESSING:
            return SpooledJob::State::Processing;
        case IPP_JSTATE_STOPPED:
            return SpooledJob::State::Stopped;
        case IPP_JSTATE_CANCELED:
            return SpooledJob::State::Cancelled;
        case IPP_JSTATE_ABORTED:
            return SpooledJob::State::Aborted;
        case IPP_JSTATE_COMPLETED:
            return SpooledJob::State::Completed;
        default:
            return SpooledJob::State::Waiting;
        }
    }
};

} // namespace

std::unique_ptr<PrintSpooler> makeSystemPrintSpooler()
{
    return std::make_unique<CupsSpooler>();
}

} // namespace deckrun
