// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/WatchSession.h"

#include "cli/ConsoleFrontEnd.h"
#include "cli/TerminalOutput.h"
#include "core/hotfolder/HotFolder.h"
#include "core/hotfolder/Settling.h"
#include "core/queue/QueueModel.h"
#include "core/run/FreshApplication.h"
#include "core/run/KeptApplication.h"
#include "core/run/PrintRun.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QSysInfo>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace deckrun {

namespace {

// A watcher refreshes its lock every minute.
constexpr int HeartbeatMilliseconds = 60 * 1000;
// The system tells of changes made through this machine only: on a network
// file system, what other machines drop is found by looking again this often.
constexpr int NetworkLookMilliseconds = 10 * 1000;

} // namespace

WatchSession::WatchSession(Platform &platform, ConsoleDialogs &dialogs, WatchOptions options,
                           ConsoleStop &stop)
    : m_platform(platform), m_dialogs(dialogs), m_options(std::move(options)), m_stop(stop),
      m_hotFolder(*platform.handover, m_options.folder,
                  watcherName(QSysInfo::machineHostName(), QCoreApplication::applicationPid()),
                  [](const QString &text) { sayError(text); }),
      m_settling(m_options.settleMilliseconds),
      m_run(m_options.printer, m_options.pause, ConsoleLines::None, stop)
{
    m_clock.start();
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, [this] { work(); });
    connect(&m_heartbeat, &QTimer::timeout, this, [this] { m_hotFolder.heartbeat(); });
    connect(&m_othersLook, &QTimer::timeout, this, [this] { work(); });
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { rescan(); });
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, [this](const QString &path) {
        m_settling.changed(QFileInfo(path).fileName(), m_clock.elapsed());
        schedule();
    });
}

WatchSession::~WatchSession()
{
    m_strategy.reset(); // quits the application kept
}
bool WatchSession::start()
{
    if (!m_platform.handover->isFolder(m_options.folder)) {
        sayError(QStringLiteral("there is no folder \"%1\" to watch.").arg(m_options.folder));
        return false;
    }
    if (!m_hotFolder.open())
        return false;
    m_hotFolder.takeBackOrphans();
    if (!m_watcher.addPath(m_options.folder)) {
        sayError(QStringLiteral("\"%1\" cannot be watched.").arg(m_options.folder));
        return false;
    }
    m_heartbeat.start(HeartbeatMilliseconds);
    if (m_platform.handover->onNetworkFileSystem(m_options.folder))
        lookEveryFewSeconds();
    if (m_options.fast)
        m_strategy =
            std::make_unique<OneApplication>(*m_platform.office, *m_platform.files, 100, true);
    else
        m_strategy = std::make_unique<FreshApplication>(*m_platform.office, *m_platform.files);
    sayError(QStringLiteral("watching \"%1\" for %2 files, printing on \"%3\", as \"%4\".")
                 .arg(m_options.folder, pattern(), m_options.printer, m_hotFolder.watcher()));
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
                 .arg(m_options.folder)
                 .arg(NetworkLookMilliseconds / 1000));
}

void WatchSession::rescan()
{
    // Found in one look, they settle together: then the oldest goes
    // first, not the one the listing happened to name first.
    QHash<QString, FileState> present;
    for (const QString &name : m_platform.files->listFiles(m_options.folder, pattern())) {
        // Names that begin with "." are the temporary files of copying tools.
        if (name.startsWith(QLatin1Char('.')))
            continue;
        if (const auto state = m_platform.handover->state(pathOf(name)))
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

void WatchSession::work()
{
    if (m_busy)
        return;
    m_busy = true;
    while (!m_stop.requested()) {
        const std::optional<QString> next = nextReady();
        if (!next || !mayPrintNow())
            break;
        handle(*next);
    }
    m_busy = false;
    if (m_stop.requested())
        QCoreApplication::exit(0);
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
    const FileOutcome outcome = print(claimed);
    const QStringList reports = m_dialogs.takeReports();
    const std::optional<MovedOut> moved =
        m_hotFolder.moveOut(claimed, name, outcome.printed(), reportText(name, outcome, reports));
    if (!moved)
        return;
    if (outcome.printed())
        sayOut(QStringLiteral("Printed: ") + oneLine(moved->shown));
    else
        sayOut(QStringLiteral("Failed: %1 (step %2; the report is %1.txt)")
                   .arg(oneLine(moved->shown))
                   .arg(outcome.failedStep));
}

FileOutcome WatchSession::print(const QString &path)
{
    QueueModel queue;
    queue.append(path);
    bool printing = false;
    const PauseRule pauses = !m_options.fast    ? PauseRule::DigitAndOneSecond
                             : m_options.pauses ? PauseRule::Digit
                                                : PauseRule::None;
    printQueue(RunSetup{.platform = m_platform,
                        .choices = m_run,
                        .progress = m_run,
                        .strategy = *m_strategy,
                        .pause = pauses,
                        .settings = m_options.settings,
                        .stop = &m_stop.runStop()},
               queue, printing);
    if (std::optional<FileOutcome> outcome = m_run.takeOutcome())
        return *outcome;
    FileOutcome unprinted; // the run ended before the file, and said why
    unprinted.file = path;
    unprinted.failedStep = 112;
    unprinted.description = QStringLiteral("The file was not printed.");
    return unprinted;
}

QString WatchSession::reportText(const QString &name, const FileOutcome &outcome,
                                 const QStringList &reports) const
{
    QString text = QStringLiteral("\"%1\" was not printed on \"%2\" by the watcher \"%3\" "
                                  "at %4.\n\n")
                       .arg(name, outcome.printer, m_hotFolder.watcher(),
                            outcome.time.toOffsetFromUtc(outcome.time.offsetFromUtc())
                                .toString(Qt::ISODateWithMs));
    // The reports in full, as standard error showed them.
    text += reports.isEmpty() ? outcome.description : reports.join(QStringLiteral("\n\n"));
    return text + QLatin1Char('\n');
}

int runWatch(Platform &platform, ConsoleDialogs &dialogs, const WatchOptions &options)
{
    int status = 1;
    {
        ConsoleStop stop([&platform] { platform.office->shutdown(); },
                         QStringLiteral("; the file in hand is taken back at the next start"));
        WatchSession session(platform, dialogs, options, stop);
        stop.setIdle([&session] { return !session.busy(); }, [] { QCoreApplication::exit(0); });
        if (session.start())
            status = QCoreApplication::exec();
    }
    platform.office->shutdown();
    return status;
}

} // namespace deckrun
