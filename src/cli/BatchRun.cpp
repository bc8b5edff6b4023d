// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/BatchRun.h"

#include "cli/CommandLine.h"
#include "cli/TerminalOutput.h"
#include "cli/WatchFolder.h"
#include "core/common/ErrorReport.h"
#include "core/common/SettingsKeys.h"
#include "core/queue/FolderWalk.h"
#include "core/queue/QueueModel.h"
#include "core/queue/QueueTarget.h"
#include "core/run/FastRun.h"
#include "core/run/PowerPoint1.h"
#include "core/run/PrintRun.h"
#include "core/run/PrinterChoice.h"
#include "platform/FileSystem.h"
#include "platform/Logging.h"
#include "platform/Platform.h"
#include "platform/StopSignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cstdio>
#include <optional>

namespace deckrun {

namespace {

/**
 * A name on one line, as scripts read the progress: control characters as
 * C escapes ("\n", "\x1B"), as names that are no text show their bytes.
 */
QString oneLine(const QString &name)
{
    QString shown;
    shown.reserve(name.size());
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u == u'\n')
            shown += QLatin1String("\\n");
        else if (u == u'\r')
            shown += QLatin1String("\\r");
        else if (u == u'\t')
            shown += QLatin1String("\\t");
        else if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            shown += QStringLiteral("\\x") +
                     QString::number(u, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

/**
 * The dialogs of a run without a window: every message goes to standard
 * error in full. The question whether to go on while the presentation
 * application already runs is answered by --yes.
 */
class StreamDialogs final : public Dialogs {
public:
    explicit StreamDialogs(bool yes) : m_yes(yes) {}

    Answer messageBox(const QString &text, const QString &title, Buttons buttons, Icon) override
    {
        if (title == QLatin1String("Application Error"))
            ++m_errorReports;
        std::fflush(stdout);
        const QByteArray shown = plainText(text).toUtf8();
        std::fprintf(stderr, "%s\n\n", shown.constData());
        std::fflush(stderr);
        if (buttons != Buttons::YesNo)
            return Answer::Ok;
        if (m_yes) {
            sayError(QStringLiteral("going on, as --yes was given."));
            return Answer::Yes;
        }
        sayError(QStringLiteral("nothing was printed; give --yes to print all the same."));
        return Answer::No;
    }
    // A run without a window asks nothing else: every question is cancelled.
    QString inputBox(const QString &, const QString &, const QString &) override { return {}; }
    FileDialogResult openFiles(const FileDialogRequest &) override { return {}; }
    QString browseForFolder(const QString &, const QString &) override { return {}; }

    int errorReports() const { return m_errorReports; }

private:
    bool m_yes;
    int m_errorReports = 0;
};

/** The choices and the progress of a run without a window. */
class BatchRun final : public PrintChoices, public PrintProgress, public QueueTarget {
public:
    BatchRun(Platform &platform, QString printer, int pause)
        : m_platform(platform), m_printer(std::move(printer)), m_pause(pause)
    {}

    // PrintChoices
    QString printerName() const override { return m_printer; }
    QString pauseText() const override
    {
        return QString::number(m_pause) + QStringLiteral(" seconds");
    }
    bool stopRequested() const override { return m_stopSignal != 0; }

    // PrintProgress: one line per file; the window's bar and texts have no place here.
    void showBusy(bool) override {}
    void showPercent(int) override {}
    void showText(const QString &) override {}
    void fileStarted(int position, int count, const QString &path) override
    {
        std::printf("Processing: %s (%d of %d)\n", qUtf8Printable(oneLine(FileNameFromPath(path))),
                    position, count);
        std::fflush(stdout);
    }
    void fileEnded(const FileOutcome &outcome) override
    {
        if (outcome.printed())
            ++m_printed;
    }
    // The run's own end, in place of the window's "Done." box.
    bool announceDone() override
    {
        if (m_stopSignalName.isEmpty())
            std::fputs("Done.\n", stdout);
        else
            sayError(QStringLiteral("stopped by %1; the files not begun were not printed.")
                         .arg(m_stopSignalName));
        std::fflush(stdout);
        return true;
    }

    // QueueTarget
    Platform &platform() override { return m_platform; }
    QueueModel &queue() override { return m_queue; }

    int printed() const { return m_printed; }
    int stopSignal() const { return m_stopSignal; }
    void stop(int signal, const QString &name)
    {
        m_stopSignal = signal;
        m_stopSignalName = name;
    }

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
    QString m_printer;
    int m_pause;
    int m_printed = 0;
    int m_leftOut = 0;
    int m_stopSignal = 0;
    QString m_stopSignalName;
};

/** A command line that cannot be run: what is wrong, and where to read how it goes. */
void sayUsageError(const QString &text)
{
    sayError(text);
    std::fputs(qUtf8Printable(HelpHint() + QLatin1Char('\n')), stderr);
}

struct Arguments {
    QStringList paths;
    QStringList unreadable; // names given whose bytes are no text, as shown
    std::optional<QString> printer;
    std::optional<int> pause;
    QString extension = QStringLiteral("ppt");
    bool yes = false;
    bool fast = false;
    int jobs = 1;
    QString watch; // the folder to watch; empty: print the paths
};

/**
 * The command line read and checked; a message and none when it is not
 * usable. `undecodable` maps each argument whose bytes are not UTF-8 (its
 * text has lost them) to those bytes.
 */
std::optional<Arguments> readArguments(const QStringList &commandLine,
                                       const QHash<QString, QByteArray> &undecodable)
{
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    if (!parser.parse(commandLine)) {
        SayCommandLineError(parser, commandLine);
        return std::nullopt;
    }
    Arguments a;
    for (const QString &argument : parser.positionalArguments()) {
        // Opened by its text, such a name would be another file or none.
        if (const auto raw = undecodable.constFind(argument); raw != undecodable.cend())
            a.unreadable << readableName(*raw);
        else
            a.paths << PathFromArgument(argument);
    }
    if (parser.isSet(QStringLiteral("watch"))) {
        a.watch = PathFromArgument(parser.value(QStringLiteral("watch")));
        if (parser.isSet(QStringLiteral("print")) || !a.paths.isEmpty() ||
            !a.unreadable.isEmpty() || a.watch.isEmpty()) {
            sayUsageError(QStringLiteral("--watch takes one folder, and no --print or files."));
            return std::nullopt;
        }
        if (!QFileInfo(a.watch).isDir()) {
            sayUsageError(QStringLiteral("there is no folder \"%1\" to watch.").arg(a.watch));
            return std::nullopt;
        }
    } else if (a.paths.isEmpty() && a.unreadable.isEmpty()) {
        sayUsageError(QStringLiteral("--print needs the files or folders to print."));
        return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("printer"))) {
        a.printer = parser.value(QStringLiteral("printer"));
        if (a.printer->isEmpty()) {
            sayUsageError(QStringLiteral("--printer needs a printer's name."));
            return std::nullopt;
        }
    }
    if (parser.isSet(QStringLiteral("pause"))) {
        const QString pause = parser.value(QStringLiteral("pause"));
        if (pause.size() != 1 || pause.front() < QLatin1Char('0') ||
            pause.front() > QLatin1Char('9')) {
            sayUsageError(
                QStringLiteral("--pause takes one digit, 0 to 9, not \"%1\".").arg(pause));
            return std::nullopt;
        }
        a.pause = pause.front().unicode() - u'0';
    }
    if (parser.isSet(QStringLiteral("extension"))) {
        a.extension = parser.value(QStringLiteral("extension"));
        if (a.extension.isEmpty()) {
            sayUsageError(QStringLiteral("--extension needs an extension (* for every file)."));
            return std::nullopt;
        }
        // The window takes these as typed and then finds (almost) nothing:
        // a script gets told instead.
        if (a.extension.startsWith(QLatin1String("*."))) {
            sayUsageError(QStringLiteral("--extension takes the extension alone, not \"%1\": "
                                         "* for every file, ppt for *.ppt.")
                              .arg(a.extension));
            return std::nullopt;
        }
        if (a.extension.startsWith(QLatin1Char('.'))) {
            sayUsageError(QStringLiteral("--extension takes the extension without its dot, "
                                         "not \"%1\"%2")
                              .arg(a.extension,
                                   a.extension.size() > 1
                                       ? QStringLiteral(": --extension %1.").arg(a.extension.mid(1))
                                       : QStringLiteral(".")));
            return std::nullopt;
        }
    }
    a.yes = parser.isSet(QStringLiteral("yes"));
    a.fast = parser.isSet(QStringLiteral("fast"));
    if (parser.isSet(QStringLiteral("jobs"))) {
        const QString jobs = parser.value(QStringLiteral("jobs"));
        bool number = false;
        a.jobs = jobs.toInt(&number);
        if (!number || a.jobs < 1 || a.jobs > 8 || !a.fast || !a.watch.isEmpty()) {
            sayUsageError(
                QStringLiteral("--jobs takes 1 to 8 applications, with --print --fast, not \"%1\".")
                    .arg(jobs));
            return std::nullopt;
        }
    }
    return a;
}

/** Queues the files as given, and the files in each folder as "Add All File(s) In Folder" does. */
void queuePaths(BatchRun &run, const Arguments &a)
{
    Platform &p = run.platform();
    for (const QString &name : a.unreadable)
        run.leaveOut(name, QStringLiteral("its name is not valid UTF-8 text"));
    StepRunner walk(*p.dialogs, AddFolderLocation());
    const LeftOutSink leftOut = [&run](const QString &path, const QString &why) {
        run.leaveOut(path, why);
    };
    for (const QString &path : a.paths) {
        bool folder = false;
        try {
            folder = p.files->IsFolder(path);
        } catch (const std::exception &) {
            folder = false; // queued as a file, its open reports what is wrong
        }
        if (folder)
            AddFolderTree(run, path, QStringLiteral("*.") + a.extension, walk, leftOut);
        else
            run.queue().append(path);
    }
}

/** Each argument whose bytes do not survive the way to text and back, by its text. */
QHash<QString, QByteArray> undecodableArguments(int argc, char **argv)
{
    QHash<QString, QByteArray> found;
    for (int i = 1; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        const QString text = QFile::decodeName(raw);
        if (QFile::encodeName(text) != raw)
            found.insert(text, raw);
    }
    return found;
}

} // namespace

std::optional<QString> BatchPrinter(Platform &p, const std::optional<QString> &asked)
{
    const QStringList names = p.printers->printerNames();
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
    const QString defaultPrinter = p.printers->defaultPrinterName();
    std::optional<int> chosen;
    try {
        chosen = StartingPrinter(*p.settings, names, defaultPrinter);
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

int BatchPause(SettingsStore &settings, const std::optional<int> &asked)
{
    if (asked)
        return *asked;
    bool ok = false;
    const int stored = readSetting(settings, setting::PauseIndex).toInt(&ok);
    return ok && stored >= 0 && stored <= 9
               ? stored
               : QString::fromLatin1(setting::PauseIndex.defaultValue).toInt();
}

bool AsksForBatchRun(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser look;
    DescribeCommandLine(look);
    look.parse(arguments);
    return look.isSet(QStringLiteral("print")) || look.isSet(QStringLiteral("watch"));
}

int RunBatch(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    NameTheProgram();
    const std::optional<Arguments> a =
        readArguments(QCoreApplication::arguments(), undecodableArguments(argc, argv));
    if (!a)
        return BadArgumentsStatus;
    // Without a home the settings, the office's profile and the run log
    // would go under "/", shared by every user without one.
    if (const QString problem = UserFoldersProblem(); !problem.isEmpty()) {
        sayError(problem);
        return BadArgumentsStatus;
    }

    const std::unique_ptr<Platform> platform = makeSystemPlatform(true);
    auto owned = std::make_unique<StreamDialogs>(a->yes);
    StreamDialogs &dialogs = *owned;
    platform->dialogs = std::move(owned);
    platform->dialogs->setApplicationTitle(QStringLiteral("Deckrun"));

    const std::optional<QString> printer = BatchPrinter(*platform, a->printer);
    if (!printer)
        return BadArgumentsStatus;
    CheckPowerPointInstalled(*platform); // ends the program with 1 when it cannot print
    if (!a->watch.isEmpty())
        return RunWatch(*platform,
                        WatchOptions{.folder = a->watch,
                                     .printer = *printer,
                                     .extension = a->extension,
                                     .fast = a->fast,
                                     .pause = a->fast ? a->pause.value_or(0)
                                                      : BatchPause(*platform->settings, a->pause),
                                     .pauses = a->pause.has_value()});

    // The fast run pauses only when asked to.
    BatchRun run(*platform, *printer,
                 a->fast ? a->pause.value_or(0) : BatchPause(*platform->settings, a->pause));
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopAsked, [&](int signal, const QString &name) {
        if (run.stopSignal() == 0) {
            run.stop(signal, name);
            sayError(QStringLiteral("%1: stopping once the file in hand has "
                                    "ended (again to stop at once).")
                         .arg(name));
            return;
        }
        sayError(QStringLiteral("%1 again: stopping now.").arg(name));
        platform->office->shutdown();
        StopSignals::endBy(signal);
    });

    queuePaths(run, *a);
    const int queued = run.queue().count();
    bool printing = false;
    if (a->fast) {
        FastRunOptions options{.pauses = a->pause.has_value()};
        if (a->jobs > 1 && !platform->office->runsSideBySide())
            sayError(QStringLiteral("%1 runs once per session: printing with one, not %2.")
                         .arg(platform->office->productLabel())
                         .arg(a->jobs));
        else
            options.jobs = a->jobs;
        options.makeOffice = [](Printers &printers) {
            return makeSystemPresentationAutomation(printers, true);
        };
        PrintQueueFast(*platform, run.queue(), run, run, printing, options);
    } else {
        PrintQueue(*platform, run.queue(), run, run, printing);
    }
    platform->office->shutdown();

    if (run.stopSignal() != 0)
        StopSignals::endBy(run.stopSignal());
    // No files, or the running application's warning declined: nothing printed.
    // Anything left out of the queue counts as a file not printed.
    const bool everyFilePrinted =
        queued > 0 && run.printed() == queued && dialogs.errorReports() == 0 && run.leftOut() == 0;
    return everyFilePrinted ? 0 : 1;
}

} // namespace deckrun
