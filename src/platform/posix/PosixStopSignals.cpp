// SPDX-License-Identifier: GPL-3.0-or-later
// The classic self-pipe: the handler only writes the signal's number to a
// socket, and a notifier on the main thread reads it there.

#include "platform/StopSignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <sys/socket.h>
#include <unistd.h>

namespace deckrun {

namespace {

constexpr std::array<int, 3> Handled{SIGINT, SIGTERM, SIGHUP};
int g_sockets[2] = {-1, -1}; // [0] written by the handler, [1] read on the main thread

extern "C" void onStopSignal(int signal)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_sockets[0], &byte, 1);
    errno = saved;
}

void handleWith(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : Handled)
        ::sigaction(signal, &action, nullptr);
}

} // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    if (g_sockets[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_sockets) != 0) {
        std::perror("deckrun: SIGINT, SIGTERM and SIGHUP cannot be handled");
        return;
    }
    auto *notifier = new QSocketNotifier(g_sockets[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        if (::read(g_sockets[1], &byte, 1) == 1)
            deliver(byte);
    });
    handleWith(onStopSignal);
}

StopSignals::~StopSignals()
{
    handleWith(SIG_DFL);
}

void StopSignals::deliver(int signal)
{
    const char *name = signal == SIGINT    ? "SIGINT"
                       : signal == SIGTERM ? "SIGTERM"
                       : signal == SIGHUP  ? "SIGHUP"
                                           : "a signal";
    emit stopAsked(signal, QString::fromLatin1(name));
}

QString StopSignals::requestNames()
{
    return QStringLiteral("SIGINT, SIGTERM or SIGHUP");
}

void StopSignals::endBy(int signal)
{
    std::fflush(nullptr);
    std::signal(signal, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(signal);
    std::_Exit(128 + signal); // not reached: the signal ends the process
}

} // namespace deckrun
