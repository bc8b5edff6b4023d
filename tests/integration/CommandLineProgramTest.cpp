// SPDX-License-Identifier: GPL-3.0-or-later
// The real program, started the way a file manager's "Open With Deckrun" or a
// terminal starts it: `deckrun --help` answers without a window, and
// `deckrun FILE FILE FILE` opens the window with the three files queued.

#include "support/TempTree.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

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
    return env;
}

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

} // namespace

TEST(CommandLineProgram, HelpAndVersionAnswerWithoutAWindow)
{
    TempTree home;
    struct Case {
        const char *option;
        const char *answer;
    };
    for (const Case c : {Case{"--help", "Usage: deckrun [options] [FILE|FOLDER]..."},
                         Case{"-h", "Usage: deckrun [options] [FILE|FOLDER]..."},
                         Case{"--version", "Deckrun 1.0.0"}}) {
        QProcess program;
        // No display at all: a window could not even be tried without saying so.
        QProcessEnvironment env = isolated(home.path());
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        program.setProcessEnvironment(env);
        program.start(Program, {QLatin1String(c.option)});
        ASSERT_TRUE(program.waitForFinished(30000)) << c.option;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << c.option;
        EXPECT_EQ(program.exitCode(), 0) << c.option;
        EXPECT_TRUE(QString::fromLocal8Bit(program.readAllStandardOutput())
                        .startsWith(QLatin1String(c.answer)))
            << c.option;
        EXPECT_EQ(QString::fromLocal8Bit(program.readAllStandardError()), QString()) << c.option;
    }
}

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
    QStringList left;
    for (int i = 0; i < 50; ++i) {
        left = processesMentioning(home.path());
        if (left.isEmpty())
            break;
        QThread::msleep(100);
    }
    for (const QString &pid : std::as_const(left))
        QProcess::execute(QStringLiteral("kill"), {QStringLiteral("-9"), pid});
    EXPECT_TRUE(left.isEmpty()) << "processes left behind: "
                                << left.join(QLatin1Char(' ')).toStdString();
}
#endif
