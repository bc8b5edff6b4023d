// SPDX-License-Identifier: GPL-3.0-or-later
// Open, print and quit one deck through Deckrun's LibreOffice backend, against
// LibreOffice's own "soffice --headless --pt PRINTER deck" on the same printer,
// each on a seeded profile of its own, alternating, in one run. Prints the
// median of each and their ratio (Deckrun / soffice; the target is <= 1.0).
// Usage: office_bench PRINTER [ROUNDS]   (bench/run-office.sh sets it up)

#ifdef DECKRUN_HAS_UNO

#include "../tests/support/SystemPrinters.h"
#include "core/run/PowerPoint1.h"
#include "platform/uno/OfficeProcess.h"
#include "platform/uno/UnoAutomation.h"

#include "../tests/support/SampleDeck.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace deckrun;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

double deckrunOnce(uno::UnoAutomation &office, const QString &deck, const QString &printer)
{
    QElapsedTimer clock;
    clock.start();
    const bool trace = qEnvironmentVariableIsSet("DECKRUN_BENCH_TRACE");
    auto mark = [&](const char *what) {
        if (trace)
            std::fprintf(stderr, "  %-8s %.3f\n", what, clock.nsecsElapsed() / 1e9);
    };
    std::shared_ptr<PresentationApp> app = office.create();
    mark("start");
    app = OpenPresentation(office, deck);
    mark("open");
    {
        const std::shared_ptr<Presentation> presentation = app->activePresentation();
        app->setActivePrinter(printer);
        presentation->setPrintInBackground(false);
        presentation->printOut();
        mark("print");
        app->quit();
        mark("quit");
    }
    app.reset();
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PRINTER [ROUNDS]\n", argv[0]);
        return 2;
    }
    const QString printer = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    QTemporaryDir work;
    const QString flat =
        test::writeFlatDeck(work.filePath(QStringLiteral("deckrun-bench.fodp")), 3);
    const QString deck =
        test::convertDeck(flat, QStringLiteral("pptx"), work.filePath(QStringLiteral("convert")));
    if (deck.isEmpty()) {
        std::fprintf(stderr, "could not make the sample deck\n");
        return 1;
    }

    uno::UnoOptions options;
    options.profileRoot = work.filePath(QStringLiteral("deckrun"));
    uno::UnoAutomation office(deckrun::test::systemPrinters(), options);

    // The peer gets a profile seeded the same way as Deckrun's own.
    const QString peerRoot = work.filePath(QStringLiteral("peer"));
    QString peerProfile;
    {
        const auto profile = uno::OfficeProfile::acquire(peerRoot);
        profile->seed(
            uno::OfficeInstallation(QStringLiteral("/usr/lib/libreoffice/program")).setupVersion());
        peerProfile = profile->folder();
    }

    std::vector<double> ours, theirs;
    try {
        deckrunOnce(office, deck, printer); // first starts fill the profiles
        test::timedSofficePrint(peerProfile, deck, printer);
        for (int i = 0; i < rounds; ++i) {
            ours.push_back(deckrunOnce(office, deck, printer));
            theirs.push_back(test::timedSofficePrint(peerProfile, deck, printer));
        }
    } catch (const std::exception &f) {
        std::fprintf(stderr, "failed: %s\n", f.what());
        return 1;
    }

    const double a = median(ours), b = median(theirs);
    std::printf("open-print-quit of one 3-slide deck on %s, median of %d rounds\n",
                qPrintable(printer), rounds);
    std::printf("  Deckrun UNO backend      %.3f s\n", a);
    std::printf("  soffice --headless --pt  %.3f s\n", b);
    std::printf("  ratio Deckrun/soffice    %.2f (target <= 1.00)\n", b > 0 ? a / b : 0.0);
    return 0;
}

#else
#include <cstdio>
int main()
{
    std::puts("office_bench: built without the LibreOffice backend");
    return 0;
}
#endif
