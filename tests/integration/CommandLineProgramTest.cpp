// SPDX-License-Identifier: GPL-3.0-or-later
// The real program, started the way a file manager's "Open With Deckrun", a
// terminal or a script starts it: `deckrun --help` answers without a window,
// `deckrun FILE FILE FILE` opens the window with the three files queued, and
// `deckrun --print ...` prints without a window or a display.

#include "support/RunLogLines.h"
#include "support/SystemPrinters.h"
#include "support/TempTree.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <map>
#include <utility>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using deckrun::test::TempTree;

namespace {

const QString Program = QStringLiteral(DECKRUN_PROGRAM_DIR "/deckrun");

/** An environment whose home, settings and caches lie in `home`, never the user's own. */
QProcessEnvironment isolated(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/state"));
    return env;
}

/** The same without any display: what a print server or a script over ssh has. */
QProcessEnvironment withoutDisplay(const QString &home)
{
    QProcessEnvironment env = isolated(home);
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    return env;
}

/** The run log of the program started with `home` as its home. */
QString runLogIn(const QString &home)
{
    return home + QStringLiteral("/state/Orvanta/Deckrun/run-log.jsonl");
}

/** The run log of the program started with `home` as its home, a line each (see runLogOutcomes). */
QStringList runLogOutcomesIn(const QString &home)
{
    return deckrun::test::runLogOutcomes(runLogIn(home));
}

struct Finished {
    int exitCode = -1;
    bool crashed = true; // ended by a signal
    QString out, err;
};

/**
 * Runs the program (or `through`, such as a shell that starts it) to its end,
 * two minutes at most; `during` acts while it runs.
 */
Finished runToEnd(const QProcessEnvironment &env, const QStringList &arguments,
                  const std::function<void(QProcess &)> &during = {},
                  const QString &through = Program)
{
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(through, arguments);
    Finished f;
    if (!program.waitForStarted(10000))
        return f;
    if (during)
        during(program);
    if (!program.waitForFinished(120000)) {
        program.kill();
        program.waitForFinished(10000);
    }
    f.exitCode = program.exitCode();
    f.crashed = program.exitStatus() == QProcess::CrashExit;
    f.out = QString::fromLocal8Bit(program.readAllStandardOutput());
    f.err = QString::fromLocal8Bit(program.readAllStandardError());
    return f;
}

/** Processes still mentioning `text` after up to five seconds; those are then killed. */
QStringList leftRunning(const QString &text);

/** The processes whose command line mentions `text` (the office Deckrun started, by its profile).
 */
QStringList processesMentioning(const QString &text)
{
    QProcess pgrep;
    pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-f"), text});
    pgrep.waitForFinished(10000);
    return QString::fromLocal8Bit(pgrep.readAllStandardOutput())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList leftRunning(const QString &text)
{
    QStringList left;
    for (int i = 0; i < 50; ++i) {
        left = processesMentioning(text);
        if (left.isEmpty())
            break;
        QThread::msleep(100);
    }
    for (const QString &pid : std::as_const(left))
        QProcess::execute(QStringLiteral("kill"), {QStringLiteral("-9"), pid});
    return left;
}

} // namespace

namespace {
struct AnswerCase {
    const char *name;
    const char *option;
    const char *answer; // how standard output begins
    friend void PrintTo(const AnswerCase &row, std::ostream *os) { *os << row.name; }
};
class AnswersWithoutAWindow : public testing::TestWithParam<AnswerCase> {};
} // namespace

TEST_P(AnswersWithoutAWindow, OnStandardOutputAlone)
{
    const AnswerCase &c = GetParam();
    TempTree home;
    // No display at all: a window could not even be tried without saying so.
    const Finished f = runToEnd(withoutDisplay(home.path()), {QLatin1String(c.option)});
    EXPECT_FALSE(f.crashed);
    EXPECT_EQ(f.exitCode, 0);
    EXPECT_TRUE(f.out.startsWith(QLatin1String(c.answer))) << f.out.toStdString();
    EXPECT_EQ(f.err, QString());
}

INSTANTIATE_TEST_SUITE_P(
    CommandLineProgram, AnswersWithoutAWindow,
    testing::Values(AnswerCase{"Help", "--help", "Usage: deckrun [options] [FILE|FOLDER]..."},
                    AnswerCase{"ShortHelp", "-h", "Usage: deckrun [options] [FILE|FOLDER]..."},
                    AnswerCase{"Version", "--version", "Deckrun 1.0.0"}),
    [](const testing::TestParamInfo<AnswerCase> &row) { return std::string(row.param.name); });

#ifdef DECKRUN_HAS_UNO
// Selecting three decks and choosing "Open With Deckrun": the file manager
// starts `deckrun %F` with the three paths, and all three are queued.
TEST(CommandLineProgram, ThreeDecksFromAFileManagerAreQueued)
{
    TempTree home;
    TempTree decks;
    const QStringList paths{decks.file(QStringLiteral("Quarterly Review.pptx")),
                            decks.file(QStringLiteral("team/Onboarding.ppt")),
                            decks.file(QStringLiteral("Roadmap.odp"))};
    QProcess program;
    QProcessEnvironment env = isolated(home.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // What the queue holds, told on standard error by the program's own log.
    env.insert(QStringLiteral("QT_LOGGING_RULES"),
               QStringLiteral("deckrun.commandline.debug=true"));
    program.setProcessEnvironment(env);
    program.start(Program, paths);
    ASSERT_TRUE(program.waitForStarted(10000));

    QString log;
    QElapsedTimer clock;
    clock.start();
    while (!log.contains(QLatin1String("queued 3 ")) && program.state() == QProcess::Running &&
           clock.elapsed() < 120000) {
        program.waitForReadyRead(500);
        log += QString::fromLocal8Bit(program.readAllStandardError());
    }
    const bool stillRunning = program.state() == QProcess::Running;
    program.terminate(); // what ending the session does
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished(10000);
    }
    log += QString::fromLocal8Bit(program.readAllStandardError());

    EXPECT_TRUE(stillRunning) << "the program ended before the window was up:\n"
                              << log.toStdString();
    QStringList queued;
    for (const QString &line : log.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("deckrun.commandline: queued ")))
            queued << line.section(QLatin1Char(' '), 3);
    EXPECT_EQ(queued, paths) << log.toStdString();

