// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/WatchSession.h"

#include "cli/TerminalOutput.h"
#include "core/common/ErrorReport.h"
#include "core/hotfolder/JobIdentity.h"
#include "core/queue/QueueModel.h"
#include "core/run/PrintRun.h"
#include "platform/Logging.h"
#include "platform/Platform.h"
#include "platform/ServiceManager.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QSysInfo>

#include <algorithm>
#include <memory>

namespace deckrun {

namespace {

// A watcher refreshes its lock every minute.
constexpr int HeartbeatMilliseconds = 60 * 1000;
// The system tells of changes made through this machine only: on a network
// file system, what other machines drop is found by looking again this often.
constexpr int NetworkLookMilliseconds = 10 * 1000;
// How often the watched folder is looked at (gone, renamed, unmounted).
constexpr int FolderLookMilliseconds = 2 * 1000;
// How often a printer that takes no jobs is asked again.
constexpr int PrinterLookMilliseconds = 60 * 1000;

const QStringList OwnFolders = {QStringLiteral("Processing"), QStringLiteral("Printed"),
                                QStringLiteral("Failed")};

} // namespace

WatchSession::WatchSession(Platform &platform, ConsoleDialogs &dialogs, WatchOptions options,
                           PrintWay &way, ConsoleStop &stop)
    : m_platform(platform), m_dialogs(dialogs), m_options(std::move(options)), m_stop(stop),
      m_hotFolder(*platform.handover, m_options.folder,
                  watcherName(QSysInfo::machineHostName(), QCoreApplication::applicationPid()),
                  [](const QString &text) { sayError(text); }),
      m_settling(m_options.settleMilliseconds), m_way(way),
      m_run(m_options.printer, way.pauseDigit, ConsoleLines::None, stop, dialogs)
{
    m_clock.start();
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, [this] { work(); });
    connect(&m_heartbeat, &QTimer::timeout, this, [this] { m_hotFolder.heartbeat(); });
    connect(&m_folderLook, &QTimer::timeout, this, [this] { folderStillThere(); });
    connect(&m_othersLook, &QTimer::timeout, this, [this] { work(); });
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { rescan(); });
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, [this](const QString &path) {
        m_settling.changed(QFileInfo(path).fileName(), m_clock.elapsed());
        schedule();
    });
    // The job's id is noted beside the file the moment the print service has
    // it: a watcher that takes over after a crash asks for that job.
    m_run.setOnFileEnded([this](const FileOutcome &outcome) {
        if (outcome.jobId > 0 && !m_claimed.isEmpty())
            m_hotFolder.note(m_claimed, ClaimNote::job(outcome.jobId));
    });
}

WatchSession::~WatchSession() = default;

bool WatchSession::start()
{
    m_identity = m_platform.files->folderIdentity(m_options.folder);
    if (!m_platform.handover->isFolder(m_options.folder) || !m_identity) {
        sayError(QStringLiteral("there is no folder \"%1\" to watch.").arg(m_options.folder));
        return false;
    }
    if (!m_hotFolder.open())
        return false;
    m_hotFolder.takeOverOrphans([this](const Claimed &c) { takeOver(c); });
    if (!m_watcher.addPath(m_options.folder)) {
        sayError(QStringLiteral("\"%1\" cannot be watched.").arg(m_options.folder));
        return false;
    }
    m_heartbeat.start(HeartbeatMilliseconds);
    m_folderLook.start(FolderLookMilliseconds);
    if (m_platform.handover->onNetworkFileSystem(m_options.folder))
        lookEveryFewSeconds();
    sayError(
        QStringLiteral("watching \"%1\" for %2 files, printing on \"%3\", as \"%4\".")
            .arg(oneLine(m_options.folder), pattern(), m_options.printer, m_hotFolder.watcher()));
    // The watchdog is fed from the main loop itself: a watcher whose loop
    // hangs goes silent and is restarted.
    if (const int every = serviceWatchdogMilliseconds(); every > 0) {
        connect(&m_watchdog, &QTimer::timeout, this, [] { notifyServiceManager("WATCHDOG=1"); });
        m_watchdog.start(every);
    }
    notifyServiceManager("READY=1");
    tellStatus();
    rescan();
    return true;
}

void WatchSession::lookEveryFewSeconds()
{
    // Nor are another machine's writes seen: a file must rest longer.
    m_settling.setSettleMilliseconds(
        std::max<qint64>(m_settling.settleMilliseconds(), NetworkLookMilliseconds));
    connect(&m_networkLook, &QTimer::timeout, this, [this] { rescan(); });
    m_networkLook.start(NetworkLookMilliseconds);
    sayError(QStringLiteral("\"%1\" is on a network file system: what other machines "
                            "drop there is looked for every %2 seconds, and taken once "
                            "it has not changed for as long.")
                 .arg(oneLine(m_options.folder))
                 .arg(NetworkLookMilliseconds / 1000));
}

