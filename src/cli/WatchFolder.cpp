// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/WatchFolder.h"

#include "cli/TerminalOutput.h"
#include "core/common/ErrorReport.h"
#include "core/queue/QueueModel.h"
#include "core/run/FastRun.h"
#include "core/run/PrintRun.h"
#include "core/run/RunRecorder.h"
#include "platform/FileHandover.h"
#include "platform/FileSystem.h"
#include "platform/Logging.h"
#include "platform/Platform.h"
#include "platform/StopSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QLockFile>
#include <QSet>
#include <QStorageInfo>
#include <QSysInfo>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace deckrun {

namespace {

const QString Processing = QStringLiteral("Processing");
const QString Printed = QStringLiteral("Printed");
const QString Failed = QStringLiteral("Failed");

// A watcher refreshes its lock every minute; one not refreshed for ten
// minutes belongs to a watcher that ended (one on another machine, whose
// process cannot be looked up from here).
constexpr int HeartbeatMilliseconds = 60 * 1000;
constexpr int StaleLockMilliseconds = 10 * 60 * 1000;
// The system tells of changes made through this machine only: on a network
// file system, what other machines drop is found by looking again this often.
constexpr int NetworkLookMilliseconds = 10 * 1000;

bool onNetworkFileSystem(const QString &folder)
{
    const QByteArray type = QStorageInfo(folder).fileSystemType().toLower();
    for (const char *network :
         {"nfs", "cifs", "smb", "9p", "afs", "ceph", "glusterfs", "fuse.sshfs", "davfs", "lustre"})
        if (type.startsWith(network))
            return true;
    return false;
}

/**
 * The dialogs of a watcher: error reports go to standard error in full and
 * are kept for the file's report; "Done." ends each file's run unseen; the
 * question whether to go on while the application already runs is answered
 * yes, since every watcher prints on an application of its own.
 */
class WatchDialogs final : public Dialogs {
public:
    Answer messageBox(const QString &text, const QString &title, Buttons buttons, Icon) override
    {
        if (text == QLatin1String("Done.") && title.isEmpty())
            return Answer::Ok;
        if (buttons == Buttons::YesNo) {
            qCDebug(lcOffice) << "the application already runs; this watcher starts its own";
            return Answer::Yes;
        }
        if (title == QLatin1String("Application Error"))
            m_reports << plainText(text);
        std::fprintf(stderr, "%s\n\n", qUtf8Printable(plainText(text)));
        std::fflush(stderr);
        return Answer::Ok;
    }
    QString inputBox(const QString &, const QString &, const QString &) override { return {}; }
    FileDialogResult openFiles(const FileDialogRequest &) override { return {}; }
    QString browseForFolder(const QString &, const QString &) override { return {}; }

    /** The error reports given since the last call. */
    QStringList takeReports() { return std::exchange(m_reports, {}); }

private:
    QStringList m_reports;
};

/** A file in the watched folder that is not taken yet. */
struct Candidate {
    qint64 size = -1;
    QDateTime modified;
    qint64 changedAt = 0; // on the watcher's clock
    bool looked = false;  // found settled and not being written
};

class FolderWatch final : public QObject, public PrintChoices, public PrintProgress {
public:
    FolderWatch(Platform &platform, WatchOptions options, WatchDialogs &dialogs)
        : m_platform(platform), m_options(std::move(options)), m_dialogs(dialogs),
          m_name(WatcherName(QSysInfo::machineHostName(), QCoreApplication::applicationPid())),
          m_own(at(Processing) + QLatin1Char('/') + m_name)
    {
        m_clock.start();
        m_settle.setSingleShot(true);
        connect(&m_settle, &QTimer::timeout, this, [this] { work(); });
        connect(&m_heartbeat, &QTimer::timeout, this, [this] { heartbeat(); });
        connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { rescan(); });
        connect(&m_watcher, &QFileSystemWatcher::fileChanged, this,
                [this](const QString &path) { changed(path); });
    }

    ~FolderWatch() override
    {
        m_printer.reset(); // quits the application kept
        QDir().rmdir(m_own);
        if (m_lock)
            m_lock->unlock();
    }

    FolderWatch(const FolderWatch &) = delete;
    FolderWatch &operator=(const FolderWatch &) = delete;