    // The office Deckrun started for its start-up check went with it.
    const QStringList left = leftRunning(home.path());
    EXPECT_TRUE(left.isEmpty()) << "processes left behind: "
                                << left.join(QLatin1Char(' ')).toStdString();
}
#endif

// What cannot be run is refused before anything prints, and says why.
TEST(CommandLineProgram, BatchRefusesBadArgumentsBeforePrinting)
{
    TempTree home;
    const QString deck = home.file(QStringLiteral("a.ppt"));
    const struct {
        QStringList arguments;
        int status;
        const char *said;
        bool display = false;
        bool home = true;
    } cases[] = {
        {{"--print"}, 2, "deckrun: --print needs the files or folders to print."},
        {{"--print", "--pause", "12", deck},
         2,
         "deckrun: --pause takes one digit, 0 to 9, not \"12\"."},
        {{"--print", "--pause=x", deck}, 2, "deckrun: --pause takes one digit, 0 to 9, not \"x\"."},
        {{"--print", "--printer", "No Such Printer", deck},
         2,
         "deckrun: there is no printer named \"No Such Printer\"; nothing was printed."},
        {{"--print", "--printer=", deck}, 2, "deckrun: --printer needs a printer's name."},
        {{"--print", "--extension=", deck}, 2, "deckrun: --extension needs an extension"},
        {{"--print", "--colour", deck}, 2, "deckrun: Unknown option 'colour'."},
        // Patterns the window takes as typed, and finds (almost) nothing with.
        {{"--print", "--extension", ".ppt", deck},
         2,
         "deckrun: --extension takes the extension without its dot, not \".ppt\": --extension "
         "ppt.\n"},
        {{"--print", "--extension", "*.*", deck},
         2,
         "deckrun: --extension takes the extension alone, not \"*.*\": * for every file, ppt "
         "for *.ppt.\n"},
        // A name that looks like an option is one unknown option, never -h among others.
        {{"--print", "-dash.pptx"},
         2,
         "deckrun: Unknown option 'dash.pptx'.\ndeckrun: a file or folder whose name begins "
         "with \"-\" goes after \"--\": deckrun ... -- -dash.pptx\n"},
        {{"-dash.pptx"},
         2,
         "deckrun: Unknown option 'dash.pptx'.\ndeckrun: a file or folder whose name begins "
         "with \"-\" goes after \"--\"",
         true},
        // A service without a home would keep its state under "/".
        {{"--print", deck}, 2, "deckrun: HOME is not set; Deckrun keeps", false, false},
        {{"--watch", home.at(QStringLiteral("none"))}, 2, "deckrun: there is no folder"},
        {{"--watch", home.path(), deck}, 2, "deckrun: --watch takes one folder, and no"},
        // How each deck prints: a value it does not take names the option and what it takes.
        {{"--print", "--layout", "handouts-5", deck},
         2,
         "deckrun: --layout takes slides, handouts-1, handouts-2, handouts-3, handouts-4, "
         "handouts-6, handouts-9, notes or outline, not \"handouts-5\".\n"},
        {{"--print", "--frame=maybe", deck}, 2, "deckrun: --frame takes yes or no, not \"maybe\"."},
        {{"--print", "--copies", "0", deck}, 2, "deckrun: --copies takes a number, 1 to 999"},
        {{"--print", "--slides", "3-1", deck}, 2, "deckrun: --slides takes slide numbers"},
        {{"--print", "--hidden-slides", "maybe", deck}, 2, "deckrun: --hidden-slides takes yes"},
        // The batch options mean nothing to the window.
        {{"--yes", deck}, 1, "deckrun: --yes goes with --print.", true},
    };
    for (const auto &c : cases) {
        const std::string row = c.arguments.join(QLatin1Char(' ')).toStdString();
        QProcessEnvironment env = withoutDisplay(home.path());
        if (c.display)
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (!c.home)
            env.remove(QStringLiteral("HOME"));
        const Finished f = runToEnd(env, c.arguments);
        EXPECT_FALSE(f.crashed) << row;
        EXPECT_EQ(f.exitCode, c.status) << row << f.err.toStdString();
        EXPECT_TRUE(f.err.startsWith(QString::fromUtf8(c.said))) << row << f.err.toStdString();
        EXPECT_EQ(f.out, QString()) << row;
        EXPECT_FALSE(QFile::exists(runLogIn(home.path()))) << row << ": nothing was run";
    }
}

