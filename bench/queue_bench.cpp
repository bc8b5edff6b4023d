// SPDX-License-Identifier: GPL-3.0-or-later
// Queue and folder-walker benchmark; bench/run-queue.sh drives it and prints
// the ratios against `find` on the same tree.
//
//   queue_bench tree DIR            build 100,000 files in 5,000 folders under DIR
//   queue_bench walk DIR EXT RUNS [PEER...]
//                                   "Add All File(s) In Folder" on DIR with EXT, best of RUNS;
//                                   the peer command (find) takes turns with it
//   queue_bench rows                100,000 appends, 1,000 ListContains on 100,000 rows

#include "core/queue/QueueModel.h"
#include "gui/Form1.h"
#include "gui/Handlers.h"
#include "platform/Platform.h"
#include "platform/qt/QtServices.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <deque>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

using namespace deckrun;

namespace {

class BenchDialogs final : public Dialogs {
public:
    Answer messageBox(const QString &text, const QString &, Buttons, Icon) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return Answer::Ok;
    }
    QString inputBox(const QString &, const QString &, const QString &) override
    {
        return extension;
    }
    FileDialogResult openFiles(const FileDialogRequest &) override { return {}; }
    QString browseForFolder(const QString &, const QString &) override { return folder; }
    QString extension, folder;
};

class MemoryStore final : public SettingsStore {
public:
    QString read(const QString &, const QString &d) override { return d; }
    void write(const QString &, const QString &) override {}
};

class CountingEvents final : public EventLoop {
public:
    void pumpEvents() override
    {
        ++pumps;
        if (realPumps)
            m_real.pumpEvents();
    }
    double secondsSinceMidnight() override { return m_real.secondsSinceMidnight(); }
    void sleepForEvents(double s) override { m_real.sleepForEvents(s); }
    double randomNumber() override { return 0.5; }
    long pumps = 0;
    bool realPumps = true;

private:
    QtEventLoop m_real;
};

class BenchProgram final : public ProgramControl {
public:
    QString programFolder() override { return QDir::tempPath(); }
    [[noreturn]] void endNow() override { std::exit(0); }
};

struct BenchPlatform {
    BenchPlatform()
    {
        auto d = std::make_unique<BenchDialogs>();
        auto e = std::make_unique<CountingEvents>();
        dialogs = d.get();
        events = e.get();
        platform.dialogs = std::move(d);
        platform.settings = std::make_unique<MemoryStore>();
        platform.shell = std::make_unique<QtShell>();
        platform.events = std::move(e);
        platform.files = makeSystemFileSystem();
        platform.printers = std::make_unique<QtPrinters>();
        platform.program = std::make_unique<BenchProgram>();
    }
    Platform platform;
    BenchDialogs *dialogs;
    CountingEvents *events;
};

long peakKiB()
{
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Cpu {
    double user, system;
};

// The process's CPU time so far, in user space and in the kernel.
Cpu cpuSeconds()
{
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto secs = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return {secs(usage.ru_utime), secs(usage.ru_stime)};
}

int makeTree(const QString &root)
{
    // 10 folders at depth 1, 100 at depth 2, 1,000 at depth 3, 3,890 at depth 4:
    // 5,000 folders with 20 files each; every tenth file is a presentation.
    QStringList folders;
    QStringList level{root};
    const int perLevel[] = {10, 10, 10};
    for (int fan : perLevel) {
        QStringList next;
        for (const QString &parent : level)
            for (int i = 0; i < fan; ++i)
                next << parent + QStringLiteral("/dir%1").arg(i);
        folders << next;
        level = next;
    }
    for (int i = 0; folders.size() < 5000; ++i)
        folders << level.at(i % level.size()) + QStringLiteral("/leaf%1").arg(i / level.size());
    const char *other[] = {"txt", "odt", "pdf", "docx", "png", "csv", "md", "xlsx", "jpg"};
    int n = 0;
    for (const QString &f : folders) {
        QDir().mkpath(f);
        for (int i = 0; i < 20; ++i, ++n) {
            const QString ext = n % 10 == 0
                                    ? (n % 20 == 0 ? QStringLiteral("pptx") : QStringLiteral("ppt"))
                                    : QLatin1String(other[n % 9]);
            QFile file(f + QStringLiteral("/file %1.%2").arg(n).arg(ext));
            if (!file.open(QIODevice::WriteOnly))
                return 1;
        }
    }
    std::printf("tree: %lld folders, %d files\n", static_cast<long long>(folders.size()), n);
    return 0;
}

// Runs the peer command once, its output discarded; its wall time in seconds.
double timePeer(const QStringList &peer)
{
    std::vector<QByteArray> bytes;
    for (const QString &a : peer)
        bytes.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    QElapsedTimer t;
    t.start();
    pid_t pid = 0;
    double s = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        s = t.nsecsElapsed() / 1e9;
    }
    posix_spawn_file_actions_destroy(&actions);
    return s;
}

