// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandLine.h"

#include "cli/TerminalOutput.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/RunLog.h"
#include "platform/StopSignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <cstdio>
#include <type_traits>
#include <utility>
#include <vector>

namespace deckrun {

namespace {

/** The options of Qt's window application, and whether each takes a value. */
constexpr std::pair<const char *, bool> QtWindowOptions[] = {
    {"platform", true},      {"platformpluginpath", true},
    {"platformtheme", true}, {"plugin", true},
    {"qmljsdebugger", true}, {"qwindowgeometry", true},
    {"qwindowicon", true},   {"qwindowtitle", true},
    {"session", true},       {"style", true},
    {"stylesheet", true},    {"display", true},
    {"geometry", true},      {"title", true},
    {"icon", true},          {"name", true},
    {"visual", true},        {"reverse", false},
    {"widgetcount", false},  {"nograb", false},
    {"dograb", false},       {"sync", false},
};

/** The options that belong to a run without a window, besides the print settings. */
constexpr const char *BatchOptions[] = {"printer", "pause", "extension", "yes",
                                        "fast",    "jobs",  "wait"};

/** The option of a print setting's row on the command line: "--frame". */
template <typename Row> QString optionOf(const Row &row)
{
    return QStringLiteral("--") + QLatin1String(row.name);
}

/**
 * The arguments with each yes-or-no option that stands alone ("--frame", not
 * followed by yes or no) written as "--frame=yes": the parser takes an option
 * with a value or without, never both.
 */
QStringList withBareOptionsSaid(const QStringList &arguments)
{
    QStringList said = arguments;
    for (qsizetype k = 1; k < said.size() && said[k] != QLatin1String("--"); ++k) {
        const QString next = k + 1 < said.size() ? said[k + 1] : QString();
        const bool valueFollows = next == QLatin1String("yes") || next == QLatin1String("no");
        forEachPrintSetting([&](const auto &row) {
            if (row.codec.bareMeansYes && !valueFollows &&
                (said[k] == optionOf(row) || said[k] == optionOf(row).mid(1)))
                said[k] = optionOf(row) + QStringLiteral("=yes");
        });
    }
    return said;
}

/** A command line that cannot be run: what is wrong, and where to read how it goes. */
int refuse(const QString &text, int status = BadArgumentsStatus)
{
    sayError(text);
    std::fputs(qUtf8Printable(helpHint() + QLatin1Char('\n')), stderr);
    return status;
}

void sayCommandLineError(const QCommandLineParser &parser, const QStringList &arguments)
{
    std::fprintf(stderr, "deckrun: %s\n", qUtf8Printable(parser.errorText()));
    // A name that looks like an option ("-dash.pptx") goes in after "--".
    const QStringList unknown = parser.unknownOptionNames();
    for (const QString &argument : arguments.mid(1)) {
        if (argument == QLatin1String("--"))
            break;
        const QString name = argument.section(QLatin1Char('='), 0, 0);
        if (!unknown.isEmpty() && argument.startsWith(QLatin1Char('-')) &&
            unknown.contains(name.mid(name.startsWith(QLatin1String("--")) ? 2 : 1))) {
            std::fprintf(stderr,
                         "deckrun: a file or folder whose name begins with \"-\" goes after "
                         "\"--\": deckrun ... -- %s\n",
                         qUtf8Printable(argument));
            break;
        }
    }
    std::fprintf(stderr, "%s\n", qUtf8Printable(helpHint()));
}

/** The window's command line: files and folders, and Qt's own options. */
std::variant<CommandLine, int> readWindowArguments(const QCommandLineParser &parser)
{
    QStringList batchOptions;
    for (const char *option : BatchOptions)
        batchOptions << QLatin1String(option);
    forEachPrintSetting([&](const auto &row) { batchOptions << QLatin1String(row.name); });
    for (const QString &option : batchOptions) {
        if (parser.isSet(option)) {
            std::fprintf(stderr, "deckrun: --%s goes with --print.\n", qUtf8Printable(option));
            return 1;
        }
    }
    CommandLine line;
    for (const QString &argument : parser.positionalArguments())
        line.paths << pathFromArgument(argument);
    return line;
}

/** --settle and --fail-when-printer-down, which only a watcher takes. */
std::optional<int> readWatchOptions(const QCommandLineParser &parser, CommandLine &line)
{
    line.failWhenPrinterDown = parser.isSet(QStringLiteral("fail-when-printer-down"));
    if (!parser.isSet(QStringLiteral("settle")))
        return std::nullopt;
    const QString settle = parser.value(QStringLiteral("settle"));
    bool number = false;
    line.settle = settle.toInt(&number);
    if (!number || *line.settle < 1 || *line.settle > 3600)
        return refuse(
            QStringLiteral("--settle takes the seconds a file rests, 1 to 3600, not \"%1\".")
                .arg(settle));
    return std::nullopt;
}

/** --watch FOLDER: one folder, no files. */
std::optional<int> readWatch(const QCommandLineParser &parser, CommandLine &line)
{
    line.mode = RunMode::Watch;
    line.watch = pathFromArgument(parser.value(QStringLiteral("watch")));
    if (parser.isSet(QStringLiteral("print")) || !line.paths.isEmpty() ||
        !line.unreadable.isEmpty() || line.watch.isEmpty())
        return refuse(QStringLiteral("--watch takes one folder, and no --print or files."));
    if (!QFileInfo(line.watch).isDir())
        return refuse(QStringLiteral("there is no folder \"%1\" to watch.").arg(line.watch));
    return readWatchOptions(parser, line);
}

/** --printer, --pause and --extension, checked. */
std::optional<int> readChoices(const QCommandLineParser &parser, CommandLine &line)
{
    if (parser.isSet(QStringLiteral("printer"))) {
        line.printer = parser.value(QStringLiteral("printer"));
        if (line.printer->isEmpty())
            return refuse(QStringLiteral("--printer needs a printer's name."));
    }
    if (parser.isSet(QStringLiteral("pause"))) {
        const QString pause = parser.value(QStringLiteral("pause"));
        if (pause.size() != 1 || pause.front() < QLatin1Char('0') ||
            pause.front() > QLatin1Char('9'))
            return refuse(
                QStringLiteral("--pause takes one digit, 0 to 9, not \"%1\".").arg(pause));
        line.pause = pause.front().unicode() - u'0';
    }
    if (!parser.isSet(QStringLiteral("extension")))
        return std::nullopt;
    const QString extension = parser.value(QStringLiteral("extension"));
    line.extension = extension;
    if (extension.isEmpty())
        return refuse(QStringLiteral("--extension needs an extension (* for every file)."));
    // The window takes these as typed and then finds (almost) nothing: a
    // script gets told instead.
    if (extension.startsWith(QLatin1String("*.")))
        return refuse(QStringLiteral("--extension takes the extension alone, not \"%1\": "
                                     "* for every file, ppt for *.ppt.")
                          .arg(extension));
    if (extension.startsWith(QLatin1Char('.')))
        return refuse(
            QStringLiteral("--extension takes the extension without its dot, "
                           "not \"%1\"%2")
                .arg(extension, extension.size() > 1
                                    ? QStringLiteral(": --extension %1.").arg(extension.mid(1))
                                    : QStringLiteral(".")));
    return std::nullopt;
}

/** --yes, --fast and --jobs, checked. */
std::optional<int> readWays(const QCommandLineParser &parser, CommandLine &line)
{
    line.yes = parser.isSet(QStringLiteral("yes"));
    line.fast = parser.isSet(QStringLiteral("fast"));
    line.wait = parser.isSet(QStringLiteral("wait"));
    if (line.wait && line.mode != RunMode::Print)
        return refuse(QStringLiteral("--wait goes with --print."));
    if (!parser.isSet(QStringLiteral("jobs")))
        return std::nullopt;
    const QString jobs = parser.value(QStringLiteral("jobs"));
    bool number = false;
    line.jobs = jobs.toInt(&number);
    if (!number || line.jobs < 1 || line.jobs > 8 || !line.fast || line.mode != RunMode::Print)
        return refuse(
            QStringLiteral("--jobs takes 1 to 8 applications, with --print --fast, not \"%1\".")
                .arg(jobs));
    return std::nullopt;
}

/** How each deck prints: an option for each print setting, its value checked. */
std::optional<int> readPrintSettings(const QCommandLineParser &parser, PrintSettings &settings)
{
    std::optional<int> refused;
    forEachPrintSetting([&](const auto &row) {
        const QString name = QLatin1String(row.name);
        if (refused || !parser.isSet(name))
            return;
        const QString value = parser.value(name);
        if (const auto known = row.codec.read(value.toStdString()))
            settings.*row.member = *known;
        else
            refused = refuse(QStringLiteral("--%1 takes %2, not \"%3\".")
                                 .arg(name, QString::fromStdString(row.codec.takes()), value));
    });
    return refused;
}

/** A run without a window: `--print FILE|FOLDER...` or `--watch FOLDER`, and their options. */
std::variant<CommandLine, int> readBatchArguments(const QCommandLineParser &parser,
                                                  const QHash<QString, QByteArray> &undecodable)
{
    for (const auto &[name, takesValue] : QtWindowOptions)
        if (parser.isSet(QString::fromLatin1(name)))
            return refuse(QStringLiteral("Unknown option '%1'.").arg(QLatin1String(name)));
    CommandLine line;
    line.mode = RunMode::Print;
    for (const QString &argument : parser.positionalArguments()) {
        // Opened by its text, such a name would be another file or none.
        if (const auto raw = undecodable.constFind(argument); raw != undecodable.cend())
            line.unreadable << readableName(*raw);
        else
            line.paths << pathFromArgument(argument);
    }
    if (parser.isSet(QStringLiteral("watch"))) {
        if (const auto refused = readWatch(parser, line))
            return *refused;
    } else if (line.paths.isEmpty() && line.unreadable.isEmpty()) {
        return refuse(QStringLiteral("--print needs the files or folders to print."));
    } else if (parser.isSet(QStringLiteral("settle")) ||
               parser.isSet(QStringLiteral("fail-when-printer-down"))) {
        return refuse(QStringLiteral("--settle and --fail-when-printer-down go with --watch."));
    }
    if (const auto refused = readChoices(parser, line))
        return *refused;
    if (const auto refused = readWays(parser, line))
        return *refused;
    if (const auto refused = readPrintSettings(parser, line.settings))
        return *refused;
    return line;
}

} // namespace

void nameTheProgram()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Orvanta"));
    QCoreApplication::setApplicationName(QStringLiteral("Deckrun"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DECKRUN_VERSION));
}