#ifdef DECKRUN_HAS_UNO
namespace {

/** The PDFs of the tests' printer whose names carry `token`, once `count` have come (or a minute
 * passed). */
QStringList pdfsWith(const QString &token, int count)
{
    const QDir dir(qEnvironmentVariable("DECKRUN_TEST_PDF_DIR"));
    QStringList found;
    QElapsedTimer clock;
    clock.start();
    do {
        found = dir.entryList({QLatin1Char('*') + token + QStringLiteral("*.pdf")}, QDir::Files);
        if (found.size() >= count)
            break;
        QThread::msleep(200);
    } while (clock.elapsed() < 60000);
    return found;
}

class BatchPrinting : public testing::Test {
protected:
    void SetUp() override
    {
        printer = deckrun::test::printerUnderTest();
        if (printer.isEmpty())
            GTEST_SKIP() << deckrun::test::NoPrinterUnderTest;
        token = QStringLiteral("batch%1").arg(QCoreApplication::applicationPid());
    }

    void TearDown() override
    {
        const QStringList left = leftRunning(home.path());
        EXPECT_TRUE(left.isEmpty())
            << "offices left behind: " << left.join(QLatin1Char(' ')).toStdString();
        deckrun::test::removeTestPdfs(token);
    }

    /** A copy of the bundled sample `name` in the decks folder, as `as`. */
    QString sample(const QString &name, const QString &as)
    {
        const QString path = decks.at(as);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::copy(QStringLiteral(DECKRUN_PROGRAM_DIR "/Samples/") + name, path);
        return path;
    }

    TempTree home, decks;
    QString printer, token;
};

} // namespace

// The samples, printed from a script on a machine without a display.
TEST_F(BatchPrinting, TheSamplesPrintAndEveryFileIsLogged)
{
    const QStringList samples =
        QDir(QStringLiteral(DECKRUN_PROGRAM_DIR "/Samples")).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(samples.size(), 4);
    QStringList paths, expectedOut, expectedLog;
    for (int i = 0; i < samples.size(); ++i) {
        const QString as = token + QLatin1Char(' ') + samples[i];
        paths << sample(samples[i], as);
        expectedOut << QStringLiteral("Processing: %1 (%2 of 4)").arg(as).arg(i + 1);
        expectedLog << as + QStringLiteral(" printed on ") + printer;
    }
    expectedOut << QStringLiteral("Done.");

    const Finished f =
        runToEnd(withoutDisplay(home.path()),
                 QStringList{"--print", "--printer", printer, "--pause", "0"} + paths);
    EXPECT_FALSE(f.crashed);
    EXPECT_EQ(f.exitCode, 0) << f.err.toStdString();
    EXPECT_EQ(f.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts), expectedOut)
        << f.out.toStdString();
    EXPECT_EQ(f.err, QString());
    EXPECT_EQ(runLogOutcomesIn(home.path()), expectedLog)
        << runLogOutcomesIn(home.path()).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(pdfsWith(token, 4).size(), 4);
}

