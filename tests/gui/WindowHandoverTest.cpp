// SPDX-License-Identifier: GPL-3.0-or-later
// "Open with Deckrun" on one more file, or on several where the desktop starts
// a Deckrun per file, lands in the window that runs: a start that names files
// hands them over through the local socket and ends; without a window it
// becomes the one that listens. The later start runs on a thread of its own,
// as another process would, while this one's window handles its events.

#include "gui/WindowHandover.h"
#include "support/TempTree.h"
#include "support/Unprivileged.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

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
    // More than a window takes at once: a window of their own.
    EXPECT_EQ(laterStart(QStringList(4001, QStringLiteral("/decks/a.pptx"))), Outcome::Alone);
}

namespace {

/** Listens at `path` (in `folder`, made first when given); later, the bytes sent meanwhile. */
std::function<QString()> squat(const QByteArray &folder, const QByteArray &path)
{
    if (!folder.isEmpty())
        ::mkdir(folder.constData(), 0700);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener, 4) != 0)
        return [] { return QStringLiteral("could not listen"); };
    return [listener] {
        qint64 received = 0;
        char buffer[65536];
        for (int client; (client = ::accept(listener, nullptr, nullptr)) >= 0; ::close(client))
            for (ssize_t n; (n = ::recv(client, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
                received += n;
        return QString::number(received);
    };
}

class SquattedName : public testing::TestWithParam<std::string> {};

} // namespace

// Another user listens first where a start would hand its files: in a
// runtime folder others may write to, in a folder of its own planted where
// Deckrun's would be, or with its socket moved into the user's own folder
// and made the user's own. The start sends nothing and opens a window of its
// own. Kills trusting XDG_RUNTIME_DIR or the planted folder without looking
// at owner and mode, and sending without looking at the listener's credentials.
TEST_P(SquattedName, ReceivesNothing)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "another user needs a test run as root";
    const std::string where = GetParam();
    test::TempTree tree;
    const QString shared = tree.folder(QStringLiteral("shared"));
    const QString own = tree.folder(QStringLiteral("own"));
    ::chmod(QFile::encodeName(tree.path()).constData(), 0711);
    ::chmod(QFile::encodeName(shared).constData(), 01777);
    ::chmod(QFile::encodeName(own).constData(), 0700);
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"), temporary = qgetenv("TMPDIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(own));
    const QString name = QFileInfo(WindowHandover::defaultName()).fileName();
    QByteArray folder, squatted = QFile::encodeName(shared + QLatin1Char('/') + name);
    if (where == "SharedRuntimeFolder") {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(shared));
        qputenv("TMPDIR", QFile::encodeName(own));
    } else if (where == "PlantedFolder") {
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(shared));
        folder = QFile::encodeName(shared) + "/deckrun-" + QByteArray::number(::getuid());
        squatted = folder + '/' + QFile::encodeName(name);
    }
    test::UnprivilegedPeer squatter([&] { return squat(folder, squatted); });
    const QByteArray inOwn = QFile::encodeName(own + QLatin1Char('/') + name);
    if (where == "MovedIn") {
        ASSERT_EQ(::rename(squatted.constData(), inOwn.constData()), 0);
        ASSERT_EQ(::lchown(inOwn.constData(), ::getuid(), ::getgid()), 0);
    }

    EXPECT_FALSE(WindowHandover::defaultName().startsWith(shared)) << "a name where others write";
    WindowHandover start(WindowHandover::defaultName());
    EXPECT_NE(start.handOverOrListen({QStringLiteral("/decks/private.pptx")}), Outcome::HandedOver);
    EXPECT_EQ(squatter.finish(), QStringLiteral("0"));
    for (const auto &[variable, value] :
         {std::pair{"XDG_RUNTIME_DIR", runtime}, {"TMPDIR", temporary}})
        value.isNull() ? qunsetenv(variable) : qputenv(variable, value);
}

INSTANTIATE_TEST_SUITE_P(Squats, SquattedName,
                         testing::Values("SharedRuntimeFolder", "PlantedFolder", "MovedIn"),
                         [](const auto &row) { return row.param; });
