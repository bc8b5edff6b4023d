// SPDX-License-Identifier: GPL-3.0-or-later
// "Open with Deckrun" on one more file, or on several where the desktop starts
// a Deckrun per file, lands in the window that runs: a start that names files
// hands them over through the local socket and ends; without a window it
// becomes the one that listens. The later start runs on a thread of its own,
// as another process would, while this one's window handles its events.

#include "gui/WindowHandover.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using namespace deckrun;
using Outcome = WindowHandover::Outcome;

namespace {

QString socketName()
{
    return QStringLiteral("deckrun-test-%1").arg(QCoreApplication::applicationPid());
}

/** What a later start does with `paths`, on a thread of its own, while this thread's events run. */
Outcome laterStart(const QStringList &paths)
{
    std::atomic<Outcome> outcome{Outcome::Alone};
    std::unique_ptr<QThread> start(QThread::create([&outcome, paths] {
        WindowHandover later(socketName());
        outcome = later.handOverOrListen(paths);
    }));
    start->start();
    QElapsedTimer clock;
    clock.start();
    while (!start->isFinished() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    start->wait();
    QCoreApplication::processEvents(); // the files' signal, queued after the answer
    return outcome;
}

} // namespace

// Kills a later start that opens a window of its own while one listens, a
// hand-over that loses or splits names, and a window that never listens.
TEST(WindowHandover, ALaterStartsFilesGoToTheWindowThatRuns)
{
    const QStringList files = {QStringLiteral("/decks/Q3 review.pptx"),
                               QStringLiteral("/decks/Отчёт\nzwei Zeilen.ppt"),
                               QStringLiteral("/decks/a,b;c.odp")};
    QStringList arrived;
    {
        WindowHandover window(socketName());
        QObject::connect(&window, &WindowHandover::filesArrived,
                         [&arrived](const QStringList &paths) { arrived << paths; });
        ASSERT_EQ(window.handOverOrListen({QStringLiteral("/decks/first.pptx")}),
                  Outcome::Listening);

        EXPECT_EQ(laterStart(files), Outcome::HandedOver);
        EXPECT_EQ(arrived, files);
        EXPECT_EQ(laterStart({}), Outcome::Alone) << "a start without files opens its window";
    }
    // Once that window has ended, the next start with files is the window.
    EXPECT_EQ(laterStart({QStringLiteral("/decks/next.pptx")}), Outcome::Listening);
    EXPECT_EQ(arrived, files);
}