    /** Makes the folders, claims this watcher's name, takes orphans back and starts watching. */
    bool start()
    {
        const QFileInfo folder(m_options.folder);
        if (!folder.isDir()) {
            sayError(QStringLiteral("there is no folder \"%1\" to watch.").arg(m_options.folder));
            return false;
        }
        for (const QString &sub : {Processing, Printed, Failed}) {
            if (!QDir().mkpath(at(sub))) {
                sayError(QStringLiteral("\"%1\" cannot be made.").arg(at(sub)));
                return false;
            }
        }
        m_lock = std::make_unique<QLockFile>(m_own + QStringLiteral(".lock"));
        m_lock->setStaleLockTime(StaleLockMilliseconds);
        if (!m_lock->tryLock(0)) {
            sayError(QStringLiteral("\"%1\" is held by another watcher of the same name, or "
                                    "cannot be written.")
                         .arg(m_lock->fileName()));
            return false;
        }
        if (!QDir().mkpath(m_own)) {
            sayError(QStringLiteral("\"%1\" cannot be made.").arg(m_own));
            return false;
        }
        takeBackOrphans();
        if (!m_watcher.addPath(m_options.folder)) {
            sayError(QStringLiteral("\"%1\" cannot be watched.").arg(m_options.folder));
            return false;
        }
        m_heartbeat.start(HeartbeatMilliseconds);
        if (onNetworkFileSystem(m_options.folder)) {
            // Nor are another machine's writes seen: a file must rest longer.
            m_options.settleMilliseconds =
                std::max(m_options.settleMilliseconds, NetworkLookMilliseconds);
            connect(&m_networkLook, &QTimer::timeout, this, [this] { rescan(); });
            m_networkLook.start(NetworkLookMilliseconds);
            sayError(QStringLiteral("\"%1\" is on a network file system: what other machines "
                                    "drop there is looked for every %2 seconds, and taken once "
                                    "it has not changed for as long.")
                         .arg(m_options.folder)
                         .arg(NetworkLookMilliseconds / 1000));
        }
        if (m_options.fast)
            m_printer = std::make_unique<FastPrinter>(*m_platform.office, *m_platform.events);
        sayError(QStringLiteral("watching \"%1\" for %2 files, printing on \"%3\", as \"%4\".")
                     .arg(m_options.folder, pattern(), m_options.printer, m_name));
        rescan();
        return true;
    }

    /** The first request ends the watch once the file in hand is done; a second one at once. */
    void askToStop(int signal, const QString &name)
    {
        if (m_stopSignal == 0) {
            m_stopSignal = signal;
            if (m_busy) {
                sayError(QStringLiteral("%1: stopping once the file in hand is done (again to "
                                        "stop at once).")
                             .arg(name));
            } else {
                sayError(QStringLiteral("%1: stopping.").arg(name));
                QCoreApplication::exit(0);
            }
            return;
        }
        sayError(QStringLiteral("%1 again: stopping now; the file in hand is taken back at the "
                                "next start.")
                     .arg(name));
        m_platform.office->shutdown();
        StopSignals::endBy(signal);
    }

    // PrintChoices
    QString printerName() const override { return m_options.printer; }
    QString pauseText() const override
    {
        return QString::number(m_options.pause) + QStringLiteral(" seconds");
    }
    bool stopRequested() const override { return m_stopSignal != 0; }

    // PrintProgress: a watcher shows its files as it takes and moves them.
    void showBusy(bool) override {}
    void showPercent(int) override {}
    void showText(const QString &) override {}
    void fileEnded(const FileOutcome &outcome) override { m_outcome = outcome; }

private:
    QString at(const QString &sub) const { return m_options.folder + QLatin1Char('/') + sub; }
    QString pattern() const { return QStringLiteral("*.") + m_options.extension; }