// A folder walked for one extension, with a damaged deck in it, on the
// printer chosen in the window: the good one prints, the damaged one is
// reported in full and logged with its step.
TEST_F(BatchPrinting, ADamagedDeckIsReportedAndLoggedAndTheStatusSaysSo)
{
    const QString good = token + QStringLiteral("-good.pptx"); // the PDF carries the deck's name
    sample(QStringLiteral("Quarterly Review.pptx"), token + QLatin1Char('/') + good);
    decks.file(token + QStringLiteral("/below/damaged.pptx"), QByteArray("PK\x03\x04 not a deck"));
    sample(QStringLiteral("Product Roadmap.odp"),
           token + QStringLiteral("/other.odp")); // not walked

    // No --printer and no --pause: the choices stored by the window hold.
    home.file(QStringLiteral("config/Orvanta/Deckrun.conf"),
              "[Deckrun]\nPrinterName=" + printer.toUtf8() + "\nCombo1=99\nCombo2=0\n");
    const Finished f =
        runToEnd(withoutDisplay(home.path()), {"--print", "--extension", "pptx", decks.at(token)});
    EXPECT_FALSE(f.crashed);
    EXPECT_EQ(f.exitCode, 1) << f.err.toStdString();
    EXPECT_EQ(f.out, QStringLiteral("Processing: %1 (1 of 2)\n"
                                    "Processing: damaged.pptx (2 of 2)\n"
                                    "Done.\n")
                         .arg(good))
        << f.out.toStdString();
    const QString damaged = decks.at(token + QStringLiteral("/below/damaged.pptx"));
    const QString opening = QStringLiteral("LibreOffice Impress could not open \"%1\": the file "
                                           "is damaged or is not a presentation.")
                                .arg(damaged);
    EXPECT_TRUE(f.err.startsWith(opening + QStringLiteral("\nin Tamberlin2021/08/31.Form1."
                                                          "PushButton3_Click at line 120\n\n"
                                                          "Please email screenshot of this "
                                                          "message to ")))
        << f.err.toStdString();
    EXPECT_EQ(runLogOutcomesIn(home.path()),
              (QStringList{good + QStringLiteral(" printed on ") + printer,
                           QStringLiteral("damaged.pptx failed 120: ") + opening +
                               QStringLiteral(" on ") + printer}))
        << runLogOutcomesIn(home.path()).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(pdfsWith(token, 1).size(), 1);
}

