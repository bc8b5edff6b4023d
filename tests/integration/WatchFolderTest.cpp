// SPDX-License-Identifier: GPL-3.0-or-later
// `deckrun --watch FOLDER` as a print server runs it: the real program, the
// real office and the tests' own CUPS PDF printer (scripts/test-printer.sh),
// files dropped by copy, by rename and written slowly, two watchers on one
// folder, and SIGTERM in the middle of a file.

#ifdef DECKRUN_HAS_UNO

#include "support/RunLogLines.h"
#include "support/SampleDeck.h"
#include "support/SystemPrinters.h"
#include "support/TempTree.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

#include <cstring>
#include <cups/cups.h>

#include <functional>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using deckrun::test::TempTree;

namespace {

const QString Program = QStringLiteral(DECKRUN_PROGRAM_DIR "/deckrun");
const QString Samples = QStringLiteral(DECKRUN_PROGRAM_DIR "/Samples/");

/** Polls `done` every 100 ms for up to `milliseconds`; its last answer. */
bool waitUntil(const std::function<bool()> &done, int milliseconds, int every = 100)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QThread::msleep(static_cast<unsigned long>(every));
    }
    return true;
}

/** The name of CUPS job `id`; empty when there is none. */
QString jobName(int id)
{
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr,
                 qPrintable(QStringLiteral("ipp://localhost/jobs/%1").arg(id)));
    // A job's name is its owner's to see.
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    const char *name =
        ippGetString(ippFindAttribute(response, "job-name", IPP_TAG_NAME), 0, nullptr);
    const QString found = name ? QString::fromUtf8(name) : QString();
    ippDelete(response);
    return found;
}

/** The names in `folder` (files only), sorted. */
QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

