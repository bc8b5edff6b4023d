// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

namespace deckrun {

/**
 * Turns the requests to end the program from outside (SIGINT, that is
 * Ctrl+C, and SIGTERM; on Windows Ctrl+C and Ctrl+Break in the console,
 * closing the console window, log-off and shut-down) into a signal on the
 * main thread, handled with the other events there. While one lives, those
 * requests no longer end the program at once; destroying it gives them back
 * their usual effect.
 */
class StopSignals final : public QObject {
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    /**
     * Ends the process by `signal` with its usual effect, once the caller has
     * cleaned up, so that a shell sees the run was interrupted (status 130
     * for SIGINT, 143 for SIGTERM).
     */
    [[noreturn]] static void endBy(int signal);
    /** The requests as a user makes them, for the help: "SIGINT, SIGTERM or SIGHUP". */
    static QString requestNames();

signals:
    /** A request arrived: `signal` is its number, `name` its name ("SIGTERM"). */
    void stopAsked(int signal, const QString &name);

private:
    void deliver(int signal);
};

} // namespace deckrun