// Nothing is passed over in silence: a name that is no text, given or found
// in a folder, is named on standard error; a pipe fails at step 120 in plain
// words; a control character in a name stays on its one progress line.
TEST_F(BatchPrinting, WhatCannotBePrintedIsNamedAndTheStatusSaysSo)
{
    const QString pipe = decks.at(token + QStringLiteral("-pipe\n1.pptx"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
    const QString folder = decks.folder(token + QStringLiteral("-folder"));
    // Names in Latin-1 on a system that reads names as UTF-8.
    const QByteArray inFolder = QFile::encodeName(folder) + "/Pr\xe4sentation.pptx";
    const QByteArray given = QFile::encodeName(decks.path()) + "/Caf\xe9.pptx";
    for (const QByteArray &name : {inFolder, given}) {
        const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    // A name given by its bytes, as a shell hands it over.
    const Finished f = runToEnd(
        withoutDisplay(home.path()),
        {QStringLiteral("-c"),
         QStringLiteral("exec \"$0\" --print --printer \"$1\" --extension pptx \"$2\" \"$3\" "
                        "\"$(printf '%s/Caf\\351.pptx' \"$4\")\""),
         Program, printer, pipe, folder, decks.path()},
        {}, QStringLiteral("/bin/sh"));
    ::unlink(inFolder.constData());
    ::unlink(given.constData());

    EXPECT_FALSE(f.crashed);
    EXPECT_EQ(f.exitCode, 1) << f.err.toStdString();
    EXPECT_EQ(f.out, QStringLiteral("Processing: %1-pipe\\n1.pptx (1 of 1)\nDone.\n").arg(token))
        << f.out.toStdString();
    for (const QString &said :
         {QStringLiteral("deckrun: left out: %1/Caf\\xE9.pptx (its name is not valid UTF-8 text)")
              .arg(decks.path()),
          QStringLiteral("deckrun: left out: %1/Pr\\xE4sentation.pptx (its name is not valid "
                         "UTF-8 text)")
              .arg(folder),
          QStringLiteral("LibreOffice Impress could not open \"%1\": it is a named pipe (FIFO), "
                         "not a file.\nin Tamberlin2021/08/31.Form1.PushButton3_Click at line 120")
              .arg(QString(pipe).replace(QLatin1Char('\n'), QLatin1String("\\n")))})
        EXPECT_TRUE(f.err.contains(said)) << said.toStdString() << "\n" << f.err.toStdString();
    EXPECT_EQ(runLogOutcomesIn(home.path()),
              QStringList{token +
                          QStringLiteral("-pipe\n1.pptx failed 120: LibreOffice Impress "
                                         "could not open \"") +
                          pipe + QStringLiteral("\": it is a named pipe (FIFO), not a file. on ") +
                          printer});
}

// From cron, a service or `env -i`: no locale at all. A deck whose name has
// letters outside ASCII prints; an empty one fails at its open, and says so.
TEST_F(BatchPrinting, WithoutALocaleAnyNamePrintsAndAnEmptyDeckFails)
{
    const QString named = token + QStringLiteral(" Präsentation “Q3” ’24.pptx");
    const QString deck = sample(QStringLiteral("Quarterly Review.pptx"), named);
    const QString empty = decks.file(token + QStringLiteral("-empty.pptx"), QByteArray());
    QProcessEnvironment bare; // what env -i leaves, with a home of the test's own and cron's PATH
    const QProcessEnvironment own = withoutDisplay(home.path());
    for (const QString &name : own.keys())
        if (name == QLatin1String("HOME") || name.startsWith(QLatin1String("XDG_")))
            bare.insert(name, own.value(name));
    bare.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));

    const Finished f =
        runToEnd(bare, {"--print", "--printer", printer, "--pause", "0", deck, empty});
    EXPECT_FALSE(f.crashed);
    EXPECT_EQ(f.exitCode, 1) << f.err.toStdString();
    EXPECT_EQ(f.out, QStringLiteral("Processing: %1 (1 of 2)\nProcessing: %2-empty.pptx (2 of 2)\n"
                                    "Done.\n")
                         .arg(named, token))
        << f.out.toStdString();
    const QString opening =
        QStringLiteral("LibreOffice Impress could not open \"%1\": the file is empty.").arg(empty);
    EXPECT_TRUE(f.err.contains(opening + QStringLiteral("\nin Tamberlin2021/08/31.Form1."
                                                        "PushButton3_Click at line 120\n")))
        << f.err.toStdString();
    EXPECT_EQ(runLogOutcomesIn(home.path()),
              (QStringList{named + QStringLiteral(" printed on ") + printer,
                           token + QStringLiteral("-empty.pptx failed 120: ") + opening +
                               QStringLiteral(" on ") + printer}))
        << runLogOutcomesIn(home.path()).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(pdfsWith(token, 1).size(), 1);
}

// SIGTERM (a service stopping, a script's timeout) ends the run once the file
// in hand has ended: what printed is logged, nothing further begins, no office is left.
TEST_F(BatchPrinting, SigtermEndsTheRunAndItsOfficeCleanly)
{
    const QStringList paths{
        sample(QStringLiteral("Quarterly Review.pptx"), token + QStringLiteral("-1.pptx")),
        sample(QStringLiteral("Quarterly Review.pptx"), token + QStringLiteral("-2.pptx"))};
    for (const QStringList &mode : {QStringList{"--print"}, QStringList{"--print", "--fast"},
                                    QStringList{"--print", "--fast", "--jobs", "2"}}) {
        SCOPED_TRACE(mode.join(QLatin1Char(' ')).toStdString());
        QFile::remove(runLogIn(home.path()));
        const Finished f =
            runToEnd(withoutDisplay(home.path()),
                     mode + QStringList{"--printer", printer, "--pause", "9"} + paths,
                     [&](QProcess &program) {
                         // Once the first file is logged, the run is in its pause.
                         QElapsedTimer clock;
                         clock.start();
                         while (runLogOutcomesIn(home.path()).isEmpty() && clock.elapsed() < 120000)
                             program.waitForFinished(200);
                         ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
                     });
        EXPECT_TRUE(f.crashed) << "ends by the signal, as a shell expects";
        EXPECT_EQ(f.exitCode, SIGTERM);
        EXPECT_EQ(f.out, QStringLiteral("Processing: %1-1.pptx (1 of 2)\n").arg(token))
            << f.out.toStdString();
        EXPECT_TRUE(f.err.contains(QStringLiteral("deckrun: SIGTERM: stopping")))
            << f.err.toStdString();
        EXPECT_EQ(runLogOutcomesIn(home.path()),
                  QStringList{token + QStringLiteral("-1.pptx printed on ") + printer})
            << runLogOutcomesIn(home.path()).join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(leftRunning(home.path()).isEmpty());
        // The second deck, opened ahead by a second office, never reaches the printer.
        EXPECT_EQ(pdfsWith(token + QStringLiteral("-1"), 1).size(), 1);
        QThread::msleep(1000);
        QDir pdfs(qEnvironmentVariable("DECKRUN_TEST_PDF_DIR"));
        EXPECT_EQ(pdfs.entryList({QLatin1Char('*') + token + QStringLiteral("-2*")}).size(), 0);
        for (const QString &pdf : pdfs.entryList({QLatin1Char('*') + token + QLatin1Char('*')}))
            pdfs.remove(pdf);
    }
}

namespace {

/** The office processes (soffice.bin) whose command line mentions `text`, by pid. */
QSet<QString> officePidsMentioning(const QString &text)
{
    QSet<QString> pids;
    const QByteArray needle = text.toLocal8Bit();
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (!pid.front().isDigit())
            continue;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "soffice.bin" &&
            commandLine.open(QIODevice::ReadOnly) && commandLine.readAll().contains(needle))
            pids.insert(pid);
    }
    return pids;
}

} // namespace

