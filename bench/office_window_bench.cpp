// SPDX-License-Identifier: GPL-3.0-or-later
// The window while the real office works (run by run-office-window.sh):
//
//   office_window_bench click-latency PRINTER SAMPLES [ROUNDS]
//       "Start Printing" with the LibreOffice backend on the samples, the
//       fixed waits passing on a clock that jumps, so the run is the office's
//       work; a second thread posts clicks at random moments and the time
//       from posting to the click's handler is measured. The same clicks on
//       the idle window are the peer.
//   office_window_bench close load|pause PRINTER SAMPLES [ROUNDS]
//       Runs this program again as a Deckrun that closes its window in the
//       middle of a load (a deck of many slides) or of a pause, and measures
//       from the close to the end of that process and of its office.
//
// Lines beginning with "result" are what the script reads.

#ifdef DECKRUN_HAS_UNO

#include "../tests/support/SystemPrinters.h"
#include "core/queue/QueueModel.h"
#include "gui/Form1.h"
#include "gui/Handlers.h"
#include "platform/Platform.h"
#include "platform/qt/QtServices.h"
#include "platform/uno/UnoAutomation.h"

#include "../tests/support/SampleDeck.h"
#include "BenchSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
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

/** CLOCK_MONOTONIC in seconds: the same clock in every process of the machine. */
double monotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class SilentDialogs final : public Dialogs {
public:
    Answer messageBox(const QString &text, const QString &, Buttons buttons, Icon) override
    {
        if (text.contains(QLatin1String(" at line ")))
            std::fprintf(stderr, "report: %s\n", qPrintable(text));
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    QString inputBox(const QString &, const QString &, const QString &) override { return {}; }
    FileDialogResult openFiles(const FileDialogRequest &) override { return {}; }
    QString browseForFolder(const QString &, const QString &) override { return {}; }
};

std::unique_ptr<Platform> officePlatform(const QTemporaryDir &dir,
                                         std::unique_ptr<EventLoop> events, uno::UnoOptions options)
{
    auto p = std::make_unique<Platform>();
    p->dialogs = std::make_unique<SilentDialogs>();
    p->settings = std::make_unique<QtSettingsStore>(dir.filePath(QStringLiteral("settings.ini")));
    p->shell = std::make_unique<QtShell>();
    p->events = std::move(events);
    p->files = makeSystemFileSystem();
    p->printers = std::make_unique<QtPrinters>();
    options.profileRoot = dir.filePath(QStringLiteral("office"));
    p->office = std::make_unique<uno::UnoAutomation>(deckrun::test::systemPrinters(), options);
    p->program = std::make_unique<QtProgramControl>(*p->office);
    return p;
}

/** Copies of the samples under the benchmark's own names, so its PDFs can be found. */
QStringList sampleCopies(const QTemporaryDir &dir, const QString &samples)
{
    QStringList decks;
    const QDir from(samples);
    for (const QString &name : from.entryList(QDir::Files, QDir::Name)) {
        const QString copy = dir.filePath(QStringLiteral("deckrun-owbench ") + name);
        if (QFile::copy(from.filePath(name), copy))
            decks << copy;
    }
    return decks;
}

void printSpread(const char *name, std::vector<double> v, const char *unit)
{
    std::sort(v.begin(), v.end());
    auto at = [&](double q) {
        return v.empty() ? 0.0
                         : v[std::min(v.size() - 1,
                                      static_cast<std::size_t>(q * static_cast<double>(v.size())))];
    };
    std::printf("result %s_count %zu\n", name, v.size());
    std::printf("result %s_p50_%s %.3f\n", name, unit, at(0.5));
    std::printf("result %s_p95_%s %.3f\n", name, unit, at(0.95));
    std::printf("result %s_max_%s %.3f\n", name, unit, v.empty() ? 0.0 : v.back());
}

int clickLatency(const QString &printer, const QString &samples, int rounds)
{
    QTemporaryDir dir;
    auto platform = officePlatform(dir, std::make_unique<bench::JumpingClock>(), {});
    Form1 form(*platform);
    bench::showWindowOn(form, printer);
    const QStringList decks = sampleCopies(dir, samples);
    bench::ClickPoster poster(*form.PushButton3, 20, 150);

    // Peer: the same clicks on the idle window, its event loop asleep in exec().
    form.IsPrinting = true; // the button's own handler would start a run
    poster.start(1);
    QEventLoop idle;
    QTimer::singleShot(3000, &idle, &QEventLoop::quit);
    idle.exec();
    poster.stop();
    form.IsPrinting = false;
    printSpread("idle", poster.take().latencies, "ms");

    form.queue().append(decks.first()); // the first start fills the profile; not counted
    form.PushButton3->click();
    form.queue().clear();
    for (int r = 0; r < rounds; ++r)
        form.queue().append(decks);
    poster.start(2);
    const auto wall0 = Clock::now();
    form.PushButton3->click(); // returns when the run has ended
    const double run = std::chrono::duration<double>(Clock::now() - wall0).count();
    poster.stop();
    std::printf("result run_files %lld\n", static_cast<long long>(form.queue().count()));
    std::printf("result run_wall_s %.3f\n", run);
    printSpread("run", poster.take().latencies, "ms");
    return 0;
}

/** The Deckrun that closes its window mid-load or mid-pause; ends by itself (endNow). */
int closeChild(const QString &moment, const QString &printer, const QString &samples)
{
    QTemporaryDir dir;
    QString deck;
    if (moment == QLatin1String("load")) {
        // Thousands of slides: the office takes seconds to load them.
        deck =
            test::writeFlatDeck(dir.filePath(QStringLiteral("deckrun-owbench-large.fodp")), 3000);
    } else {
        deck = sampleCopies(dir, samples).value(0);
    }
    Form1 *window = nullptr;
    uno::UnoOptions options;
    bool armed = false;
    options.beforeCall = [&](const QString &call, long) {
        const bool now = (moment == QLatin1String("load") && call == QLatin1String("load")) ||
                         (moment == QLatin1String("pause") && call == QLatin1String("quit"));
        if (!now || armed)
            return;
        armed = true;
        // In the middle of the load, or of the one-second wait after quitting.
        QTimer::singleShot(moment == QLatin1String("load") ? 400 : 500, window, [&] {
            std::printf("closing %.6f\n", monotonicSeconds());
            std::fflush(stdout);
            window->close();
        });
    };
    auto platform = officePlatform(dir, std::make_unique<QtEventLoop>(), options);
    Form1 form(*platform);
    window = &form;
    bench::showWindowOn(form, printer);
    std::printf("office-root %s\n", qPrintable(dir.filePath(QStringLiteral("office"))));
    std::fflush(stdout);
    form.queue().append(deck);
    form.PushButton3->click();
    std::printf("not closed\n");
    return 1;
}

int closeTimes(const QString &moment, const QString &printer, const QString &samples, int rounds)
{
    std::vector<double> toExit, toOfficeGone;
    int leftOffices = 0;
    for (int r = 0; r < rounds; ++r) {
        QProcess child;
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.setStandardErrorFile(QProcess::nullDevice());
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("close-child"), moment, printer, samples});
        QByteArray out;
        double closing = -1;
        QString root;
        while (child.state() != QProcess::NotRunning || child.bytesAvailable() > 0) {
            child.waitForReadyRead(5);
            out += child.readAllStandardOutput();
            const qsizetype at = out.indexOf("closing ");
            if (root.isEmpty() && out.contains("office-root ")) {
                const qsizetype k = out.indexOf("office-root ") + 12;
                root = QString::fromLocal8Bit(out.mid(k, out.indexOf('\n', k) - k));
            }
            if (at >= 0 && out.indexOf('\n', at) > at) {
                closing = out.mid(at + 8, out.indexOf('\n', at) - at - 8).toDouble();
                break;
            }
            if (child.state() == QProcess::NotRunning)
                break;
        }
        child.waitForFinished(30000);
        const double ended = monotonicSeconds();
        if (closing < 0) {
            std::fprintf(stderr, "round %d: the window was not closed: %s\n", r, out.constData());
            continue;
        }
        toExit.push_back((ended - closing) * 1000.0);
        double gone = ended;
        const auto until = Clock::now() + std::chrono::seconds(5);
        while (!root.isEmpty() && !test::officeProcesses(root).isEmpty() && Clock::now() < until)
            gone = monotonicSeconds();
        if (!root.isEmpty() && !test::officeProcesses(root).isEmpty())
            ++leftOffices;
        toOfficeGone.push_back((std::max(gone, ended) - closing) * 1000.0);
    }
    printSpread("exit", toExit, "ms");
    printSpread("office_gone", toOfficeGone, "ms");
    std::printf("result offices_left %d\n", leftOffices);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("click-latency") && args.size() >= 4)
        return clickLatency(args[2], args[3], args.value(4, QStringLiteral("2")).toInt());
    if (mode == QLatin1String("close") && args.size() >= 5)
        return closeTimes(args[2], args[3], args[4], args.value(5, QStringLiteral("5")).toInt());
    if (mode == QLatin1String("close-child") && args.size() >= 5)
        return closeChild(args[2], args[3], args[4]);
    std::fprintf(stderr, "usage: office_window_bench click-latency PRINTER SAMPLES [ROUNDS] | "
                         "close load|pause PRINTER SAMPLES [ROUNDS]\n");
    return 2;
}

#else
#include <cstdio>
int main()
{
    std::puts("office_window_bench: built without the LibreOffice backend");
    return 0;
}
#endif