/** One `deckrun --watch` with a home of its own and no display. */
class Watcher {
public:
    Watcher(const QString &folder, const QStringList &options, const QStringList &environment = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &entry : environment)
            env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("HOME"), home.path());
        for (const char *xdg : {"CONFIG", "CACHE", "DATA", "STATE"})
            env.insert(QStringLiteral("XDG_%1_HOME").arg(QLatin1String(xdg)),
                       home.folder(QString::fromLatin1(xdg).toLower()));
        const QString runtime = home.folder(QStringLiteral("runtime"));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        process.setProcessEnvironment(env);
        // Read from files: the test polls without an event loop to read pipes.
        process.setStandardOutputFile(home.at(QStringLiteral("out")));
        process.setStandardErrorFile(home.at(QStringLiteral("err")));
        process.start(Program, QStringList{"--watch", folder, "--printer",
                                           qEnvironmentVariable("DECKRUN_TEST_PRINTER")} +
                                   options);
        process.waitForStarted(10000);
    }

    ~Watcher()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
    }

    /** What it has written to standard output so far. */
    QString out() const { return written(QStringLiteral("out")); }
    QString err() const { return written(QStringLiteral("err")); }

    /** Sends `signal` and waits for the end; the exit status, -1 when it crashed or hung. */
    int stop(int signal = SIGTERM)
    {
        ::kill(static_cast<pid_t>(process.processId()), signal);
        if (!process.waitForFinished(120000))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QStringList runLog() const
    {
        return deckrun::test::runLogOutcomes(
            home.at(QStringLiteral("state/Orvanta/Deckrun/run-log.jsonl")));
    }

    TempTree home;
    QProcess process;

private:
    QString written(const QString &name) const
    {
        QFile file(home.at(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }
};

class WatchFolder : public testing::Test {
protected:
    void SetUp() override
    {
        printer = deckrun::test::printerUnderTest();
        if (printer.isEmpty())
            GTEST_SKIP() << deckrun::test::NoPrinterUnderTest;
        token = QStringLiteral("watch%1").arg(QCoreApplication::applicationPid());
        folder = drop.folder(QStringLiteral("drop"));
    }

    void TearDown() override
    {
        for (const auto &w : watchers) {
            if (w->process.state() != QProcess::NotRunning)
                w->stop(SIGKILL);
            QStringList left;
            waitUntil(
                [&] {
                    left = deckrun::test::officeProcesses(w->home.path());
                    return left.isEmpty();
                },
                5000);
            EXPECT_TRUE(left.isEmpty()) << left.join(QLatin1Char('\n')).toStdString();
        }
        watchers.clear();
        deckrun::test::removeTestPdfs(token);
    }

    Watcher &watch(const QStringList &options = {"--fast"}, const QStringList &environment = {})
    {
        watchers.push_back(std::make_unique<Watcher>(folder, options, environment));
        return *watchers.back();
    }

    /** A copy of the sample `name` as `as` in the staging folder beside the watched one. */
    QString staged(const QString &name, const QString &as)
    {
        QString path = drop.at(QStringLiteral("staging/") + as);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::copy(Samples + name, path);
        return path;
    }

    /** Moves a staged file into the watched folder in one step, as `mv` does. */
    void dropByRename(const QString &stagedPath)
    {
        ASSERT_TRUE(QFile::rename(stagedPath,
                                  folder + QLatin1Char('/') + QFileInfo(stagedPath).fileName()));
    }

    QString in(const QString &sub) const { return folder + QLatin1Char('/') + sub; }

    /** The test printer's PDFs that carry `text` in their names. */
    QStringList pdfsWith(const QString &text) const
    {
        return QDir(qEnvironmentVariable("DECKRUN_TEST_PDF_DIR"))
            .entryList({QLatin1Char('*') + text + QStringLiteral("*.pdf")}, QDir::Files);
    }

    /** The printer's untitled PDFs made since `since`. */
    static QStringList untitledPdfsSince(const QDateTime &since)
    {
        const QDir pdfs(qEnvironmentVariable("DECKRUN_TEST_PDF_DIR"));
        QStringList found;
        for (const QFileInfo &pdf :
             pdfs.entryInfoList({QStringLiteral("Untitled*.pdf")}, QDir::Files))
            if (pdf.lastModified() >= since)
                found << pdf.fileName();
        return found;
    }

    TempTree drop; // the watched folder and a staging folder on the same file system
    QString folder, printer, token;
    std::vector<std::unique_ptr<Watcher>> watchers;
};

} // namespace

// Files there at the start go oldest first, with the one an ended watcher
// left in Processing/ (what a running watcher holds stays there); files
// copied or moved in later follow; a damaged one goes to Failed/ with its
// report; a name taken in Printed/ or Failed/ gets a number, nothing is overwritten.
TEST_F(WatchFolder, DroppedFilesArePrintedOldestFirstAndMovedOutWithoutOverwriting)
{
    const auto age = [](const QString &path, int minutes) {
        QFile f(path);
        f.open(QIODevice::ReadWrite);
        f.setFileTime(QDateTime::currentDateTime().addSecs(-60LL * minutes),
                      QFileDevice::FileModificationTime);
    };
    QFile::copy(Samples + QStringLiteral("Safety Briefing.pptx"), in(token + "-1 newer.pptx"));
    age(in(token + "-1 newer.pptx"), 10);
    QFile::copy(Samples + QStringLiteral("Quarterly Review.pptx"), in(token + "-2 older.pptx"));
    age(in(token + "-2 older.pptx"), 60);
    drop.file(QStringLiteral("drop/Printed/") + token + "-3 copied.pptx", "yesterday's");
    drop.file(QStringLiteral("drop/") + token + "-notes.txt", "not a deck"); // not *.ppt
    drop.file(QStringLiteral("drop/Failed/") + token + "-5 bad.pptx", "yesterday's");
    const QString orphan = in(QStringLiteral("Processing/ended-1/") + token + "-0 orphan.pptx");
    drop.folder(QStringLiteral("drop/Processing/ended-1"));
    QFile::copy(Samples + QStringLiteral("Quarterly Review.pptx"), orphan);
    age(orphan, 30);
    const QString held = drop.file(QStringLiteral("drop/Processing/running-1/held.pptx"));
    QLockFile running(in(QStringLiteral("Processing/running-1.lock")));
    ASSERT_TRUE(running.tryLock(0));

    const QDateTime started = QDateTime::currentDateTime().addSecs(-1);
    Watcher &w = watch();
    ASSERT_TRUE(waitUntil([&] { return w.out().count(QStringLiteral("Printed: ")) == 3; }, 120000))
        << w.out().toStdString() << w.err().toStdString();
    // A copy (written in place), a damaged deck, and a rename.
    QFile sample(Samples + QStringLiteral("Safety Briefing.pptx"));
    QFile copy(in(token + "-3 copied.pptx"));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly) && copy.open(QIODevice::WriteOnly));
    copy.write(sample.readAll());
    copy.close();
    drop.file(QStringLiteral("drop/") + token + "-5 bad.pptx", QByteArray("PK\x03\x04 junk", 9));
    // A name with a line break in it stays on its one line, escaped.
    dropByRename(staged(QStringLiteral("Team Onboarding.ppt"), token + "-4 re\nnamed.ppt"));
    ASSERT_TRUE(waitUntil(
        [&] {
            return w.out().count(QStringLiteral("Printed: ")) == 5 &&
                   w.out().contains(QStringLiteral("Failed: "));
        },
        120000))
        << w.out().toStdString() << w.err().toStdString();
    EXPECT_EQ(w.stop(), 0) << w.err().toStdString();

    const QStringList out = w.out().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(out.size(), 6);
    EXPECT_EQ(out.mid(0, 6), (QStringList{"Processing: " + token + "-2 older.pptx",
                                          "Printed: Printed/" + token + "-2 older.pptx",
                                          "Processing: " + token + "-0 orphan.pptx",
                                          "Printed: Printed/" + token + "-0 orphan.pptx",
                                          "Processing: " + token + "-1 newer.pptx",
                                          "Printed: Printed/" + token + "-1 newer.pptx"}));
    EXPECT_TRUE(w.err().contains(QStringLiteral("took back \"%1-0 orphan.pptx\", left in "
                                                "Processing/ended-1")
                                     .arg(token)));
    EXPECT_TRUE(out.contains("Processing: " + token + "-4 re\\nnamed.ppt"));
    EXPECT_TRUE(out.contains("Printed: Printed/" + token + "-4 re\\nnamed.ppt"))
        << w.out().toStdString();
    EXPECT_TRUE(out.filter(QStringLiteral("named.ppt")).size() == 2) << "no line of its own";
    EXPECT_TRUE(out.contains("Failed: Failed/" + token +
                             "-5 bad (2).pptx (step 120; the report "
                             "is Failed/" +
                             token + "-5 bad (2).pptx.txt)"))
        << w.out().toStdString();

    EXPECT_EQ(filesIn(in(QStringLiteral("Printed"))),
              (QStringList{token + "-0 orphan.pptx", token + "-1 newer.pptx",
                           token + "-2 older.pptx", token + "-3 copied (2).pptx",
                           token + "-3 copied.pptx", token + "-4 re\nnamed.ppt"}));
    QFile old(in(QStringLiteral("Printed/") + token + "-3 copied.pptx"));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "yesterday's") << "a file already there is never replaced";
    EXPECT_EQ(filesIn(in(QStringLiteral("Failed"))),
              (QStringList{token + "-5 bad (2).pptx", token + "-5 bad (2).pptx.txt",
                           token + "-5 bad.pptx"}));
    QFile report(in(QStringLiteral("Failed/") + token + "-5 bad (2).pptx.txt"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(report.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("the file is damaged or is not a presentation.\n"
                                             "in Tamberlin2021/08/31.Form1.PushButton3_Click at "
                                             "line 120\n")))
        << text.toStdString();

    EXPECT_EQ(filesIn(folder), QStringList{token + "-notes.txt"})
        << "every dropped deck was taken, and nothing else";
    EXPECT_EQ(
        QDir(in(QStringLiteral("Processing"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
        (QStringList{QStringLiteral("running-1"), QStringLiteral("running-1.lock")}))
        << "nothing of its own is left, its lock went with it, and a live claim stays";
    EXPECT_TRUE(QFileInfo::exists(held));
    EXPECT_EQ(w.runLog().size(), 6);
    // The printer names the deck whose name has a line break "Untitled": it
    // is found by its time, and goes with the others.
    EXPECT_TRUE(waitUntil(
        [&] { return pdfsWith(token).size() == 4 && !untitledPdfsSince(started).isEmpty(); },
        60000));
    for (const QString &pdf : untitledPdfsSince(started))
        QFile::remove(QDir(qEnvironmentVariable("DECKRUN_TEST_PDF_DIR")).filePath(pdf));
}

// A file still being written is left alone, however long the writer pauses,
// and printed whole once it is closed.
TEST_F(WatchFolder, AFileBeingWrittenIsTakenOnlyOnceComplete)
{
    QFile sample(Samples + QStringLiteral("Quarterly Review.pptx"));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
    const QByteArray bytes = sample.readAll();
    const QString name = token + QStringLiteral("-slow.pptx");

    Watcher &w = watch();
    ASSERT_TRUE(waitUntil([&] { return w.err().contains(QStringLiteral("watching")); }, 60000));
    QFile slow(in(name));
    ASSERT_TRUE(slow.open(QIODevice::WriteOnly));
    for (int part = 0; part < 3; ++part) {
        slow.write(bytes.mid(part * bytes.size() / 4, bytes.size() / 4));
        slow.flush();
        QThread::msleep(2500); // longer than the watcher waits for a file to settle
        EXPECT_TRUE(QFileInfo::exists(in(name))) << "taken while being written, part " << part;
    }
    slow.write(bytes.mid(3 * (bytes.size() / 4)));
    slow.close();
    ASSERT_TRUE(waitUntil([&] { return w.out().contains(QStringLiteral("Printed: ")); }, 60000))
        << w.out().toStdString() << w.err().toStdString();
    EXPECT_EQ(w.stop(), 0);
    EXPECT_EQ(w.out(), QStringLiteral("Processing: %1\nPrinted: Printed/%1\n").arg(name));
    const QDir pdfFolder(qEnvironmentVariable("DECKRUN_TEST_PDF_DIR"));
    int pages = -1;
    waitUntil(
        [&] {
            const QStringList pdfs = pdfsWith(token);
            pages = pdfs.size() == 1 ? deckrun::test::pdfPages(pdfFolder.filePath(pdfs[0])) : -1;
            return pages > 0;
        },
        60000);
    EXPECT_EQ(pages, 3) << "the whole deck";
}

// Two print servers on one shared folder: every file is printed by one of them, once.
TEST_F(WatchFolder, TwoWatchersOnOneFolderPrintEachOfFiftyFilesOnce)
{
    const QStringList samples{QStringLiteral("Quarterly Review.pptx"),
                              QStringLiteral("Safety Briefing.pptx")};
    QStringList staging;
    for (int k = 1; k <= 50; ++k) {
        const QString &sample = samples[k % samples.size()];
        staging << staged(sample, QStringLiteral("%1-%2.%3")
                                      .arg(token)
                                      .arg(k, 2, 10, QLatin1Char('0'))
                                      .arg(QFileInfo(sample).suffix()));
    }
    Watcher &a = watch();
    Watcher &b = watch();
    ASSERT_TRUE(waitUntil(
        [&] {
            return a.err().contains(QStringLiteral("watching")) &&
                   b.err().contains(QStringLiteral("watching"));
        },
        60000));
    for (const QString &path : std::as_const(staging))
        dropByRename(path);
    ASSERT_TRUE(
        waitUntil([&] { return filesIn(in(QStringLiteral("Printed"))).size() == 50; }, 300000))
        << a.out().toStdString() << b.out().toStdString() << a.err().toStdString()
        << b.err().toStdString();
    EXPECT_EQ(a.stop(), 0);
    EXPECT_EQ(b.stop(), 0);

    QStringList logged = a.runLog() + b.runLog();
    logged.sort();
    QStringList expected;
    for (int k = 1; k <= 50; ++k)
        expected << QStringLiteral("%1-%2.%3 printed on %4")
                        .arg(token)
                        .arg(k, 2, 10, QLatin1Char('0'))
                        .arg(QFileInfo(samples[k % samples.size()]).suffix(), printer);
    EXPECT_EQ(logged, expected) << "each file printed once, by one of the two";
    EXPECT_EQ(filesIn(in(QStringLiteral("Failed"))), QStringList());
    waitUntil([&] { return pdfsWith(token).size() >= 50; }, 60000);
    EXPECT_EQ(pdfsWith(token).size(), 50) << "none printed twice";
}

// SIGTERM in the middle of a file (the window's run, in its wait after the
// open): the file is printed and moved out, then the watcher ends with 0.
TEST_F(WatchFolder, SigtermMidFileEndsTheWatchOnceTheFileIsDone)
{
    Watcher &w = watch({"--pause", "0"});
    ASSERT_TRUE(waitUntil([&] { return w.err().contains(QStringLiteral("watching")); }, 60000));
    const QString name = token + QStringLiteral("-term.pptx");
    dropByRename(staged(QStringLiteral("Quarterly Review.pptx"), name));
    ASSERT_TRUE(waitUntil([&] { return w.out().contains(QStringLiteral("Processing: ")); }, 60000));
    QThread::msleep(300);
    EXPECT_EQ(w.stop(SIGTERM), 0) << w.err().toStdString();
    EXPECT_EQ(w.out(), QStringLiteral("Processing: %1\nPrinted: Printed/%1\n").arg(name));
    EXPECT_TRUE(
        w.err().contains(QStringLiteral("SIGTERM: stopping once the file in hand has ended")))
        << w.err().toStdString();
    EXPECT_EQ(w.runLog(), QStringList{name + QStringLiteral(" printed on ") + printer});
    EXPECT_TRUE(waitUntil([&] { return pdfsWith(token).size() == 1; }, 60000));
    EXPECT_EQ(
        QDir(in(QStringLiteral("Processing"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
        QStringList());
}

// A watched folder removed (a share unmounted, a folder re-created by a
// script) would leave a watcher that never prints again: it ends with status 1,
// so that a service manager starts it again once the folder is back.
TEST_F(WatchFolder, AFolderThatGoesAwayEndsTheWatchWithStatusOne)
{
    Watcher &w = watch();
    ASSERT_TRUE(waitUntil([&] { return w.err().contains(QStringLiteral("watching")); }, 60000));
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(w.process.waitForFinished(10000)) << "still watching a folder that is gone";
    EXPECT_EQ(w.process.exitCode(), 1);
    EXPECT_TRUE(w.err().contains(QStringLiteral("is gone"))) << w.err().toStdString();
}

// Killed the moment its job reached CUPS, before it could note or move the
// file: the next watcher asks CUPS, and the file is printed once, in
// Printed/, with one run log line naming its job.
TEST_F(WatchFolder, KilledOnceItsJobReachedCupsTheFileIsPrintedOnce)
{
    const QDir spool(QStringLiteral("/var/spool/cups"));
    if (!spool.isReadable())
        GTEST_SKIP() << "CUPS's spool folder cannot be read here (it takes root)";
    const auto documents = [&] { return spool.entryList({QStringLiteral("d*-001")}, QDir::Files); };
    const QStringList before = documents();
    Watcher &first = watch();
    ASSERT_TRUE(waitUntil([&] { return first.err().contains(QStringLiteral("watching")); }, 60000));
    // Stopped the moment the scheduler begins to keep a job's document; let
    // go again when that job is another test's.
    const auto pid = static_cast<pid_t>(first.process.processId());
    QStringList seen = before;
    const auto oursStopped = [&] {
        const QStringList now = documents();
        for (const QString &d : now) {
            if (seen.contains(d))
                continue;
            ::kill(pid, SIGSTOP);
            seen << d;
            if (jobName(d.mid(1, 5).toInt()).contains(token))
                return true;
            ::kill(pid, SIGCONT);
        }
        return false;
    };
    // On a busy machine the watcher can finish a file before the poll sees
    // its document: that file is done, and the next one is tried.
    QString name;
    for (int attempt = 1;; ++attempt) {
        name = token + QStringLiteral("-killed%1.pptx").arg(attempt);
        dropByRename(staged(QStringLiteral("Quarterly Review.pptx"), name));
        ASSERT_TRUE(waitUntil(oursStopped, 60000, 1));
        QThread::msleep(200);
        if (!first.out().contains(QStringLiteral("Printed: Printed/") + name))
            break;
        ASSERT_LT(attempt, 5) << "the watcher was never caught between CUPS and its note";
        ::kill(pid, SIGCONT);
    }
    EXPECT_EQ(first.stop(SIGKILL), -1);
    EXPECT_TRUE(first.out().contains(QStringLiteral("Processing: ") + name));

    Watcher &second = watch();
    ASSERT_TRUE(
        waitUntil([&] { return second.out().contains(QStringLiteral("Printed: ")); }, 120000))
        << second.err().toStdString();
    EXPECT_TRUE(filesIn(in(QStringLiteral("Printed"))).contains(name));
    const auto lines = deckrun::test::readRunLog(
        second.home.at(QStringLiteral("state/Orvanta/Deckrun/run-log.jsonl")));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_GT(lines[0][QLatin1String("job")].toInt(), 0);
    // CUPS writes the copy a while after the job ends; a second one would
    // come by soon after the first.
    EXPECT_TRUE(waitUntil([&] { return !pdfsWith(QFileInfo(name).baseName()).isEmpty(); }, 60000));
    QThread::msleep(2000);
    EXPECT_EQ(pdfsWith(QFileInfo(name).baseName()).size(), 1);
}

// Printed while Printed/ cannot be written (made immutable, which binds root
// too): the file stays in Processing/ with a note, every later start is
// refused naming the folder, and once it can be written the file is moved
// there without a second copy.
TEST_F(WatchFolder, APrintedFileThatCannotBeMovedOutIsNeverPrintedAgain)
{
    Watcher &first = watch();
    ASSERT_TRUE(waitUntil([&] { return first.err().contains(QStringLiteral("watching")); }, 60000));
    const QString printed = in(QStringLiteral("Printed"));
    if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), printed}) != 0)
        GTEST_SKIP() << "this file system or user cannot make a folder immutable";
    struct Mutable {
        QString path;
        ~Mutable() { QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path}); }
    } restore{printed};
    const QString name = token + QStringLiteral("-stuck.pptx");
    dropByRename(staged(QStringLiteral("Quarterly Review.pptx"), name));
    ASSERT_TRUE(waitUntil(
        [&] { return first.err().contains(QStringLiteral("could not be moved")); }, 120000))
        << first.out().toStdString() << first.err().toStdString();
    EXPECT_EQ(first.stop(), 0);
    ASSERT_TRUE(waitUntil([&] { return !pdfsWith(QFileInfo(name).baseName()).isEmpty(); }, 60000));

    for (int start = 1; start <= 3; ++start) {
        Watcher &again = watch();
        ASSERT_TRUE(again.process.waitForFinished(60000));
        EXPECT_EQ(again.process.exitCode(), 1) << again.err().toStdString();
        EXPECT_TRUE(again.err().contains(printed)) << again.err().toStdString();
    }
    QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), printed});
    Watcher &last = watch();
    ASSERT_TRUE(waitUntil([&] { return last.out().contains(QStringLiteral("Moved: ")); }, 60000))
        << last.err().toStdString();
    EXPECT_EQ(filesIn(printed), QStringList{name});
    QThread::msleep(2000); // a second copy would have come by now
    EXPECT_EQ(pdfsWith(QFileInfo(name).baseName()).size(), 1);
}

// As a service the watcher tells systemd when it watches, what it did, and
// that its loop turns (Type=notify, WatchdogSec=): without READY=1 systemd
// would never count it started, without WATCHDOG=1 it would restart it.
TEST_F(WatchFolder, TellsTheServiceManagerItIsReadyAndAlive)
{
    TempTree sockets;
    const QByteArray path = QFile::encodeName(sockets.at(QStringLiteral("notify")));
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    QByteArrayList heard;
    const auto listen = [&] {
        char datagram[512];
        for (ssize_t n; (n = ::recv(fd, datagram, sizeof datagram, 0)) > 0;)
            heard << QByteArray(datagram, static_cast<qsizetype>(n));
        return heard.contains("READY=1") && heard.contains("WATCHDOG=1");
    };
    watch({"--fast"}, {QStringLiteral("NOTIFY_SOCKET=") + QString::fromLocal8Bit(path),
                       QStringLiteral("WATCHDOG_USEC=400000")});
    EXPECT_TRUE(waitUntil(listen, 60000)) << heard.join(' ').toStdString();
    EXPECT_TRUE(heard.contains("STATUS=0 printed, 0 failed")) << heard.join(' ').toStdString();
    ::close(fd);
}

#endif