// The fast run between good decks: the damaged one is named as the window's
// run names it, and as the office only refused it and still answers, the good
// ones go on on the same office.
TEST_F(BatchPrinting, FastRunNamesADamagedDeckAndTheGoodOnesKeepTheirOffice)
{
    const QStringList paths{
        sample(QStringLiteral("Quarterly Review.pptx"), token + QStringLiteral("-1.pptx")),
        decks.file(token + QStringLiteral("-damaged.pptx"), QByteArray("PK\x03\x04 not a deck")),
        sample(QStringLiteral("Safety Briefing.pptx"), token + QStringLiteral("-2.pptx")),
        sample(QStringLiteral("Product Roadmap.odp"), token + QStringLiteral("-3.odp"))};
    // With one job, one office and the spare started ahead, unused; with two
    // side by side, one office each.
    for (const auto &[jobs, expectedOffices] : {std::pair{"1", 2}, std::pair{"2", 2}}) {
        SCOPED_TRACE(jobs);
        const QStringList fast{"--print", "--fast", "--jobs", jobs, "--printer", printer};
        // An office on a new profile starts twice (it sets the profile up
        // first): a run before this one makes the profiles.
        runToEnd(withoutDisplay(home.path()), fast + QStringList{paths[1], paths[1]});
        QFile::remove(runLogIn(home.path()));
        QSet<QString> offices;
        const Finished f = runToEnd(withoutDisplay(home.path()), fast + paths, [&](QProcess &p) {
            while (!p.waitForFinished(10))
                offices += officePidsMentioning(home.path());
        });
        EXPECT_FALSE(f.crashed);
        EXPECT_EQ(f.exitCode, 1) << f.err.toStdString();
        const QString opening = QStringLiteral("LibreOffice Impress could not open \"%1\": the "
                                               "file is damaged or is not a presentation.")
                                    .arg(paths[1]);
        EXPECT_TRUE(f.err.startsWith(opening + QStringLiteral("\nin Tamberlin2021/08/31.Form1."
                                                              "PushButton3_Click at line 120\n")))
            << f.err.toStdString();
        // The end on standard output, as the window's way says it; no box on standard error.
        EXPECT_TRUE(f.out.endsWith(QStringLiteral("(4 of 4)\nDone.\n"))) << f.out.toStdString();
        EXPECT_FALSE(f.err.contains(QStringLiteral("Done."))) << f.err.toStdString();
        EXPECT_EQ(runLogOutcomesIn(home.path()),
                  (QStringList{token + QStringLiteral("-1.pptx printed on ") + printer,
                               token + QStringLiteral("-damaged.pptx failed 120: ") + opening +
                                   QStringLiteral(" on ") + printer,
                               token + QStringLiteral("-2.pptx printed on ") + printer,
                               token + QStringLiteral("-3.odp printed on ") + printer}))
            << runLogOutcomesIn(home.path()).join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(offices.size(), expectedOffices);
        // The printer got them in queue order: CUPS numbers its jobs as they come.
        std::map<int, QString> byJob;
        QDir pdfs(qEnvironmentVariable("DECKRUN_TEST_PDF_DIR"));
        static const QRegularExpression named(QStringLiteral("-(\\d)\\..*job_(\\d+)\\.pdf$"));
        for (const QString &pdf : pdfsWith(token, 3)) {
            const auto m = named.match(pdf);
            byJob[m.captured(2).toInt()] = m.captured(1);
            pdfs.remove(pdf);
        }
        QStringList order;
        for (const auto &[job, deck] : byJob)
            order << deck;
        EXPECT_EQ(order, (QStringList{"1", "2", "3"}));
    }
}
#endif

