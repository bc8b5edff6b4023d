// SPDX-License-Identifier: GPL-3.0-or-later
// Builds the application, the platform services and the main window.

#include "app/Application.h"
#include "app/Form1.h"
#include "platform/Platform.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Qt aborts without a display; say what to do instead.
bool displayAvailable()
{
    if (std::getenv("QT_QPA_PLATFORM"))
        return true;
#if defined(Q_OS_LINUX) || defined(Q_OS_FREEBSD)
    const char *x = std::getenv("DISPLAY");
    const char *w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
#else
    return true;
#endif
}

} // namespace

int main(int argc, char *argv[])
{
    if (!displayAvailable()) {
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