bool WatchSession::folderStillThere()
{
    if (m_status != 0)
        return false;
    if (m_platform.files->folderIdentity(m_options.folder) == m_identity)
        return true;
    // A watcher that goes on would never print again, and look as if it did:
    // it ends, so that a service manager starts it again once the folder is back.
    sayError(QStringLiteral("the watched folder \"%1\" is gone (removed, renamed or "
                            "unmounted); stopping.")
                 .arg(oneLine(m_options.folder)));
    m_status = 1;
    m_stop.runStop().request();
    if (!m_busy)
        QCoreApplication::exit(m_status);
    return false;
}

void WatchSession::rescan()
{
    if (!folderStillThere())
        return;
    FolderListing listing;
    try {
        // A link is named and left alone: whoever dropped it may not read what it leads to.
        listing = m_platform.files->readFolder(m_options.folder, pattern(), -1, nullptr, {},
                                               LinksFollowed::Never);
    } catch (const std::exception &e) {
        qCDebug(lcWalk) << "the watched folder could not be read now:" << e.what();
        return;
    }
    sayLeftAlone(listing);
    // Found in one look, they settle together: then the oldest goes first,
    // not the one the listing happened to name first.
    QHash<QString, FileState> present;
    for (const QString &name : std::as_const(listing.files)) {
        // Names that begin with "." are copying tools' temporary files, with
        // "~" an office's lock files: neither is ever a deck to print.
        if (name.startsWith(QLatin1Char('.')) || name.startsWith(QLatin1Char('~')))
            continue;
        if (const auto state = m_platform.handover->state(pathOf(name));
            state && state->kind == FileKind::Regular)
            present.insert(name, *state);
    }
    const QStringList watched = m_watcher.files();
    for (const QString &path : watched)
        if (!present.contains(QFileInfo(path).fileName()))
            m_watcher.removePath(path);
    for (const QString &name : m_settling.seen(present, m_clock.elapsed()))
        m_watcher.addPath(pathOf(name)); // its writes, until it is taken
    schedule();
}

void WatchSession::sayLeftAlone(const FolderListing &listing)
{
    const auto sayOnce = [this](const QString &name, const QString &why) {
        if (m_saidAlone.contains(name))
            return;
        m_saidAlone.insert(name);
        sayError(QStringLiteral("left alone: %1 (%2)").arg(oneLine(name), why));
    };
    for (const SubFolder &sub : listing.subFolders) {
        if (!sub.undecodable.isEmpty())
            sayOnce(pathOf(sub.undecodable), QStringLiteral("its name is not valid UTF-8 text"));
        else if (!OwnFolders.contains(sub.name))
            sayOnce(pathOf(sub.name), QStringLiteral("it is a folder"));
    }
    for (const LeftOut &left : listing.leftOut)
        sayOnce(left.path, left.reason);
}

void WatchSession::schedule()
{
    const std::optional<qint64> due = m_settling.due(m_clock.elapsed());
    if (due)
        m_settle.start(static_cast<int>(*due));
    else
        m_settle.stop();
}

std::optional<QString> WatchSession::nextReady()
{
    const QStringList ready = m_settling.ready(
        m_clock.elapsed(),
        [this](const QString &name) { return m_platform.handover->state(pathOf(name)); },
        [this](const QStringList &names) {
            QStringList paths;
            for (const QString &name : names)
                paths << pathOf(name);
            QStringList writing;
            for (const QString &path : m_platform.handover->openForWriting(paths))
                writing << QFileInfo(path).fileName();
            return writing;
        });
    schedule();
    if (ready.isEmpty())
        return std::nullopt;
    return ready.front();
}

bool WatchSession::printerTakesJobs()
{
    PrintSpooler *spooler = m_platform.spooler.get();
    if (m_options.failWhenPrinterDown || !spooler)
        return true;
    const bool takes =
        spooler->acceptsJobs(m_options.printer) && !spooler->stopped(m_options.printer);
    if (!takes && !m_printerDown)
        sayError(QStringLiteral("the printer \"%1\" is stopped or refuses jobs: the files wait "
                                "in the folder and are tried again every minute.")
                     .arg(m_options.printer));
    else if (takes && m_printerDown)
        sayError(QStringLiteral("the printer \"%1\" takes jobs again.").arg(m_options.printer));
    m_printerDown = !takes;
    return takes;
}

