// SPDX-License-Identifier: GPL-3.0-or-later
// Builds the application, the platform services and the main window.

#include "app/Application.h"
#include "app/Form1.h"
#include "platform/Display.h"
#include "platform/Platform.h"

#include <QtGlobal>

#include <cstdio>

int main(int argc, char *argv[])
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
    deckrun::Application app(argc, argv);

    auto platform = deckrun::makeSystemPlatform();
    deckrun::Form1 form(*platform);
    form.Form_Load();
    form.show();
    return app.exec();
}