    void heartbeat()
    {
        // Keeps the lock fresh for the watchers on other machines.
        QFile lock(m_lock->fileName());
        if (!lock.open(QIODevice::ReadWrite | QIODevice::ExistingOnly) ||
            !lock.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime))
            qCDebug(lcApp) << "the watcher's lock could not be refreshed:" << lock.errorString();
    }

    /**
     * The claim folders under Processing/ whose watcher ended (its lock can be
     * taken: no lock, its process is gone, or it was not refreshed for ten
     * minutes), and this watcher's own from an earlier process of its name:
     * their files go back into the watched folder, to be printed again.
     */
    void takeBackOrphans()
    {
        const QDir processing(at(Processing));
        for (const QString &name :
             processing.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
            if (name == m_name) {
                takeBack(name);
                continue;
            }
            QLockFile lock(processing.filePath(name + QStringLiteral(".lock")));
            lock.setStaleLockTime(StaleLockMilliseconds);
            if (!lock.tryLock(0))
                continue; // its watcher runs
            takeBack(name);
            processing.rmdir(name);
            lock.unlock();
        }
    }

    void takeBack(const QString &claimFolder)
    {
        const QDir claimed(at(Processing) + QLatin1Char('/') + claimFolder);
        for (const QString &file : claimed.entryList(QDir::Files | QDir::Hidden)) {
            const std::optional<QString> placed =
                moveToFree(claimed.filePath(file), m_options.folder, file);
            if (placed)
                sayError(QStringLiteral("took back \"%1\", left in %2/%3 by a watcher that ended.")
                             .arg(*placed, Processing, claimFolder));
        }
    }

    /** Moves `from` into `folder` as `name`, or the first numbered name free there; the name. */
    static std::optional<QString> moveToFree(const QString &from, const QString &folder,
                                             const QString &name)
    {
        for (int n = 1;; ++n) {
            const QString target = NumberedName(name, n);
            QString why;
            switch (moveWithoutReplacing(from, folder + QLatin1Char('/') + target, &why)) {
            case MoveOutcome::Moved:
                return target;
            case MoveOutcome::TargetTaken:
                continue;
            case MoveOutcome::SourceGone:
                return std::nullopt;
            case MoveOutcome::Failed:
                sayError(QStringLiteral("\"%1\" could not be moved to \"%2\": %3")
                             .arg(from, folder, why));
                return std::nullopt;
            }
        }
    }

    /** The files in the folder now: new ones are watched until they settle, gone ones forgotten. */
    void rescan()
    {
        // Found in one look, they settle together: then the oldest goes first,
        // not the one the listing happened to name first.
        const qint64 now = m_clock.elapsed();
        QSet<QString> present;
        for (const QString &name : m_platform.files->listFiles(m_options.folder, pattern())) {
            // Names that begin with "." are the temporary files of copying tools.
            if (name.startsWith(QLatin1Char('.')))
                continue;
            present.insert(name);
            if (m_candidates.contains(name))
                continue;
            const QString path = m_options.folder + QLatin1Char('/') + name;
            const QFileInfo info(path);
            m_candidates.insert(name, Candidate{info.size(), info.lastModified(), now, false});
            m_watcher.addPath(path); // its writes, until it is taken
        }
        for (auto it = m_candidates.begin(); it != m_candidates.end();) {
            if (present.contains(it.key())) {
                ++it;
                continue;
            }
            m_watcher.removePath(m_options.folder + QLatin1Char('/') + it.key());
            it = m_candidates.erase(it);
        }
        schedule();
    }

    void changed(const QString &path)
    {
        const auto candidate = m_candidates.find(QFileInfo(path).fileName());
        if (candidate == m_candidates.end())
            return;
        candidate->changedAt = m_clock.elapsed();
        candidate->looked = false;
        schedule();
    }

    /** Wakes the watcher when the next candidate may have settled. */
    void schedule()
    {
        qint64 soonest = -1;
        for (const Candidate &c : std::as_const(m_candidates)) {
            const qint64 due = c.changedAt + m_options.settleMilliseconds - m_clock.elapsed();
            soonest = soonest < 0 ? due : std::min(soonest, due);
        }
        if (soonest < 0 && m_candidates.isEmpty())
            m_settle.stop();
        else
            m_settle.start(static_cast<int>(std::max<qint64>(soonest, 0)));
    }

    /**
     * Takes and prints the settled files, oldest first, until none is left.
     * Printing handles events, so this is entered again meanwhile: that call
     * leaves the work to the one under way.
     */
    void work()
    {
        if (m_busy)
            return;
        m_busy = true;
        while (!stopRequested()) {
            const std::optional<QString> next = nextReady();
            if (!next)
                break;
            handle(*next);
        }
        m_busy = false;
        if (stopRequested())
            QCoreApplication::exit(0);
    }

    /** The oldest complete candidate: unchanged for the settling time, written by nobody. */
    std::optional<QString> nextReady()
    {
        const qint64 now = m_clock.elapsed();
        QStringList toLook;
        std::vector<std::pair<QDateTime, QString>> ready;
        for (auto it = m_candidates.begin(); it != m_candidates.end();) {
            Candidate &c = *it;
            const QFileInfo info(m_options.folder + QLatin1Char('/') + it.key());
            if (!info.exists()) {
                it = m_candidates.erase(it);
                continue;
            }
            if (info.size() != c.size || info.lastModified() != c.modified) {
                // A change no event told of: it settles from now.
                c = Candidate{info.size(), info.lastModified(), now, false};
            } else if (now - c.changedAt >= m_options.settleMilliseconds) {
                if (c.looked)
                    ready.emplace_back(c.modified, it.key());
                else
                    toLook << info.filePath();
            }
            ++it;
        }
        if (!toLook.isEmpty()) {
            const QStringList writing = filesOpenForWriting(toLook);
            for (const QString &path : std::as_const(toLook)) {
                Candidate &c = m_candidates[QFileInfo(path).fileName()];
                if (writing.contains(path)) {
                    c.changedAt = now; // still being written: another look later
                } else {
                    c.looked = true;
                    ready.emplace_back(c.modified, QFileInfo(path).fileName());
                }
            }
        }
        std::sort(ready.begin(), ready.end());
        schedule();
        if (ready.empty())
            return std::nullopt;
        return ready.front().second;
    }

    void forget(const QString &name)
    {
        m_candidates.remove(name);
        m_watcher.removePath(m_options.folder + QLatin1Char('/') + name);
    }

    /** Claims `name` into this watcher's folder, prints it and moves it to Printed/ or Failed/. */
    void handle(const QString &name)
    {
        const QString source = m_options.folder + QLatin1Char('/') + name;
        QString claimed;
        for (int n = 1; claimed.isEmpty(); ++n) {
            const QString target = m_own + QLatin1Char('/') + NumberedName(name, n);
            QString why;
            switch (moveWithoutReplacing(source, target, &why)) {
            case MoveOutcome::Moved:
                claimed = target;
                break;
            case MoveOutcome::TargetTaken:
                continue;
            case MoveOutcome::SourceGone:
                forget(name); // another watcher took it
                return;
            case MoveOutcome::Failed:
                sayError(QStringLiteral("\"%1\" could not be taken: %2; it is left where it is.")
                             .arg(source, why));
                forget(name); // looked at again when the folder changes
                return;
            }
        }
        forget(name);
        sayOut(QStringLiteral("Processing: ") + name);
        m_dialogs.takeReports();
        const FileOutcome outcome = print(claimed);
        moveOut(claimed, name, outcome);
    }

    /** Prints one claimed file, through the one application (fast) or the window's run. */
    FileOutcome print(const QString &path)
    {
        if (m_printer) {
            FileOutcome outcome;
            outcome.file = path;
            StepRunner r(*m_platform.dialogs, PrintRunLocation());
            r.setReportListener([&](int step, const QString &description) {
                if (outcome.printed()) {
                    outcome.failedStep = step;
                    outcome.description = description;
                }
            });
            m_printer->printFile(r, path, *this, outcome);
            RunRecorder(m_platform, *this).fileEnded(outcome);
            r.setReportListener({}); // the file's outcome is settled
            if (m_options.pauses)
                r.step(140, [&] {
                    WaitSeconds(*m_platform.events, PauseDigit(pauseText()),
                                [this] { return stopRequested(); });
                });
            return outcome;
        }
        QueueModel queue;
        queue.append(path);
        bool printing = false;
        m_outcome.reset();
        PrintQueue(m_platform, queue, *this, *this, printing);
        if (m_outcome)
            return *m_outcome;
        FileOutcome unprinted; // the run ended before the file, and said why
        unprinted.file = path;
        unprinted.failedStep = 112;
        unprinted.description = QStringLiteral("The file was not printed.");
        return unprinted;
    }

    /** Moves a printed file to Printed/, a failed one to Failed/ with its report; says where. */
    void moveOut(const QString &claimed, const QString &name, const FileOutcome &outcome)
    {
        const QString folder = at(outcome.printed() ? Printed : Failed);
        const QStringList reports = m_dialogs.takeReports();
        for (int n = 1;; ++n) {
            const QString target = NumberedName(name, n);
            const QString to = folder + QLatin1Char('/') + target;
            // A failed file's report takes its name first, so that no other
            // watcher can give the same name to a report of its own.
            QFile report(to + QStringLiteral(".txt"));
            if (!outcome.printed() &&
                !report.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text)) {
                if (report.exists())
                    continue;
                sayError(QStringLiteral("\"%1\" cannot be written: %2")
                             .arg(report.fileName(), report.errorString()));
            }
            const auto release = [&report] {
                if (report.isOpen())
                    report.remove(); // only the report this watcher began
            };
            QString why;
            switch (moveWithoutReplacing(claimed, to, &why)) {
            case MoveOutcome::Moved:
                break;
            case MoveOutcome::TargetTaken:
                release();
                continue;
            case MoveOutcome::SourceGone:
            case MoveOutcome::Failed:
                release();
                sayError(QStringLiteral("\"%1\" could not be moved to \"%2\": %3; it stays in "
                                        "%4/%5.")
                             .arg(name, folder, why, Processing, m_name));
                return;
            }
            const QString shown = QFileInfo(folder).fileName() + QLatin1Char('/') + target;
            if (outcome.printed()) {
                sayOut(QStringLiteral("Printed: ") + shown);
                return;
            }
            if (report.isOpen()) {
                report.write(reportText(name, outcome, reports).toUtf8());
                report.close();
            }
            sayOut(QStringLiteral("Failed: %1 (step %2; the report is %1.txt)")
                       .arg(shown)
                       .arg(outcome.failedStep));
            return;
        }
    }

    QString reportText(const QString &name, const FileOutcome &outcome,
                       const QStringList &reports) const
    {
        QString text = QStringLiteral("\"%1\" was not printed on \"%2\" by the watcher \"%3\" "
                                      "at %4.\n\n")
                           .arg(name, outcome.printer, m_name,
                                outcome.time.toOffsetFromUtc(outcome.time.offsetFromUtc())
                                    .toString(Qt::ISODateWithMs));
        // The reports in full, as standard error showed them.
        text += reports.isEmpty() ? outcome.description : reports.join(QStringLiteral("\n\n"));
        return text + QLatin1Char('\n');
    }

    Platform &m_platform;
    WatchOptions m_options;
    WatchDialogs &m_dialogs;
    const QString m_name; // this watcher's name under Processing/
    const QString m_own;  // its claim folder
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<FastPrinter> m_printer;
    QFileSystemWatcher m_watcher;
    QTimer m_settle, m_heartbeat, m_networkLook;
    QElapsedTimer m_clock;
    QHash<QString, Candidate> m_candidates; // by name in the watched folder
    std::optional<FileOutcome> m_outcome;
    bool m_busy = false;
    int m_stopSignal = 0;
};

} // namespace

