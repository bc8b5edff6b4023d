// SPDX-License-Identifier: GPL-3.0-or-later
// Ctrl+C and Ctrl+Break in the console arrive on a thread of the system's;
// they are handed to the main thread as a queued call.

#include "platform/StopSignals.h"

#include <QMetaObject>
#include <QPointer>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <windows.h>

namespace deckrun {

namespace {

QPointer<StopSignals> g_receiver;

BOOL WINAPI onConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (StopSignals *receiver = g_receiver.data()) {
        const int signal = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
        QMetaObject::invokeMethod(
            receiver,
            [receiver, signal] {
                emit receiver->stopAsked(signal, signal == SIGINT ? QStringLiteral("Ctrl+C")
                                                                  : QStringLiteral("Ctrl+Break"));
            },
            Qt::QueuedConnection);
        return TRUE;
    }
    return FALSE;
}

} // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    g_receiver = this;
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

StopSignals::~StopSignals()
{
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
    g_receiver = nullptr;
}

void StopSignals::deliver(int signal)
{
    emit stopAsked(signal,
                   signal == SIGINT ? QStringLiteral("Ctrl+C") : QStringLiteral("Ctrl+Break"));
}

void StopSignals::endBy(int signal)
{
    std::fflush(nullptr);
    std::_Exit(128 + signal);
}

} // namespace deckrun
