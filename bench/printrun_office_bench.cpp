// SPDX-License-Identifier: GPL-3.0-or-later
// The per-file cost of a print run beyond its fixed waits: "Start Printing" on
// the real window with the real LibreOffice backend, its waits passing on a
// clock that jumps, so what is timed is the open, print and quit of each file
// through UNO plus the run's own work. The peer is LibreOffice's own
// "soffice --headless --pt PRINTER deck", one invocation per file on a seeded
// profile of its own, on the same files and printer, in the same run.
//
// Usage: printrun_office_bench PRINTER SAMPLES_FOLDER [ROUNDS]
// (bench/run-printrun-office.sh sets it up). Lines beginning with "result" are
// what the script reads.

#ifdef DECKRUN_HAS_UNO

#include "../tests/support/SystemPrinters.h"
#include "core/queue/QueueModel.h"
#include "gui/Form1.h"
#include "gui/Handlers.h"
#include "platform/Platform.h"
#include "platform/qt/QtServices.h"
#include "platform/uno/OfficeProcess.h"
#include "platform/uno/UnoAutomation.h"

#include "../tests/support/SampleDeck.h"
#include "BenchSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace deckrun;

namespace {

/** Message boxes that answer at once and count the error reports. */
class CountingDialogs final : public Dialogs {
public:
    Answer messageBox(const QString &text, const QString &, Buttons buttons, Icon) override
    {
        if (text.contains(QLatin1String(" at line "))) {
            ++reports;
            std::fprintf(stderr, "report: %s\n", qPrintable(text));
        }
        return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    }
    QString inputBox(const QString &, const QString &, const QString &) override { return {}; }
    FileDialogResult openFiles(const FileDialogRequest &) override { return {}; }
    QString browseForFolder(const QString &, const QString &) override { return {}; }
    int reports = 0;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PRINTER SAMPLES_FOLDER [ROUNDS]\n", argv[0]);
        return 2;
    }
    const QString printer = QString::fromLocal8Bit(argv[1]);
    const QDir samples(QString::fromLocal8Bit(argv[2]));
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2;

    // Copies of the samples under the benchmark's own names, so its PDFs can be found.
    QTemporaryDir work;
    QStringList decks;
    for (const QString &name : samples.entryList(QDir::Files, QDir::Name)) {
        const QString copy = work.filePath(QStringLiteral("deckrun-prbench ") + name);
        if (QFile::copy(samples.filePath(name), copy))
            decks << copy;
    }
    if (decks.isEmpty()) {
        std::fprintf(stderr, "no decks in %s\n", argv[2]);
        return 1;
    }

    Platform platform;
    auto dialogs = std::make_unique<CountingDialogs>();
    CountingDialogs &reports = *dialogs;
    auto clock = std::make_unique<bench::JumpingClock>();
    bench::JumpingClock &waits = *clock;
    uno::UnoOptions options;
    options.profileRoot = work.filePath(QStringLiteral("deckrun"));
    platform.dialogs = std::move(dialogs);
    platform.settings =
        std::make_unique<QtSettingsStore>(work.filePath(QStringLiteral("settings.ini")));
    platform.shell = std::make_unique<QtShell>();
    platform.events = std::move(clock);
    platform.files = makeSystemFileSystem();
    platform.printers = std::make_unique<QtPrinters>();
    platform.office =
        std::make_unique<uno::UnoAutomation>(deckrun::test::systemPrinters(), options);
    platform.program = std::make_unique<QtProgramControl>(*platform.office);

    Form1 form(platform);
    bench::showWindowOn(form, printer);

    // The peer gets a profile seeded the same way as Deckrun's own.
    QString peerProfile;
    {
        const auto profile = uno::OfficeProfile::acquire(work.filePath(QStringLiteral("peer")));
        profile->seed(
            uno::OfficeInstallation(QStringLiteral("/usr/lib/libreoffice/program")).setupVersion());
        peerProfile = profile->folder();
    }

    auto runOnce = [&](const QStringList &queue) {
        form.queue().clear();
        form.queue().append(queue);
        QElapsedTimer timer;
        timer.start();
        PushButton3_Click(form);
        return timer.nsecsElapsed() / 1e9;
    };

    double ours = 0.0, theirs = 0.0, waited = 0.0;
    int files = 0;
    try {
        // First starts fill the profiles; they are not counted.
        runOnce({decks.first()});
        test::timedSofficePrint(peerProfile, decks.first(), printer);
        const double waitedBefore = waits.waited;
        // The two take turns at going first, so a drift in the machine's load hits both alike.
        for (int round = 0; round < rounds; ++round) {
            if (round % 2 == 0)
                ours += runOnce(decks);
            for (const QString &deck : decks)
                theirs += test::timedSofficePrint(peerProfile, deck, printer);
            if (round % 2 == 1)
                ours += runOnce(decks);
            files += static_cast<int>(decks.size());
        }
        waited = waits.waited - waitedBefore;
    } catch (const std::exception &f) {
        std::fprintf(stderr, "failed: %s\n", f.what());
        return 1;
    }
    if (reports.reports > 0) {
        std::fprintf(stderr, "the print run reported %d failures\n", reports.reports);
        return 1;
    }

    std::printf("result files %d\n", files);
    std::printf("result decks %lld\n", static_cast<long long>(decks.size()));
    std::printf("result skipped_waits_s %.1f\n", waited);
    std::printf("result deckrun_total_s %.3f\n", ours);
    std::printf("result soffice_total_s %.3f\n", theirs);
    std::printf("result deckrun_per_file_s %.3f\n", ours / files);
    std::printf("result soffice_per_file_s %.3f\n", theirs / files);
    std::printf("result ratio %.3f\n", theirs > 0 ? ours / theirs : 0.0);
    return 0;
}

#else
#include <cstdio>
int main()
{
    std::puts("printrun_office_bench: built without the LibreOffice backend");
    return 0;
}
#endif
