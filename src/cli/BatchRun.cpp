// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/BatchRun.h"

#include "cli/BatchJobs.h"
#include "cli/CommandLine.h"
#include "cli/ConsoleFrontEnd.h"
#include "cli/TerminalOutput.h"
#include "cli/WatchSession.h"
#include "core/common/ErrorReport.h"
#include "core/common/SettingsKeys.h"
#include "core/queue/FolderWalk.h"
#include "core/queue/QueueModel.h"
#include "core/queue/QueueTarget.h"
#include "core/run/FreshApplication.h"
#include "core/run/KeptApplication.h"
#include "core/run/Lanes.h"
#include "core/run/PowerPoint1.h"
#include "core/run/PrintRun.h"
#include "core/run/PrinterChoice.h"
#include "core/run/PrinterNeeds.h"
#include "platform/FileSystem.h"
#include "platform/Logging.h"
#include "platform/OfficeUser.h"
#include "platform/Platform.h"

#include <QCoreApplication>

#include <memory>
#include <optional>

namespace deckrun {

namespace {

/** The queue of a run without a window, and what its walk left out. */
class BatchQueue final : public QueueTarget {
public:
    explicit BatchQueue(Platform &platform) : m_platform(platform) {}

    Platform &platform() override { return m_platform; }
    QueueModel &queue() override { return m_queue; }