int walk(const QString &dir, const QString &extension, int runs, const QStringList &peer)
{
    double best = 1e9, total = 0, bestUser = 0, bestSystem = 0, peerBest = 1e9;
    int rows = 0;
    long pumps = 0;
    for (int run = 0; run < runs; ++run) {
        // The peer takes its turn right before each walk, so that both meet
        // the same load on a shared machine.
        if (!peer.isEmpty())
            peerBest = std::min(peerBest, timePeer(peer));
        BenchPlatform bench;
        bench.dialogs->extension = extension;
        bench.dialogs->folder = dir;
        bench.events->realPumps = !std::getenv("QUEUE_BENCH_NO_PUMP");
        Form1 form(bench.platform);
        form.show();
        // The window is on the screen before the button is pressed, as it is
        // for a user: its first painting is not part of adding the tree.
        QCoreApplication::processEvents();
        const Cpu before = cpuSeconds();
        QElapsedTimer t;
        t.start();
        PushButton2_Click(form);
        const double s = t.nsecsElapsed() / 1e9;
        const Cpu after = cpuSeconds();
        if (s < best) {
            bestUser = after.user - before.user;
            bestSystem = after.system - before.system;
        }
        best = std::min(best, s);
        total += s;
        rows = form.queue().count();
        pumps = bench.events->pumps;
    }
    std::printf("walk %s: best %.4f s (user %.4f s, system %.4f s) mean %.4f s rows %d pumps %ld "
                "peak %ld KiB\n",
                qPrintable(extension), best, bestUser, bestSystem, total / runs, rows, pumps,
                peakKiB());
    if (!peer.isEmpty())
        std::printf("peer %s: best %.4f s\n", qPrintable(peer.join(QLatin1Char(' '))), peerBest);
    return 0;
}

int rows()
{
    BenchPlatform bench;
    Form1 form(bench.platform);
    form.show();
    QStringList paths;
    paths.reserve(100000);
    for (int i = 0; i < 100000; ++i)
        paths << QStringLiteral("/home/user/Presentations/Quarter %1/Review deck %2.pptx")
                     .arg(i % 97)
                     .arg(i);
    QueueModel &queue = form.queue();
    QElapsedTimer t;
    t.start();
    for (const QString &p : std::as_const(paths))
        queue.append(p);
    const double append = t.nsecsElapsed() / 1e9;
    QCoreApplication::processEvents(); // the view lays the rows out once
    t.restart();
    int hits = 0;
    for (int i = 0; i < 1000; ++i) {
        const QString probe = i % 2 ? paths.at(99999 - i) : paths.at(i) + QStringLiteral("x");
        hits += ListContains(queue, probe) ? 1 : 0;
    }
    const double contains = t.nsecsElapsed() / 1e9;
    // The plain scan the look-ups replace, measured on the same rows for comparison.
    t.restart();
    int scanHits = 0;
    for (int i = 0; i < 1000; ++i) {
        const QString probe = i % 2 ? paths.at(99999 - i) : paths.at(i) + QStringLiteral("x");
        scanHits += queue.rows().contains(probe) ? 1 : 0;
    }
    const double scan = t.nsecsElapsed() / 1e9;
    std::printf("append 100000: %.4f s\nListContains x1000: %.4f s (hits %d)\nlinear scan x1000: "
                "%.4f s (hits %d)\n"
                "peak %ld KiB\n",
                append, contains, hits, scan, scanHits, peakKiB());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("tree"))
        return makeTree(args[2]);
    if (args.size() >= 4 && args[1] == QLatin1String("walk"))
        return walk(args[2], args[3], args.size() >= 5 ? args[4].toInt() : 3, args.mid(5));
    if (args.size() >= 2 && args[1] == QLatin1String("rows"))
        return rows();
    std::fprintf(stderr,
                 "usage: queue_bench tree DIR | walk DIR EXT [RUNS [PEER COMMAND...]] | rows\n");
    return 2;
}