QString helpHint()
{
    return QStringLiteral("Try 'deckrun --help' for more information.");
}

namespace {

/** `text`'s paragraphs (apart by a blank line) in lines of at most `width` characters. */
QString wrapped(const QString &text, qsizetype width = 76)
{
    QStringList paragraphs;
    for (const QString &paragraph : text.split(QStringLiteral("\n\n"))) {
        QString lines, line;
        for (const QString &word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
                lines += line + QLatin1Char('\n');
                line.clear();
            }
            line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
        }
        paragraphs << lines + line;
    }
    return paragraphs.join(QStringLiteral("\n\n"));
}

} // namespace

void describeCommandLine(QCommandLineParser &parser)
{
    // "-dash.pptx" is one unknown option, not -d -a -s -h ... (and so not a
    // request for help); -h and -v still work as they are.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // The requests to stop and the run log's path as this system has them
    // (Ctrl+Break and closing the console, "\" on Windows).
    parser.setApplicationDescription(wrapped(
        QStringLiteral("Prints many presentation files in one run.\n\n"
                       "The files and folders named are queued as if they had been dropped on the "
                       "list: a file as it is, a folder as every file in it and in the folders "
                       "below it.\n\n"
                       "With --print, Deckrun prints them without a window (no display needed): "
                       "files are queued as given, folders walked for files with the extension "
                       "(--extension), and the run goes as \"Start Printing\" does. Progress goes "
                       "to standard output (\"Processing: NAME (i of N)\", \"Done.\"), every error "
                       "report in full to standard error, with whatever a folder's walk left "
                       "out. %1 ends the run once the file in hand has ended; a second "
                       "one at once. Before anything prints, what the run asks (--sides, "
                       "--color, --copies) is checked against what the printer says it can "
                       "do. Each job is followed at the printer: one that was canceled, "
                       "aborted or stopped by the time the run ends (with --wait: until every "
                       "job has ended or stopped) is named on standard error with the "
                       "printer's words. Exit status: 0 when every file printed, 1 when any "
                       "file failed, any job did not complete, anything was left out or "
                       "nothing was printed, 2 for bad arguments, HOME unset, a printer that "
                       "is not installed or one that cannot print what the run asks.\n\n"
                       "Every run, with or without a window, adds one line per file to the run "
                       "log (JSON lines), and one more for its job once it ends or stops at the "
                       "printer: %2")
            .arg(StopSignals::requestNames(), QDir::toNativeSeparators(DefaultRunLogPath()))));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("print"),
         QStringLiteral("Print the files and folders named, without a window, and end.")},
        {QStringLiteral("printer"),
         QStringLiteral("With --print: the printer (default: the one chosen in the window, else "
                        "the system's default)."),
         QStringLiteral("NAME")},
        {QStringLiteral("pause"),
         QStringLiteral("With --print: the pause after each file, 0 to 9, as in the window "
                        "(default: the one chosen there)."),
         QStringLiteral("0-9")},
        {QStringLiteral("extension"),
         QStringLiteral("With --print: the extension of the files taken from folders, without "
                        "its dot (default: ppt; * for every file)."),
         QStringLiteral("EXT")},
        {QStringLiteral("watch"),
         QStringLiteral("Print every file that arrives in FOLDER, without a window, until "
                        "%1 (status 0 once the file in hand is done; 1 when the folder goes "
                        "away); printed files go to FOLDER%2Printed, failed ones to "
                        "FOLDER%2Failed with their reports. Takes --printer, --extension, --pause "
                        "and --fast as --print does.")
             .arg(StopSignals::requestNames(), QDir::separator()),
         QStringLiteral("FOLDER")},
        {QStringLiteral("settle"),
         QStringLiteral("With --watch: the seconds a dropped file must rest, unchanged and "
                        "written by nobody, before it is taken (default 2; at least 10 on a "
                        "network file system)."),
         QStringLiteral("SECONDS")},
        {QStringLiteral("fail-when-printer-down"),
         QStringLiteral("With --watch: files fail while the printer is stopped or refuses jobs, "
                        "instead of waiting in the folder (tried again every minute).")},
        {QStringLiteral("fast"),
         QStringLiteral(
             "With --print or --watch: one presentation application for the whole run and no "
             "fixed waits; a file that fails gets a fresh application for the next "
             "one, unless the application only refused to open it and still answers. "
             "Pauses only when --pause is given.")},
        {QStringLiteral("jobs"),
         QStringLiteral("With --print --fast: N applications side by side (default 1), each "
                        "opening its next file while another prints; the printer still gets the "
                        "files in queue order. LibreOffice only."),
         QStringLiteral("N")},
        {QStringLiteral("yes"),
         QStringLiteral("With --print: go on when the presentation application already runs, "
                        "or runs and does not answer (a dialog open in it), rather than refuse.")},
        {QStringLiteral("wait"),
         QStringLiteral("With --print: before ending, wait until every job has completed at the "
                        "printer, been canceled or aborted, or stopped there (a jam, a stopped "
                        "printer); status 1 when any did not complete.")},
    });
    // How each deck prints: each overrides what the deck's own print settings say.
    forEachPrintSetting([&](const auto &row) {
        QString help = QStringLiteral("With --print or --watch: ") + QLatin1String(row.help);
        // The layouts listed are those this system prints.
        if constexpr (std::is_same_v<decltype(row.member), decltype(&PrintSettings::layout)>)
            help = help.arg(QString::fromStdString(row.codec.takes(systemPrints)));
        parser.addOption({QLatin1String(row.name), help, QLatin1String(row.valueName)});
    });
    // Qt's own options for the window (-style, -platform, ...): taken here
    // so that the one reading of the command line knows them, and handled by
    // the window's application object itself.
    for (const auto &[name, takesValue] : QtWindowOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        if (takesValue)
            option.setValueName(QStringLiteral("VALUE"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    parser.addPositionalArgument(QStringLiteral("FILE|FOLDER"),
                                 QStringLiteral("Presentation files, or folders that hold them."),
                                 QStringLiteral("[FILE|FOLDER]..."));
}

QString pathFromArgument(const QString &argument)
{
    if (argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(argument);
        if (url.isLocalFile())
            return QDir::toNativeSeparators(url.toLocalFile());
    }
    if (argument.isEmpty() || QDir::isAbsolutePath(argument))
        return argument; // as a drop gives it
    // Qt joins and cleans with "/" on Windows too; rows use the system's separator.
    return QDir::toNativeSeparators(QDir::cleanPath(QDir::current().absoluteFilePath(argument)));
}

std::variant<CommandLine, int> readCommandLine(const QStringList &arguments,
                                               const QHash<QString, QByteArray> &undecodable)
{
    QCommandLineParser parser;
    describeCommandLine(parser);
    if (!parser.parse(withBareOptionsSaid(arguments))) {
        sayCommandLineError(parser, arguments);
        return BadArgumentsStatus;
    }
    CommandLine answer;
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        answer.mode = RunMode::Help;
        return answer;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        answer.mode = RunMode::Version;
        return answer;
    }
    if (parser.isSet(QStringLiteral("print")) || parser.isSet(QStringLiteral("watch")))
        return readBatchArguments(parser, undecodable);
    return readWindowArguments(parser);
}

int answerHelpOrVersion(RunMode mode)
{
    // A plain application object answers, under the name the program is
    // started by (not the program folder's path); no display is needed.
    char name[] = "deckrun";
    char *argv[] = {name, nullptr};
    int argc = 1;
    QCoreApplication app(argc, argv);
    nameTheProgram();
    QCommandLineParser parser;
    describeCommandLine(parser);
    // Printed here, not by QCommandLineParser::process(): on Windows that
    // shows a message box instead whenever it finds no console window, which
    // a console program run by another program may not have.
    const QString answer = mode == RunMode::Version
                               ? QCoreApplication::applicationName() + QLatin1Char(' ') +
                                     QCoreApplication::applicationVersion() + QLatin1Char('\n')
                               : parser.helpText();
    std::fputs(answer.toUtf8().constData(), stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace deckrun
