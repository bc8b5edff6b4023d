// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/WindowHandover.h"

#include "platform/Logging.h"
#include "platform/PrivateSockets.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QLocalSocket>
#include <QThread>

#include <cstdio>

namespace deckrun {

namespace {

// A window answers at once; one that does not is none to hand files to.
constexpr int AnswerMilliseconds = 3000;
// Starts at the same moment: how often, and how long apart, they try again.
constexpr int Attempts = 20;
constexpr int AttemptMilliseconds = 50;

// The files taken: the sender ends only once the window has them.
constexpr char Taken = 'T';

// A start with more files than this opens a window of its own for them; a
// window takes no more at once (about 2 MB of names).
constexpr qsizetype MostPaths = 4000;
constexpr quint32 MostBytes = 2 * 1024 * 1024;

void say(const QString &why)
{
    std::fprintf(stderr, "deckrun: the files go to a window of their own: %s\n",
                 qUtf8Printable(why));
}

} // namespace

WindowHandover::WindowHandover(QString name, QObject *parent)
    : QObject(parent), m_name(std::move(name))
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] { take(); });
}

QString WindowHandover::defaultName()
{
    const QByteArray home = QDir::homePath().toUtf8();
    const QString name =
        QStringLiteral("deckrun-window-") +
        QString::fromLatin1(
            QCryptographicHash::hash(home, QCryptographicHash::Sha256).toHex().left(16));
    // In a folder where no other user can make the name first.
    QString why;
    const QString folder = privateSocketFolder(&why);
    if (!why.isEmpty())
        say(why);
    return folder.isEmpty() && why.isEmpty() ? name
           : folder.isEmpty()                ? QString()
                                             : folder + QLatin1Char('/') + name;
}

WindowHandover::Outcome WindowHandover::handOverOrListen(const QStringList &paths)
{
    if (m_name.isEmpty() || paths.size() > MostPaths)
        return Outcome::Alone;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        if (!paths.isEmpty()) {
            switch (send(paths)) {
            case Sent::Taken:
                return Outcome::HandedOver;
            case Sent::Stranger:
                return Outcome::Alone;
            case Sent::NoWindow:
                break;
            }
        }
        if (listen())
            return Outcome::Listening;
        // Nothing to hand over: a window of its own, whoever listens.
        if (paths.isEmpty())
            return Outcome::Alone;
        QThread::msleep(AttemptMilliseconds);
    }
    qCDebug(lcApp) << "the files were neither handed over nor taken here:"
                   << m_server.errorString();
    return Outcome::Alone;
}

WindowHandover::Sent WindowHandover::send(const QStringList &paths) const
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(AnswerMilliseconds))
        return Sent::NoWindow;
    // Nothing is said to a listener that is not this user's own.
    if (const QString why = strangerAt(socket.fullServerName(), socket.socketDescriptor());
        !why.isEmpty()) {
        say(why);
        return Sent::Stranger;
    }
    QByteArray message;
    QDataStream names(&message, QIODevice::WriteOnly);
    names << paths;
    QDataStream out(&socket);
    out << message;
    if (!socket.waitForBytesWritten(AnswerMilliseconds))
        return Sent::NoWindow;
    // Handed over only once the window says it has them.
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(AnswerMilliseconds))
            return Sent::NoWindow;
    char answer = 0;
    return socket.getChar(&answer) && answer == Taken ? Sent::Taken : Sent::NoWindow;
}

bool WindowHandover::listen()
{
    if (m_server.isListening())
        return true;
    // A window that listens stays the one: listening as well would take its
    // name over (on Unix the socket file is replaced).
    QLocalSocket probe;
    probe.connectToServer(m_name);
    if (probe.waitForConnected(AnswerMilliseconds))
        return false;
    if (m_server.listen(m_name))
        return true;
    // A socket left by a window that ended without removing it (a crash)
    // refuses every connection: when it is this user's own, it is taken over.
    if (m_server.serverError() == QAbstractSocket::AddressInUseError &&
        probe.error() == QLocalSocket::ConnectionRefusedError &&
        strangerAt(probe.fullServerName()).isEmpty()) {
        QLocalServer::removeServer(m_name);
        return m_server.listen(m_name);
    }
    return false;
}

void WindowHandover::take()
{
    while (QLocalSocket *client = m_server.nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            QDataStream in(client);
            in.startTransaction();
            quint32 size = 0;
            in >> size;
            // More than a start hands over: not read, not taken.
            if (in.status() == QDataStream::Ok && size > MostBytes && size != 0xffffffffu) {
                client->abort();
                return;
            }
            in.rollbackTransaction();
            in.startTransaction();
            QByteArray message;
            in >> message;
            if (!in.commitTransaction())
                return; // more to come
            QStringList paths;
            QDataStream names(message);
            names >> paths;
            paths = paths.mid(0, MostPaths);
            client->putChar(Taken);
            client->flush();
            client->disconnectFromServer();
            emit filesArrived(paths);
        });
    }
}

} // namespace deckrun