    /** A file or folder that is not printed and had no report of its own, named on standard error.
     */
    void leaveOut(const QString &path, const QString &why)
    {
        sayError(QStringLiteral("left out: %1 (%2)").arg(oneLine(path), why));
        ++m_leftOut;
    }
    int leftOut() const { return m_leftOut; }

private:
    Platform &m_platform;
    QueueModel m_queue;
    int m_leftOut = 0;
};

/** Queues the files as given, and the files in each folder as "Add All File(s) In Folder" does. */
void queuePaths(BatchQueue &run, const CommandLine &a)
{
    Platform &platform = run.platform();
    for (const QString &name : a.unreadable)
        run.leaveOut(name, QStringLiteral("its name is not valid UTF-8 text"));
    StepRunner walk(*platform.dialogs, AddFolderLocation());
    const LeftOutSink leftOut = [&run](const QString &path, const QString &why) {
        run.leaveOut(path, why);
    };
    for (const QString &path : a.paths) {
        bool folder = false;
        try {
            folder = platform.files->IsFolder(path);
        } catch (const std::exception &) {
            folder = false; // queued as a file, its open reports what is wrong
        }
        // A tree others may write to: a link is followed only when it and
        // what it leads to are the owner's of the folder it is in.
        if (folder)
            AddFolderTree(run, path, QStringLiteral("*.") + a.extension, walk, leftOut,
                          LinksFollowed::SameOwner);
        else
            run.queue().append(path);
    }
}

/** `deckrun --print`: queues, prints, and gives the exit status. */
int printFiles(Platform &platform, ConsoleDialogs &dialogs, const CommandLine &line,
               const QString &printer, PrintWay way)
{
    ConsoleStop stop([&platform] { platform.office->shutdown(); });
    ConsoleRun run(printer, way.pauseDigit, ConsoleLines::EachFileAndDone, stop, dialogs);
    BatchJobs jobs(platform);
    run.setOnFileEnded([&jobs](const FileOutcome &outcome) { jobs.follow(outcome); });
    BatchQueue queue(platform);
    queuePaths(queue, line);
    const int queued = queue.queue().count();
    bool printing = false;
    printQueue(RunSetup{.platform = platform,
                        .choices = run,
                        .progress = run,
                        .strategy = *way.strategy,
                        .pause = way.pause,
                        .settings = line.settings,
                        .stop = &stop.runStop()},
               queue.queue(), printing);
    // The run's applications quit before a signal that asked to stop ends Deckrun.
    way.strategy.reset();
    way.office.reset();
    platform.office->shutdown();
    if (!stop.requested())
        jobs.settle(line.wait, stop);
    stop.endIfAsked();
    return batchStatus(BatchTally{.queued = queued,
                                  .printed = run.printed(),
                                  .reports = dialogs.errorReports(),
                                  .leftOut = queue.leftOut(),
                                  .notCompleted = jobs.notCompleted()});
}

} // namespace

PrintWay printWay(Platform &platform, const CommandLine &line, const MakeOffice &makeOffice)
{
    PrintWay way;
    if (!line.fast) {
        way.strategy = std::make_unique<FreshApplication>(*platform.office, *platform.files);
        way.pauseDigit = batchPause(*platform.settings, line.pause);
        return way;
    }
    way.pause = line.pause ? PauseRule::Digit : PauseRule::None;
    way.pauseDigit = line.pause.value_or(0);
    int jobs = line.jobs;
    if (jobs > 1 && !platform.office->runsSideBySide()) {
        sayError(QStringLiteral("%1 runs once per session: printing with one, not %2.")
                     .arg(platform.office->productLabel())
                     .arg(jobs));
        jobs = 1;
    }
    // Applications that run side by side print through lanes, with --fast
    // alone one lane and a spare; PowerPoint, once per session, through one.
    // Lanes quit their applications as each run ends; a watcher's runs are
    // of a file each, so it keeps one application from run to run.
    const bool runPerFile = line.mode == RunMode::Watch;
    if (platform.office->runsSideBySide() && !runPerFile) {
        way.strategy = std::make_unique<Lanes>(makeOffice, *platform.printers, *platform.files,
                                               *platform.events, jobs);
        return way;
    }
    way.printers = std::make_unique<PrintersAsRunBegan>(*platform.printers);
    way.office = makeOffice(*way.printers);
    way.strategy = std::make_unique<OneApplication>(*way.office, *platform.files, 100, runPerFile);
    return way;
}

std::optional<QString> batchPrinter(Platform &platform, const std::optional<QString> &asked)
{
    const QStringList names = platform.printers->printerNames();
    if (asked) {
        // The print system takes printer names in any case: so does --printer,
        // and prints on the name as installed.
        for (const QString &name : names)
            if (name.compare(*asked, Qt::CaseInsensitive) == 0)
                return name;
        sayError(
            QStringLiteral("there is no printer named \"%1\"; nothing was printed.").arg(*asked));
        if (!names.isEmpty())
            sayError(QStringLiteral("the printers are: %1").arg(names.join(QStringLiteral(", "))));
        return std::nullopt;
    }
    const QString defaultPrinter = platform.printers->defaultPrinterName();
    std::optional<int> chosen;
    try {
        chosen = startingPrinter(*platform.settings, names, defaultPrinter);
    } catch (const std::exception &e) {
        qCDebug(lcCommandLine) << "the window's stored printer is not usable:" << e.what();
    }
    if (chosen && *chosen >= 0 && *chosen < names.size())
        return names.at(*chosen);
    // Nothing usable chosen in the window (none, -1, or a choice it would
    // refuse): the system's default, as a run without a window promises.
    const qsizetype fallback = defaultPrinter.isEmpty() ? -1 : names.indexOf(defaultPrinter);
    if (fallback >= 0)
        return names.at(fallback);
    sayError(names.isEmpty() ? QStringLiteral("no printers are installed; nothing was printed.")
                             : QStringLiteral("no printer is chosen and there is no default "
                                              "printer; name one with --printer."));
    return std::nullopt;
}

int batchPause(SettingsStore &settings, const std::optional<int> &asked)
{
    if (asked)
        return *asked;
    bool ok = false;
    const int stored = readSetting(settings, setting::PauseIndex).toInt(&ok);
    return ok && stored >= 0 && stored <= 9
               ? stored
               : QString::fromLatin1(setting::PauseIndex.defaultValue).toInt();
}

int batchStatus(const BatchTally &tally)
{
    // Anything left out of the queue counts as a file not printed.
    const bool everyFilePrinted = tally.queued > 0 && tally.printed == tally.queued &&
                                  tally.reports == 0 && tally.leftOut == 0 &&
                                  tally.notCompleted == 0;
    return everyFilePrinted ? 0 : 1;
}

int runWithoutWindow(int argc, char **argv, const CommandLine &line)
{
    QCoreApplication app(argc, argv);
    nameTheProgram();
    // Without a home the settings, the office's profile and the run log
    // would go under "/", shared by every user without one.
    if (const QString problem = userFoldersProblem(); !problem.isEmpty()) {
        sayError(problem);
        return BadArgumentsStatus;
    }
    const bool watching = line.mode == RunMode::Watch;
    auto owned = std::make_unique<ConsoleDialogs>(watching   ? WhenRunning::GoOnQuietly
                                                  : line.yes ? WhenRunning::GoOn
                                                             : WhenRunning::Refuse);
    ConsoleDialogs &dialogs = *owned;
    const std::unique_ptr<Platform> platform = makeSystemPlatform(std::move(owned), true);
    platform->dialogs->setApplicationTitle(QStringLiteral("Deckrun"));

    const std::optional<QString> printer = batchPrinter(*platform, line.printer);
    if (!printer)
        return BadArgumentsStatus;
    CheckPowerPointInstalled(*platform); // ends the program with 1 when it cannot print
    if (const QString asRoot = watching ? runOfficeAsOwnerOf(line.watch) : QString();
        !asRoot.isEmpty())
        sayError(asRoot);
    // Asked for what this application cannot do: refused before anything prints.
    if (const QString why = platform->office->refusal(line.settings); !why.isEmpty()) {
        sayError(why);
        return BadArgumentsStatus;
    }
    // Nor what the printer cannot do: a watcher, which cannot start, ends as it does then.
    if (platform->spooler)
        if (const auto refused = printerRefusal(*platform->spooler, *printer, line.settings)) {
            sayError(refusalLine(*refused));
            return watching ? 1 : BadArgumentsStatus;
        }
    PrintWay way =
        printWay(*platform, line, [spooler = platform->spooler.get()](Printers &printers) {
            return makeSystemPresentationAutomation(printers, spooler, true);
        });
    if (!watching)
        return printFiles(*platform, dialogs, line, *printer, std::move(way));
    return runWatch(*platform, dialogs,
                    WatchOptions{.folder = line.watch,
                                 .printer = *printer,
                                 .extension = line.extension,
                                 .settleMilliseconds = line.settle.value_or(2) * 1000,
                                 .settings = line.settings,
                                 .failWhenPrinterDown = line.failWhenPrinterDown},
                    std::move(way));
}

} // namespace deckrun