#ifdef DECKRUN_HAS_UNO
namespace {

/** Runs a command to its end; true when it ended with status 0. */
bool succeeds(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

/** A TCP port of the loopback that nothing listens on just now. */
int freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(s);
    return port;
}

/** True once something answers on the loopback's `port` (ten seconds at most). */
bool answers(int port)
{
    for (int i = 0; i < 100; ++i) {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        const bool connected =
            ::connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(s);
        if (connected)
            return true;
        QThread::msleep(100);
    }
    return false;
}

/** Ends a process the test started: asked first, killed when it will not go. */
void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

/**
 * A network printer as print servers have: an IPP Everywhere printer on the
 * loopback (ippeveprinter), added to CUPS as a queue of the test's own with
 * "lpadmin -m everywhere". It keeps every document it gets in its spool
 * folder. ippeveprinter needs a D-Bus system bus for its service discovery
 * (switched off); it gets a private one.
 */
class NetworkPrinter : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char *tool : {"ippeveprinter", "dbus-daemon", "lpadmin"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                GTEST_SKIP() << tool << " is missing (scripts/setup.sh --dev installs it)";
        if (::geteuid() != 0)
            GTEST_SKIP() << "adding a CUPS queue needs root";
        if (!succeeds(QStringLiteral("lpstat"), {QStringLiteral("-r")}))
            GTEST_SKIP() << "CUPS is not running";
        token = QStringLiteral("ipp%1").arg(QCoreApplication::applicationPid());
        queueName = QStringLiteral("Deckrun_IPP_%1").arg(QCoreApplication::applicationPid());

        const QString bus = QStringLiteral("unix:path=") + work.at(QStringLiteral("bus"));
        dbus.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--address=") + bus});
        ASSERT_TRUE(dbus.waitForStarted(10000));
        for (int i = 0; i < 50 && !QFile::exists(work.at(QStringLiteral("bus"))); ++i)
            QThread::msleep(100);

        const int port = freePort();
        ASSERT_GT(port, 0);
        ASSERT_TRUE(QDir().mkpath(spool()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), bus);
        device.setProcessEnvironment(env);
        device.setProcessChannelMode(QProcess::MergedChannels);
        device.start(QStringLiteral("ippeveprinter"),
                     {QStringLiteral("-p"), QString::number(port), QStringLiteral("-n"),
                      QStringLiteral("localhost"), QStringLiteral("-r"), QStringLiteral("off"),
                      QStringLiteral("-d"), spool(), QStringLiteral("-k"), QStringLiteral("-f"),
                      QStringLiteral("application/pdf,image/pwg-raster"), queueName});
        ASSERT_TRUE(device.waitForStarted(10000));
        // The queue is made from what the printer says of itself: it must answer first.
        ASSERT_TRUE(answers(port)) << QString::fromLocal8Bit(device.readAll()).toStdString();
        added =
            succeeds(QStringLiteral("lpadmin"),
                     {QStringLiteral("-p"), queueName, QStringLiteral("-E"), QStringLiteral("-v"),
                      QStringLiteral("ipp://localhost:%1/ipp/print").arg(port),
                      QStringLiteral("-m"), QStringLiteral("everywhere")});
        ASSERT_TRUE(added);
    }