QString NumberedName(const QString &name, int n)
{
    if (n <= 1)
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString number = QStringLiteral(" (%1)").arg(n);
    // A name that is all extension (".pptx") or has none is numbered at its end.
    if (dot <= 0)
        return name + number;
    return name.left(dot) + number + name.mid(dot);
}

QString WatcherName(const QString &host, qint64 pid)
{
    QString name;
    for (const QChar c : host)
        name += c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('.')
                    ? c
                    : QLatin1Char('_');
    if (name.isEmpty())
        name = QStringLiteral("host");
    return name + QLatin1Char('-') + QString::number(pid);
}

int RunWatch(Platform &platform, const WatchOptions &options)
{
    auto owned = std::make_unique<WatchDialogs>();
    WatchDialogs &dialogs = *owned;
    owned->setApplicationTitle(platform.dialogs->applicationTitle());
    platform.dialogs = std::move(owned);

    int status = 1;
    {
        FolderWatch watch(platform, options, dialogs);
        StopSignals stopSignals;
        QObject::connect(
            &stopSignals, &StopSignals::stopAsked, &watch,
            [&watch](int signal, const QString &name) { watch.askToStop(signal, name); });
        if (watch.start())
            status = QCoreApplication::exec();
    }
    platform.office->shutdown();
    return status;
}

} // namespace deckrun
