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
#include <iterator>
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
    /**
     * The destination's own options under these, as `lp` takes them: the
     * user's lpoptions, then the printer's defaults, each where the job
     * says nothing of its own.
     */
    void addDefaults(const cups_dest_t &dest)
    {
        for (int k = 0; k < dest.num_options; ++k) {
            const cups_option_t &option = dest.options[k];
            if (!cupsGetOption(option.name, count, list))
                count = cupsAddOption(option.name, option.value, count, &list);
        }
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
        // A printer is described once for the jobs that follow (each lookup
        // costs two requests to the scheduler); a job it refuses has it
        // described afresh, since it may have changed.
        std::shared_ptr<Destination> to;
        int id = 0;
        for (const bool afresh : {false, true}) {
            to = destination(connection.http, printer, afresh);
            Options job(options);
            job.addDefaults(*to->dest);
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

    std::optional<JobStatus> jobStatus(int id) override
    {
        static const char *const wanted[] = {
            "job-state",       "job-state-reasons",         "job-state-message",
            "job-printer-uri", "job-printer-state-message", "job-printer-state-reasons"};
        const Response job(getJob(id, wanted, std::size(wanted)));
        if (job.status == IPP_STATUS_ERROR_NOT_FOUND)
            return std::nullopt;
        if (!ok(job.status) || !job.ipp)
            throw Failure(job.error);
        JobStatus status;
        const auto state = static_cast<ipp_jstate_t>(
            ippGetInteger(ippFindAttribute(job.ipp, "job-state", IPP_TAG_ENUM), 0));
        status.state = stateOf(state);
        status.held = state == IPP_JSTATE_HELD;
        status.reasons = values(job.ipp, "job-state-reasons");
        status.jobMessage = text(job.ipp, "job-state-message");
        status.printerMessage = text(job.ipp, "job-printer-state-message");
        status.printerReasons = values(job.ipp, "job-printer-state-reasons");
        if (state == IPP_JSTATE_PENDING || state == IPP_JSTATE_HELD ||
            state == IPP_JSTATE_PROCESSING)
            describePrinter(text(job.ipp, "job-printer-uri"), status);
        return status;
    }

    JobOptions jobOptions(int id) override
    {
        static const char *const wanted[] = {"job-template"};
        const Response job(getJob(id, wanted, std::size(wanted)));
        JobOptions carried;
        for (ipp_attribute_t *a = ippFirstAttribute(job.ipp); a; a = ippNextAttribute(job.ipp)) {
            if (ippGetGroupTag(a) != IPP_TAG_JOB || !ippGetName(a))
                continue;
            char value[1024] = {};
            ippAttributeString(a, value, sizeof value);
            carried << qMakePair(QString::fromUtf8(ippGetName(a)), QString::fromUtf8(value));
        }
        return carried;
    }

    std::optional<QString> unsupported(const QString &printer, const QString &name,
                                       const QString &value) override
    {
        // Described afresh: the printer's description may have changed since.
        cups_dest_t *dest =
            cupsGetNamedDest(CUPS_HTTP_DEFAULT, printer.toUtf8().constData(), nullptr);
        if (!dest)
            throw Failure(QString::fromUtf8(cupsLastErrorString()));
        cups_dinfo_t *info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest);
        if (!info) {
            const QString why = QString::fromUtf8(cupsLastErrorString());
            cupsFreeDests(1, dest);
            throw Failure(why);
        }
        const Destination described(dest, info);
        const QByteArray option = name.toUtf8();
        ipp_attribute_t *supported =
            cupsFindDestSupported(CUPS_HTTP_DEFAULT, dest, info, option.constData());
        // A printer that lists nothing for an option is not refused it.
        if (!supported || cupsCheckDestSupported(CUPS_HTTP_DEFAULT, dest, info, option.constData(),
                                                 value.toUtf8().constData()))
            return std::nullopt;
        char listed[2048] = {};
        ippAttributeString(supported, listed, sizeof listed);
        return QString::fromUtf8(listed);
    }

private:
    /** An answer of the scheduler, freed with it. */
    struct Response {
        explicit Response(ipp_t *response)
            : ipp(response), status(cupsLastError()),
              error(QString::fromUtf8(cupsLastErrorString()))
        {}
        ~Response() { ippDelete(ipp); }
        Response(const Response &) = delete;
        Response &operator=(const Response &) = delete;

        ipp_t *ipp;
        ipp_status_t status;
        QString error;
    };

    /** Get-Job-Attributes for job `id`, asking for `count` attributes. */
    static ipp_t *getJob(int id, const char *const *wanted, std::size_t count)
    {
        ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr,
                     QStringLiteral("ipp://localhost/jobs/%1").arg(id).toUtf8().constData());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                     cupsUser());
        ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                      static_cast<int>(count), nullptr, wanted);
        return cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    }

    /** While a job waits or prints: whether its printer is stopped, and what it says. */
    static void describePrinter(const QString &uri, JobStatus &status)
    {
        if (uri.isEmpty())
            return;
        static const char *const wanted[] = {"printer-state", "printer-state-message",
                                             "printer-state-reasons"};
        ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     uri.toUtf8().constData());
        ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                      static_cast<int>(std::size(wanted)), nullptr, wanted);
        const Response printer(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
        if (!printer.ipp)
            return; // the job's own state still counts
        status.printerStopped =
            ippGetInteger(ippFindAttribute(printer.ipp, "printer-state", IPP_TAG_ENUM), 0) ==
            IPP_PSTATE_STOPPED;
        if (status.printerStopped || status.printerMessage.isEmpty()) {
            status.printerMessage = text(printer.ipp, "printer-state-message");
            status.printerReasons = values(printer.ipp, "printer-state-reasons");
        }
    }

    /** The text of attribute `name` in `ipp`; empty when it has none. */
    static QString text(ipp_t *ipp, const char *name)
    {
        ipp_attribute_t *found = ippFindAttribute(ipp, name, IPP_TAG_ZERO);
        const char *value = found ? ippGetString(found, 0, nullptr) : nullptr;
        return value ? QString::fromUtf8(value) : QString();
    }

    /** Every value of attribute `name` in `ipp`. */
    static QStringList values(ipp_t *ipp, const char *name)
    {
        QStringList found;
        ipp_attribute_t *attribute = ippFindAttribute(ipp, name, IPP_TAG_ZERO);
        for (int k = 0; attribute && k < ippGetCount(attribute); ++k)
            if (const char *value = ippGetString(attribute, k, nullptr))
                found << QString::fromUtf8(value);
        return found;
    }

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