    void TearDown() override
    {
        if (added)
            removeQueue();
        stop(device);
        stop(dbus);
        const QStringList left = leftRunning(home.path());
        EXPECT_TRUE(left.isEmpty())
            << "offices left behind: " << left.join(QLatin1Char(' ')).toStdString();
    }

    QString spool() const { return work.at(QStringLiteral("spool")); }
    /** The documents the printer got, by the names it keeps them under. */
    QStringList received() const
    {
        return QDir(spool()).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    }
    void removeQueue()
    {
        added = !succeeds(QStringLiteral("lpadmin"), {QStringLiteral("-x"), queueName});
    }

    TempTree home, decks, work;
    QProcess dbus, device;
    QString token, queueName;
    bool added = false;
};

} // namespace

// The printer stops answering after the first deck, then its queue is
// removed: the deck in between is handed to the print system, which holds
// it; the next one is reported, and the run goes on to its end with every
// file in the run log.
TEST_F(NetworkPrinter, APrinterThatGoesAwayMidRun)
{
    QStringList paths;
    for (int i = 1; i <= 3; ++i) {
        paths << decks.at(QStringLiteral("%1-%2.pptx").arg(token).arg(i));
        ASSERT_TRUE(QFile::copy(
            QStringLiteral(DECKRUN_PROGRAM_DIR "/Samples/Quarterly Review.pptx"), paths.last()));
    }
    QStringList receivedBeforeItWent;
    const auto logged = [&](QProcess &program, int lines) {
        QElapsedTimer clock;
        clock.start();
        while (runLogOutcomesIn(home.path()).size() < lines && clock.elapsed() < 120000 &&
               program.state() == QProcess::Running)
            program.waitForFinished(100);
    };
    // The pause (10 s) leaves the print system time to pass the first deck on.
    const Finished f =
        runToEnd(withoutDisplay(home.path()),
                 QStringList{"--print", "--printer", queueName.toLower(), "--pause", "9"} + paths,
                 [&](QProcess &program) {
                     logged(program, 1);
                     QElapsedTimer clock;
                     clock.start();
                     while (received().isEmpty() && clock.elapsed() < 10000)
                         QThread::msleep(100);
                     receivedBeforeItWent = received();
                     stop(device); // the printer is switched off
                     logged(program, 2);
                     removeQueue(); // and taken off the print server
                 });

    EXPECT_FALSE(f.crashed);
    EXPECT_EQ(f.exitCode, 1) << f.err.toStdString();
    EXPECT_EQ(f.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
              (QStringList{QStringLiteral("Processing: %1-1.pptx (1 of 3)").arg(token),
                           QStringLiteral("Processing: %1-2.pptx (2 of 3)").arg(token),
                           QStringLiteral("Processing: %1-3.pptx (3 of 3)").arg(token),
                           QStringLiteral("Done.")}));
    const QString gone = QStringLiteral("PrintOptions.ActivePrinter : The printer \"%1\" is not "
                                        "known to this system.")
                             .arg(queueName);
    EXPECT_TRUE(f.err.startsWith(gone + QStringLiteral("\nin Tamberlin2021/08/31.Form1."
                                                       "PushButton3_Click at line 126\n")))
        << f.err.toStdString();
    // --printer in another case prints on the queue as installed.
    EXPECT_EQ(
        runLogOutcomesIn(home.path()),
        (QStringList{QStringLiteral("%1-1.pptx printed on %2").arg(token, queueName),
                     QStringLiteral("%1-2.pptx printed on %2").arg(token, queueName),
                     QStringLiteral("%1-3.pptx failed 126: %2 on %3").arg(token, gone, queueName)}))
        << runLogOutcomesIn(home.path()).join(QLatin1Char('\n')).toStdString();
    // The first deck reached the printer; nothing reached it once it was off.
    ASSERT_EQ(receivedBeforeItWent.size(), 1) << receivedBeforeItWent.join(' ').toStdString();
    EXPECT_TRUE(receivedBeforeItWent[0].contains(token + QStringLiteral("-1")))
        << receivedBeforeItWent[0].toStdString();
    EXPECT_EQ(received(), receivedBeforeItWent);
}
#endif
