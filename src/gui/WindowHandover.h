// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One window for every "Open with Deckrun": the first Deckrun with a window
// listens on a local socket of its user's own, and a later start that names
// files hands them to it and ends, so files opened one by one, or several at
// once where the desktop starts a program per file (Explorer does), land in
// one queue. main.cpp asks before it builds the window.

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

namespace deckrun {

class WindowHandover final : public QObject {
    Q_OBJECT

public:
    /** What a start is to do. */
    enum class Outcome {
        HandedOver, // a running window took the files: nothing more to do
        Listening,  // this is the window later starts hand their files to
        Alone,      // neither (another window listens, or the socket cannot be had)
    };

    /** `name`: the local socket's; by default the user's own (defaultName). */
    explicit WindowHandover(QString name = defaultName(), QObject *parent = nullptr);

    /**
     * One name per user (and home), in a folder of the user's own, so that
     * nobody else's window takes the files; empty (and said) where no such
     * folder can be had.
     */
    static QString defaultName();

    /**
     * Hands `paths` to the window that listens; without one (or without
     * paths), listens itself. Starts at the same moment settle which one
     * listens: the others hand over to it. A listener that is not the user's
     * own is told nothing (and that is said); more than a few thousand
     * paths open a window of their own.
     */
    Outcome handOverOrListen(const QStringList &paths);

signals:
    /** A later start's files, once they have arrived whole. */
    void filesArrived(const QStringList &paths);

private:
    enum class Sent { Taken, NoWindow, Stranger };
    Sent send(const QStringList &paths) const;
    bool listen();
    void take();

    QString m_name;
    QLocalServer m_server;
};

} // namespace deckrun
