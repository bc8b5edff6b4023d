// SPDX-License-Identifier: GPL-3.0-or-later
// Builds the application, the platform services and the main window, and
// queues the files named on the command line; with --print, prints them
// without a window instead.

#include "cli/BatchRun.h"
#include "cli/CommandLine.h"
#include "gui/AddFiles.h"
#include "gui/Application.h"
#include "gui/Form1.h"
#include "platform/Console.h"
#include "platform/Display.h"
#include "platform/Platform.h"

#include <QTimer>
#include <QtGlobal>

#include <cstdio>
#include <optional>

int main(int argc, char *argv[])
{
    deckrun::UseUtf8Console(); // what Deckrun writes to a console is UTF-8
    if (const std::optional<int> answered = deckrun::AnswerHelpOrVersion(argc, argv))
        return *answered;
    if (deckrun::AsksForBatchRun(argc, argv))
        return deckrun::RunBatch(argc, argv);
    // Qt aborts without a display unless a platform of its own is chosen
    // (QT_QPA_PLATFORM=offscreen); say what to do instead.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !deckrun::displayAvailable()) {
        std::fputs("Deckrun needs a graphical display, and none was found (DISPLAY is not set).\n"
                   "Run it on a desktop, or under a virtual display:\n"
                   "    xvfb-run -a ./deckrun.sh\n",
                   stderr);
        return 2;
    }
    deckrun::Application app(argc, argv);
    // Qt has taken its own options out by now; on Windows its arguments come
    // from the wide command line, so no name loses a character to the ANSI code page.
    const QStringList paths = deckrun::CommandLinePaths(QCoreApplication::arguments());

    auto platform = deckrun::makeSystemPlatform();
    deckrun::Form1 form(*platform);
    form.Form_Load();
    form.show();
    // The files named on the command line go in as a drop would, once the
    // window has started and shows.
    if (!paths.isEmpty())
        QTimer::singleShot(0, &form,
                           [&form, paths] { deckrun::OpenCommandLinePaths(form, paths); });
    return app.exec();
}
