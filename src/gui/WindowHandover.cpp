// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/WindowHandover.h"

#include "platform/Logging.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QLocalSocket>
#include <QThread>

namespace deckrun {

namespace {

// A window answers at once; one that does not is none to hand files to.
constexpr int AnswerMilliseconds = 3000;
// Starts at the same moment: how often, and how long apart, they try again.
constexpr int Attempts = 20;
constexpr int AttemptMilliseconds = 50;

// The files taken: the sender ends only once the window has them.
constexpr char Taken = 'T';

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
    return QStringLiteral("deckrun-window-") +
           QString::fromLatin1(
               QCryptographicHash::hash(home, QCryptographicHash::Sha256).toHex().left(16));
}

WindowHandover::Outcome WindowHandover::handOverOrListen(const QStringList &paths)
{
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        if (!paths.isEmpty() && send(paths))
            return Outcome::HandedOver;
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

bool WindowHandover::send(const QStringList &paths) const
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(AnswerMilliseconds))
        return false;
    QByteArray message;
    QDataStream names(&message, QIODevice::WriteOnly);
    names << paths;
    QDataStream out(&socket);
    out << message;
    if (!socket.waitForBytesWritten(AnswerMilliseconds))
        return false;
    // Handed over only once the window says it has them.
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(AnswerMilliseconds))
            return false;
    char answer = 0;
    return socket.getChar(&answer) && answer == Taken;
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
    // refuses every connection: it is nobody's, and is taken over.
    if (m_server.serverError() == QAbstractSocket::AddressInUseError &&
        probe.error() == QLocalSocket::ConnectionRefusedError) {
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
            QByteArray message;
            in >> message;
            if (!in.commitTransaction())
                return; // more to come
            QStringList paths;
            QDataStream names(message);
            names >> paths;
            client->putChar(Taken);
            client->flush();
            client->disconnectFromServer();
            emit filesArrived(paths);
        });
    }
}

} // namespace deckrun
