// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandLine.h"

#include "platform/Logging.h"
#include "platform/Platform.h"
#include "platform/RunLog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace deckrun {

void NameTheProgram()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Orvanta"));
    QCoreApplication::setApplicationName(QStringLiteral("Deckrun"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DECKRUN_VERSION));
}

QString HelpHint()
{
    return QStringLiteral("Try 'deckrun --help' for more information.");
}

void SayCommandLineError(const QCommandLineParser &parser, const QStringList &arguments)
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
    std::fprintf(stderr, "%s\n", qUtf8Printable(HelpHint()));
}

void DescribeCommandLine(QCommandLineParser &parser)
{
    // "-dash.pptx" is one unknown option, not -d -a -s -h ... (and so not a
    // request for help); -h and -v still work as they are.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral(
            "Prints many presentation files in one run.\n\n"
            "The files and folders named are queued as if they had been dropped on the\n"
            "list: a file as it is, a folder as every file in it and in the folders\n"
            "below it.\n\n"
            "With --print, Deckrun prints them without a window (no display needed):\n"
            "files are queued as given, folders walked for files with the extension\n"
            "(--extension), and the run goes as \"Start Printing\" does. Progress goes\n"
            "to standard output (\"Processing: NAME (i of N)\", \"Done.\"), every error\n"
            "report in full to standard error, with whatever a folder's walk left\n"
            "out. SIGINT or SIGTERM ends the run once the file in hand has ended; a\n"
            "second one at once. Exit status: 0 when every file printed, 1 when any\n"
            "file failed, anything was left out or nothing was printed, 2 for bad\n"
            "arguments, HOME unset or a printer that is not installed.\n\n"
            "Every run, with or without a window, adds one line per file to the run\n"
            "log (JSON lines): ") +
        DefaultRunLogPath());
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
                        "SIGINT or SIGTERM (status 0 once the file in hand is done); printed "
                        "files go to FOLDER/Printed, failed ones to "
                        "FOLDER/Failed with their reports. Takes --printer, --extension, --pause "
                        "and --fast as --print does."),
         QStringLiteral("FOLDER")},
        {QStringLiteral("fast"),
         QStringLiteral(
             "With --print or --watch: one presentation application for the whole run and no "
             "fixed waits; a file that fails gets a fresh application for the next "
             "one. Pauses only when --pause is given.")},
        {QStringLiteral("jobs"),
         QStringLiteral("With --print --fast: N applications side by side (default 1), each "
                        "opening its next file while another prints; the printer still gets the "
                        "files in queue order. LibreOffice only."),
         QStringLiteral("N")},
        {QStringLiteral("yes"),
         QStringLiteral("With --print: go on when the presentation application already runs on "
                        "Deckrun's profile.")},
    });
    parser.addPositionalArgument(QStringLiteral("FILE|FOLDER"),
                                 QStringLiteral("Presentation files, or folders that hold them."),
                                 QStringLiteral("[FILE|FOLDER]..."));
}

QString PathFromArgument(const QString &argument)
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

std::optional<int> AnswerHelpOrVersion(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser look;
    DescribeCommandLine(look);
    // A command line that does not parse is refused by the run it asks for.
    if (!look.parse(arguments))
        return std::nullopt;
    if (!look.isSet(QStringLiteral("help")) && !look.isSet(QStringLiteral("help-all")) &&
        !look.isSet(QStringLiteral("version")))
        return std::nullopt;
    // No display is needed to answer: a plain application object prints it,
    // under the name the program is started by (not the program folder's path).
    std::vector<char *> named(argv, argv + argc);
    char name[] = "deckrun";
    named[0] = name;
    int count = argc;
    QCoreApplication app(count, named.data());
    NameTheProgram();
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(parser.errorText()));
        return 1;
    }
    // Printed here, not by QCommandLineParser::process(): on Windows that
    // shows a message box instead whenever it finds no console window, which
    // a console program run by another program may not have.
    const QString answer = parser.isSet(QStringLiteral("version"))
                               ? QCoreApplication::applicationName() + QLatin1Char(' ') +
                                     QCoreApplication::applicationVersion() + QLatin1Char('\n')
                               : parser.helpText();
    std::fputs(answer.toUtf8().constData(), stdout);
    std::fflush(stdout);
    return 0;
}

QStringList CommandLinePaths(const QStringList &arguments)
{
    NameTheProgram();
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    if (!parser.parse(arguments)) {
        SayCommandLineError(parser, arguments);
        std::exit(BadArgumentsStatus);
    }
    parser.process(arguments); // --help and --version, once Qt's own options are out
    for (const char *option : {"printer", "pause", "extension", "yes", "fast", "jobs"}) {
        if (parser.isSet(QLatin1String(option))) {
            std::fprintf(stderr, "deckrun: --%s goes with --print.\n", option);
            std::exit(1);
        }
    }
    QStringList paths;
    for (const QString &argument : parser.positionalArguments())
        paths << PathFromArgument(argument);
    return paths;
}

} // namespace deckrun
