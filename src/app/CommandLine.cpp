// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"

#include "app/Form1.h"
#include "platform/Logging.h"
#include "platform/Platform.h"
#include "queue/AddFiles.h"
#include "queue/QueueModel.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QUrl>

#include <cstdio>
#include <vector>

namespace deckrun {

namespace {

Q_LOGGING_CATEGORY(logCommandLine, "deckrun.commandline", QtWarningMsg)

void nameTheProgram()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Orvanta"));
    QCoreApplication::setApplicationName(QStringLiteral("Deckrun"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DECKRUN_VERSION));
}

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Prints many presentation files in one run.\n\n"
                       "The files and folders named are queued as if they had been dropped on the\n"
                       "list: a file as it is, a folder as every file in it and in the folders\n"
                       "below it."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE|FOLDER"),
                                 QStringLiteral("Presentation files, or folders that hold them."),
                                 QStringLiteral("[FILE|FOLDER]..."));
}

QString localPath(const QString &argument)
{
    if (argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(argument);
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    if (argument.isEmpty() || QDir::isAbsolutePath(argument))
        return argument; // as a drop gives it
    return QDir::cleanPath(QDir::current().absoluteFilePath(argument));
}

} // namespace

std::optional<int> AnswerHelpOrVersion(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser look;
    describe(look);
    look.parse(arguments); // an option only the window knows is for later
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
    nameTheProgram();
    QCommandLineParser parser;
    describe(parser);
    parser.process(app); // prints the answer and ends the program with 0
    return 0;
}

QStringList CommandLinePaths(const QStringList &arguments)
{
    nameTheProgram();
    QCommandLineParser parser;
    describe(parser);
    parser.process(arguments); // an unknown option: a message and status 1
    QStringList paths;
    for (const QString &argument : parser.positionalArguments())
        paths << localPath(argument);
    return paths;
}

void OpenCommandLinePaths(Form1 &form, const QStringList &paths)
{
    Platform &p = form.platform();
    QStringList present, missing;
    for (const QString &path : paths)
        (p.files->fileIsPresent(path) ? present : missing) << path;

    AddDroppedItems(form, present);
    const QStringList &rows = form.queue().rows();
    for (qsizetype i = 0; i < rows.size(); ++i)
        qCDebug(logCommandLine).noquote() << "queued" << i + 1 << rows.at(i);

    if (!missing.isEmpty()) {
        for (const QString &path : std::as_const(missing))
            std::fprintf(stderr, "deckrun: not found, not queued: %s\n", qPrintable(path));
        const QString text =
            missing.size() == 1
                ? QStringLiteral(
                      "This file or folder could not be found, so it was not added to the queue:")
                : QStringLiteral("These files or folders could not be found, so they were not "
                                 "added to the queue:");
        try {
            p.dialogs->messageBox(text + QStringLiteral("\r\r") + missing.join(QLatin1Char('\r')),
                                  QString(), Buttons::Ok, Icon::Warning);
        } catch (const std::exception &e) {
            // the message could not be shown; standard error has it
            qCDebug(lcApp) << "the missing paths' message could not be shown:" << e.what();
        }
    }
}

} // namespace deckrun
