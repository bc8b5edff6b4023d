// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the command line once and does what it asks: answers --help or
// --version, runs without a window (--print, --watch), or builds the
// application, the platform services and the main window and queues the
// files it names.

#include "cli/BatchRun.h"
#include "cli/CommandLine.h"
#include "gui/AddFiles.h"
#include "gui/Application.h"
#include "gui/Form1.h"
#include "gui/WindowHandover.h"
#include "platform/Console.h"
#include "platform/Display.h"
#include "platform/Platform.h"

#include <QTimer>
#include <QtGlobal>

#include <cstdio>
#include <variant>

namespace {

int runWindow(int argc, char *argv[], const QStringList &paths)
{
    // Qt aborts without a display unless a platform of its own is chosen
    // (QT_QPA_PLATFORM=offscreen); say what to do instead.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !deckrun::displayAvailable()) {
        std::fputs("Deckrun needs a graphical display, and none was found (DISPLAY is not set).\n"
                   "Run it on a desktop, or under a virtual display:\n"
                   "    xvfb-run -a ./deckrun.sh\n",
                   stderr);
        return 2;
    }
    deckrun::Application app(argc, argv); // takes Qt's own options (-style, ...) itself
    deckrun::nameTheProgram();
    // A window that runs already takes the files ("Open with" on one more).
    deckrun::WindowHandover handover;
    if (handover.handOverOrListen(paths) == deckrun::WindowHandover::Outcome::HandedOver)
        return 0;
    auto platform = deckrun::makeSystemPlatform();
    deckrun::Form1 form(*platform);
    form.Form_Load();
    form.show();
    // The files named on the command line go in as a drop would, once the
    // window has started and shows; so do those of later starts.
    if (!paths.isEmpty())
        QTimer::singleShot(0, &form,
                           [&form, paths] { deckrun::openCommandLinePaths(form, paths); });
    QObject::connect(&handover, &deckrun::WindowHandover::filesArrived, &form,
                     [&form](const QStringList &later) {
                         deckrun::openCommandLinePaths(form, later);
                         form.activateWindow();
                         form.raise();
                     });
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    deckrun::useUtf8Console(); // what Deckrun writes to a console is UTF-8
    const auto read = deckrun::readCommandLine(deckrun::programArguments(argc, argv),
                                               deckrun::undecodableArguments(argc, argv));
    if (const int *status = std::get_if<int>(&read))
        return *status;
    const deckrun::CommandLine &line = std::get<deckrun::CommandLine>(read);
    switch (line.mode) {
    case deckrun::RunMode::Help:
    case deckrun::RunMode::Version:
        return deckrun::answerHelpOrVersion(line.mode);
    case deckrun::RunMode::Print:
    case deckrun::RunMode::Watch:
        return deckrun::runWithoutWindow(argc, argv, line);
    case deckrun::RunMode::Window:
        break;
    }
    return runWindow(argc, argv, line.paths);
}