void WatchSession::work()
{
    if (m_busy)
        return;
    m_busy = true;
    while (!m_stop.requested()) {
        if (!m_settling.isEmpty() && !printerTakesJobs()) {
            m_settle.start(PrinterLookMilliseconds);
            break;
        }
        const std::optional<QString> next = nextReady();
        if (!next || !mayPrintNow())
            break;
        handle(*next);
    }
    m_busy = false;
    if (m_stop.requested())
        QCoreApplication::exit(m_status);
}

bool WatchSession::mayPrintNow()
{
    if (!m_platform.office->someoneElsesRunning()) {
        m_waitingForOthers = false;
        m_othersLook.stop();
        return true;
    }
    m_settle.stop(); // the settled files wait for the next look, not for the next tick
    if (!m_waitingForOthers) {
        m_waitingForOthers = true;
        sayError(QStringLiteral("%1 is running and Deckrun did not start it: the files wait "
                                "until it has ended (looked at every minute), as a watcher "
                                "prints only through a %1 of its own.")
                     .arg(m_platform.office->productLabel()));
    }
    if (!m_othersLook.isActive())
        m_othersLook.start(m_options.othersLookMilliseconds);
    return false;
}

void WatchSession::forget(const QString &name)
{
    m_settling.forget(name);
    m_watcher.removePath(pathOf(name));
}

void WatchSession::handle(const QString &name)
{
    QString claimed;
    const HotFolder::Claim claim = m_hotFolder.claim(name, claimed);
    forget(name); // taken by another watcher, or looked at again when the folder changes
    if (claim != HotFolder::Claim::Claimed)
        return;
    sayOut(QStringLiteral("Processing: ") + oneLine(name));
    m_dialogs.takeReports();
    m_claimed = claimed;
    tellStatus();
    // What prints is a copy of the file as it was checked, where nobody else can change it.
    QString why;
    const std::optional<PrivateCopy> copy = m_platform.handover->privateCopy(claimed, &why);
    const std::optional<FileOutcome> outcome =
        copy ? print(*copy, claimed) : unreadable(claimed, why);
    m_platform.handover->dropPrivateCopy();
    m_claimed.clear();
    if (!outcome) {
        if (const auto placed = m_hotFolder.putBack(Claimed{claimed, name, m_hotFolder.watcher()}))
            sayError(QStringLiteral("put back \"%1\": the watcher stopped before printing it.")
                         .arg(oneLine(*placed)));
        tellStatus();
        return;
    }
    finish(claimed, name, *outcome);
    ++(outcome->printed() ? m_printedCount : m_failedCount);
    tellStatus();
}

void WatchSession::tellStatus()
{
    QString status =
        QStringLiteral("STATUS=%1 printed, %2 failed").arg(m_printedCount).arg(m_failedCount);
    if (!m_claimed.isEmpty())
        status += QStringLiteral("; printing ") + oneLine(QFileInfo(m_claimed).fileName());
    else if (m_printerDown)
        status += QStringLiteral("; the printer takes no jobs, the files wait");
    notifyServiceManager(status.toUtf8());
}

std::optional<FileOutcome> WatchSession::print(const PrivateCopy &copy, const QString &claimed)
{
    QueueModel queue;
    queue.append(copy.path);
    bool printing = false;
    const QString identity = claimIdentity(m_hotFolder.watcher(), copy.hash);
    m_dialogs.setFileInHand(copy.path, claimed); // reports name the claimed file
    printQueue(RunSetup{.platform = m_platform,
                        .choices = m_run,
                        .progress = m_run,
                        .strategy = *m_way.strategy,
                        .pause = m_way.pause,
                        .settings = m_options.settings,
                        .jobName =
                            [&identity](const QString &file) {
                                return claimJobName(QFileInfo(file).fileName(), identity);
                            },
                        .logsEachFile = false,
                        .stop = &m_stop.runStop()},
               queue, printing);
    m_dialogs.setFileInHand({});
    return m_run.takeOutcome();
}

FileOutcome WatchSession::unreadable(const QString &claimed, const QString &why)
{
    FileOutcome outcome;
    outcome.file = claimed;
    outcome.printer = m_options.printer;
    outcome.failedStep = 120;
    outcome.description = QStringLiteral("%1 could not open \"%2\": %3.")
                              .arg(m_platform.office->productLabel(), claimed, why);
    outcome.time = QDateTime::currentDateTime();
    m_dialogs.setFileInHand(claimed);
    ShowErrorReport(m_dialogs, outcome.description, printRunLocation(), outcome.failedStep);
    m_dialogs.setFileInHand({});
    return outcome;
}

