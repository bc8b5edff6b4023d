// SPDX-License-Identifier: GPL-3.0-or-later
// Print-run benchmarks on the window's real event loop (run by run-printrun.sh):
//
//   printrun_bench wait-cpu [seconds] [spin-seconds]
//       CPU time the process uses while WaitSeconds waits, as a share of one
//       core, against the polling wait that spins (clock read and pump, again
//       and again) measured in the same run.
//   printrun_bench click-latency [files] [idle-seconds]
//       A print run of the simulated application with the real waits; a
//       second thread posts clicks on "Start Printing" at random moments and
//       the time from posting to the click's handler is measured. The same
//       clicks on an idle window are the peer.
//
// Lines beginning with "result" are what the script reads.

#include "core/queue/QueueModel.h"
#include "core/run/PrintRun.h"
#include "gui/Form1.h"
#include "gui/Handlers.h"
#include "platform/Platform.h"
#include "platform/qt/QtServices.h"
#include "support/SimPresentation.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include <time.h>

using namespace deckrun;

namespace {

using Clock = std::chrono::steady_clock;

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/** Message boxes that answer at once, so a run never stops for "Done.". */
class SilentDialogs final : public Dialogs {
public:
    Answer messageBox(const QString &, const QString &, Buttons buttons, Icon) override
    {
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    QString inputBox(const QString &, const QString &, const QString &) override { return {}; }
    FileDialogResult openFiles(const FileDialogRequest &) override { return {}; }
    QString browseForFolder(const QString &, const QString &) override { return {}; }
};

/** The real event loop and clock, the simulated application, settings in a temporary file. */
std::unique_ptr<Platform> benchPlatform(const QTemporaryDir &dir)
{
    auto p = std::make_unique<Platform>();
    p->dialogs = std::make_unique<SilentDialogs>();
    p->settings = std::make_unique<QtSettingsStore>(dir.filePath(QStringLiteral("settings.ini")));
    p->shell = std::make_unique<QtShell>();
    p->events = std::make_unique<QtEventLoop>();
    p->files = makeSystemFileSystem();
    p->printers = std::make_unique<QtPrinters>();
    p->office = std::make_unique<SimAutomation>();
    p->program = std::make_unique<QtProgramControl>(*p->office);
    return p;
}

void prepareWindow(Form1 &form, int files)
{
    form.Combo1->addItem(QStringLiteral("Bench Printer"));
    form.Combo2->addItem(QStringLiteral("0 seconds"));
    for (int k = 1; k <= files; ++k)
        form.queue().append(QStringLiteral("/decks/deck %1.pptx").arg(k));
    form.show();
    QCoreApplication::processEvents();
}

/** The polling wait that never sleeps: the peer of WaitSeconds. */
void spinningWait(double seconds)
{
    const double start = QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
    for (;;) {
        double now = QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
        if (now < start)
            now += 86400.0;
        if (now - start >= seconds)
            return;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

int waitCpu(double seconds, double spinSeconds)
{
    QTemporaryDir dir;
    auto platform = benchPlatform(dir);
    Form1 form(*platform);
    prepareWindow(form, 1);

    auto measure = [](auto &&wait) {
        const double cpu0 = processCpuSeconds();
        const auto wall0 = Clock::now();
        wait();
        return std::pair{processCpuSeconds() - cpu0, secondsSince(wall0)};
    };
    const auto [waitCpuSeconds, waitWall] =
        measure([&] { WaitSeconds(*platform->events, seconds); });
    const auto [spinCpuSeconds, spinWall] = measure([&] { spinningWait(spinSeconds); });
    std::printf("result wait_wall_s %.3f\n", waitWall);
    std::printf("result wait_cpu_s %.4f\n", waitCpuSeconds);
    std::printf("result wait_core_share %.5f\n", waitCpuSeconds / waitWall);
    std::printf("result spin_wall_s %.3f\n", spinWall);
    std::printf("result spin_cpu_s %.4f\n", spinCpuSeconds);
    std::printf("result spin_core_share %.5f\n", spinCpuSeconds / spinWall);
    return 0;
}

void printLatencies(const char *name, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) {
        return ms.empty()
                   ? 0.0
                   : ms[std::min(ms.size() - 1,
                                 static_cast<std::size_t>(q * static_cast<double>(ms.size())))];
    };
    std::printf("result %s_clicks %zu\n", name, ms.size());
    std::printf("result %s_p50_ms %.3f\n", name, at(0.5));
    std::printf("result %s_p95_ms %.3f\n", name, at(0.95));
    std::printf("result %s_max_ms %.3f\n", name, ms.empty() ? 0.0 : ms.back());
}

int clickLatency(int files, double idleSeconds)
{
    QTemporaryDir dir;
    auto platform = benchPlatform(dir);
    Form1 form(*platform);
    prepareWindow(form, files);
    bench::ClickPoster poster(*form.PushButton3, 40, 400);

    // Peer: the same clicks on the idle window, the event loop asleep in exec().
    // The button's own handler would start a run, so it is held off as during one.
    form.IsPrinting = true;
    poster.start(1);
    QEventLoop idle;
    QTimer::singleShot(static_cast<int>(idleSeconds * 1000), &idle, &QEventLoop::quit);
    idle.exec();
    poster.stop();
    form.IsPrinting = false;
    const bench::ClickPoster::Phase idlePhase = poster.take();
    printLatencies("idle", idlePhase.latencies);

    // During a run: clicks on "Start Printing" meet its guard while the run waits.
    poster.start(2);
    const auto wall0 = Clock::now();
    form.PushButton3->click(); // returns when the run has ended
    const double runSeconds = secondsSince(wall0);
    poster.stop();
    std::printf("result run_wall_s %.3f\n", runSeconds);
    std::printf(
        "result run_files_printed %lld\n",
        static_cast<long long>(static_cast<SimAutomation &>(*platform->office).printed().size()));
    const bench::ClickPoster::Phase runPhase = poster.take();
    printLatencies("run", runPhase.latencies);
    std::printf("result clicks_lost %d\n", idlePhase.lost + runPhase.lost);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("wait-cpu"))
        return waitCpu(args.value(2, QStringLiteral("10")).toDouble(),
                       args.value(3, QStringLiteral("2")).toDouble());
    if (mode == QLatin1String("click-latency"))
        return clickLatency(args.value(2, QStringLiteral("3")).toInt(),
                            args.value(3, QStringLiteral("3")).toDouble());
    std::fprintf(stderr, "usage: printrun_bench wait-cpu [seconds] [spin-seconds] | click-latency "
                         "[files] [idle-seconds]\n");
    return 2;
}
