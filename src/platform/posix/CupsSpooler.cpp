// SPDX-License-Identifier: GPL-3.0-or-later
// The print service on Linux: CUPS, through libcups and the local scheduler.

#include "platform/Failure.h"
#include "platform/Logging.h"
#include "platform/PrintSpooler.h"

#include <QFile>
#include <QFileInfo>

#include <cups/cups.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace deckrun {

namespace {

/** A printer as CUPS described it for jobs: where they go, and how it takes them. */
struct Destination {
    Destination(cups_dest_t *d, cups_dinfo_t *i) : dest(d), info(i) {}
    ~Destination()
    {
        cupsFreeDestInfo(info);
        cupsFreeDests(1, dest);
    }
    Destination(const Destination &) = delete;
    Destination &operator=(const Destination &) = delete;

    cups_dest_t *dest;
    cups_dinfo_t *info;
};

/** A connection to the scheduler for one job, so that jobs from several threads never share one. */
struct Connection {
    Connection()
        : http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000,
                            nullptr))
    {}
    ~Connection() { httpClose(http); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    http_t *http;
};

struct Options {
    explicit Options(const JobOptions &options)
    {
        for (const auto &[name, value] : options)
            count =
                cupsAddOption(name.toUtf8().constData(), value.toUtf8().constData(), count, &list);
    }
    ~Options() { cupsFreeOptions(count, list); }
    Options(const Options &) = delete;
    Options &operator=(const Options &) = delete;

    int count = 0;
    cups_option_t *list = nullptr;
};

bool ok(ipp_status_t status)
{
    return status <= IPP_STATUS_OK_CONFLICTING;
}

class CupsSpooler final : public PrintSpooler {
public:
    int submit(const QString &printer, const QString &file, const QString &title,
               const JobOptions &options) override
    {
        QFile document(file);
        if (!document.open(QIODevice::ReadOnly))
            throw Failure(document.errorString());
        const Connection connection;
        if (!connection.http)
            throw Failure(QStringLiteral("the print service cannot be reached: %1")
                              .arg(QString::fromLocal8Bit(std::strerror(errno))));
        const Options job(options);
        // A printer is described once for the jobs that follow (each lookup
        // costs two requests to the scheduler); a job it refuses has it
        // described afresh, since it may have changed.
        std::shared_ptr<Destination> to;
        int id = 0;
        for (const bool afresh : {false, true}) {
            to = destination(connection.http, printer, afresh);
            if (ok(cupsCreateDestJob(connection.http, to->dest, to->info, &id,
                                     title.toUtf8().constData(), job.count, job.list)))
                break;
            if (afresh)
                throw Failure(QString::fromUtf8(cupsLastErrorString()));
        }
        if (!send(connection.http, *to, id, document)) {
            const QString why = QString::fromUtf8(cupsLastErrorString());
            cupsCancelDestJob(connection.http, to->dest, id);
            throw Failure(why);
        }
        return id;
    }

    Paper paper(const QString &printer) override
    {
        const Connection connection;
        std::shared_ptr<Destination> to;
        try {
            if (connection.http)
                to = destination(connection.http, printer, false);
        } catch (const Failure &unknown) {
            qCDebug(lcOffice) << "the paper of" << printer
                              << "is not known:" << unknown.description();
        }
        if (!to)
            return {}; // the job's hand-over says why, in its own words
        cups_size_t size{};
        if (!cupsGetDestMediaDefault(connection.http, to->dest, to->info, 0, &size) ||
            size.width <= 0 || size.length <= 0)
            return {}; // A4, as most of the world's printers
        // CUPS measures in hundredths of a millimetre.
        const auto points = [](int hundredths) { return hundredths * 72.0 / 2540.0; };
        return Paper{points(size.width),  points(size.length), points(size.left),
                     points(size.bottom), points(size.right),  points(size.top)};
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
    /** `printer` as CUPS describes it for jobs; looked up again when `afresh`. */
    std::shared_ptr<Destination> destination(http_t *http, const QString &printer, bool afresh)
    {
        const std::lock_guard lock(m_lock);
        auto known = m_destinations.find(printer);
        if (known != m_destinations.end() && !afresh)
            return known->second;
        if (known != m_destinations.end())
            m_destinations.erase(known);
        cups_dest_t *dest = cupsGetNamedDest(http, printer.toUtf8().constData(), nullptr);
        if (!dest)
            throw Failure(QString::fromUtf8(cupsLastErrorString()));
        cups_dinfo_t *info = cupsCopyDestInfo(http, dest);
        if (!info) {
            const QString why = QString::fromUtf8(cupsLastErrorString());
            cupsFreeDests(1, dest);
            throw Failure(why);
        }
        auto made = std::make_shared<Destination>(dest, info);
        m_destinations.emplace(printer, made);
        return made;
    }

    /** Sends `document` as the whole of job `id`; false when the scheduler did not take it. */
    static bool send(http_t *http, const Destination &to, int id, QFile &document)
    {
        const QByteArray name = QFileInfo(document.fileName()).fileName().toUtf8();
        if (cupsStartDestDocument(http, to.dest, to.info, id, name.constData(), CUPS_FORMAT_PDF, 0,
                                  nullptr, 1) != HTTP_STATUS_CONTINUE)
            return false;
        char buffer[65536];
        for (;;) {
            const qint64 read = document.read(buffer, sizeof buffer);
            if (read < 0)
                return false;
            if (read == 0)
                break;
            if (cupsWriteRequestData(http, buffer, static_cast<size_t>(read)) !=
                HTTP_STATUS_CONTINUE)
                return false;
        }
        return ok(cupsFinishDestDocument(http, to.dest, to.info));
    }

    std::mutex m_lock;
    std::map<QString, std::shared_ptr<Destination>> m_destinations;

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