void WatchSession::finish(const QString &claimed, const QString &name, FileOutcome outcome)
{
    const QStringList reports = m_dialogs.takeReports();
    const std::optional<MovedOut> moved =
        m_hotFolder.moveOut(claimed, name, outcome.printed(), reportText(name, outcome, reports));
    if (moved) {
        outcome.file = m_options.folder + QLatin1Char('/') + moved->shown;
        if (outcome.printed())
            sayOut(QStringLiteral("Printed: ") + oneLine(moved->shown));
        else if (moved->reportWritten)
            sayOut(QStringLiteral("Failed: %1 (step %2; the report is %1.txt)")
                       .arg(oneLine(moved->shown))
                       .arg(outcome.failedStep));
        else
            sayOut(QStringLiteral("Failed: %1 (step %2; its report could not be written)")
                       .arg(oneLine(moved->shown))
                       .arg(outcome.failedStep));
    } else {
        // It stays where it is, with a note that keeps any later watcher
        // from printing it again; moving it out is tried at the next start.
        m_hotFolder.note(claimed, outcome.printed() ? ClaimNote::printed(outcome.jobId)
                                                    : ClaimNote::failed(outcome.failedStep));
        outcome.file = claimed;
    }
    try {
        if (m_platform.runLog)
            m_platform.runLog->append(runLogLine(outcome));
    } catch (const std::exception &e) {
        sayError(QStringLiteral("the run log cannot be written: %1")
                     .arg(QString::fromLocal8Bit(e.what())));
    }
}

void WatchSession::takeOver(const Claimed &claimed)
{
    const Reconciled r = reconcile(claimed, m_platform.spooler.get(), m_options.printer);
    if (!r.unknown.isEmpty())
        sayError(QStringLiteral("the print service cannot say whether \"%1\" was printed "
                                "(%2): it is printed again.")
                     .arg(oneLine(claimed.name), r.unknown));
    if (r.outcome == Reconciled::Outcome::PutBack) {
        if (const auto placed = m_hotFolder.putBack(claimed))
            sayError(QStringLiteral("took back \"%1\", left in Processing/%2 by a watcher that "
                                    "ended.")
                         .arg(oneLine(*placed), oneLine(claimed.watcher)));
        return;
    }
    if (r.recorded) {
        // Printed (or failed) and not moved out then: only moving out is left.
        if (const auto moved = m_hotFolder.moveOut(claimed.path, claimed.name,
                                                   r.outcome == Reconciled::Outcome::Printed,
                                                   QStringLiteral("The report was not kept.\n")))
            sayOut(QStringLiteral("Moved: ") + oneLine(moved->shown));
        return;
    }
    // Its job reached the print service before its watcher ended: it is not
    // printed a second time.
    FileOutcome outcome;
    outcome.file = claimed.path;
    outcome.printer = m_options.printer;
    outcome.jobId = r.jobId;
    outcome.time = QDateTime::currentDateTime();
    sayError(QStringLiteral("\"%1\", left in Processing/%2 by a watcher that ended, was printed "
                            "(job %3): it is not printed again.")
                 .arg(oneLine(claimed.name), oneLine(claimed.watcher))
                 .arg(r.jobId));
    finish(claimed.path, claimed.name, outcome);
}

QString WatchSession::reportText(const QString &name, const FileOutcome &outcome,
                                 const QStringList &reports) const
{
    QString text = QStringLiteral("\"%1\" was not printed on \"%2\" by the watcher \"%3\" "
                                  "at %4.\n\n")
                       .arg(oneLine(name), outcome.printer, m_hotFolder.watcher(),
                            outcome.time.toOffsetFromUtc(outcome.time.offsetFromUtc())
                                .toString(Qt::ISODateWithMs));
    // The reports in full, as standard error showed them.
    text += reports.isEmpty() ? outcome.description : reports.join(QStringLiteral("\n\n"));
    return text + QLatin1Char('\n');
}

int runWatch(Platform &platform, ConsoleDialogs &dialogs, const WatchOptions &options, PrintWay way)
{
    int status = 1;
    {
        ConsoleStop stop([&platform] { platform.office->shutdown(); },
                         QStringLiteral("; the file in hand is taken back at the next start"));
        WatchSession session(platform, dialogs, options, way, stop);
        stop.setIdle([&session] { return !session.busy(); },
                     [&session] { QCoreApplication::exit(session.status()); });
        if (session.start())
            status = QCoreApplication::exec();
        // The applications it kept quit before the platform's own.
        way.strategy.reset();
        way.office.reset();
    }
    platform.office->shutdown();
    return status;
}

} // namespace deckrun
