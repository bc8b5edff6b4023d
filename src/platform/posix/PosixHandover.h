// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the POSIX files of the hot folder share: a descriptor that closes
// itself, the places a FileHandover holds, how a path is reached from the
// watched folder's descriptor, and the move between two open folders that
// never replaces.

#include "platform/FileHandover.h"

#include <QByteArray>
#include <QString>

#include <utility>

struct stat;

namespace deckrun::posix {

/** An open descriptor, closed when dropped. */
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int get() const { return m_fd; }
    /** Gives up the descriptor to whoever closes it now. */
    int release() { return std::exchange(m_fd, -1); }
    /** A second descriptor of the same open file (none when the system refuses). */
    Descriptor duplicate() const;

private:
    void reset();

    int m_fd = -1;
};

/** The system's words for `error` ("No such file or directory"). */
QString systemWords(int error);

/** The bytes of a name or path as the system takes them. */
QByteArray encoded(const QString &name);

/** Why a folder (its own state, links not followed) cannot be one of this user's own; empty when it
 * can. */
QString unfitFolder(const struct stat &st);

/** Opens the folder `name` in `at` when it is one of this user's own; why not in `why`. */
Descriptor openOwnFolder(int at, const QByteArray &name, QString *why);

/** Where an operation on a path takes place: its folder, open, and the name in it. */
struct Spot {
    Descriptor folder;
    QByteArray name;
    bool belowRoot = false; // reached from the watched folder
    QString refused;        // why the path cannot be reached; nothing else is set then
};

} // namespace deckrun::posix

namespace deckrun {

/** The watched folder held open, and this process's private copies. */
class HandoverPlaces {
public:
    QString root; // the watched folder, as the watcher names it
    posix::Descriptor rootFolder;
    QString copies; // the private copies' folder, made at the first copy
    QString copy;   // the last private copy
};

} // namespace deckrun

namespace deckrun::posix {

/**
 * The folder a path lies in, reached from the watched folder when it is below
 * it, one folder at a time through folders of this user's own only (never
 * through a link, never up); else opened as named (this process's private
 * copies, a path no watched folder holds).
 */
Spot reach(const HandoverPlaces &places, const QString &path);

/** Opens the regular file at `path` for reading, never through a link; why not in `why`. */
Descriptor openRegular(const HandoverPlaces &places, const QString &path, QString *why);

/**
 * Moves `from` in the open folder `fromFolder` to `to` in `toFolder` in one
 * step, never replacing what is at `to` and never following a link (a link is
 * moved as a link). `error` gets the system's words when it failed.
 */
MoveOutcome moveAt(int fromFolder, const QByteArray &from, int toFolder, const QByteArray &to,
                   QString *error);

} // namespace deckrun::posix
