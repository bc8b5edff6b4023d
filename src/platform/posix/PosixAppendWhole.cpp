// SPDX-License-Identifier: GPL-3.0-or-later
// Appending one run log line whole or not at all, with the system's own
// cause when it fails.

#include "platform/Failure.h"
#include "platform/RunLog.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace deckrun {

namespace {

[[noreturn]] void fail(int error)
{
    throw Failure(QString::fromLocal8Bit(std::strerror(error)));
}

/** Holds an open file and its lock; both end with the scope. */
class LockedFile {
public:
    explicit LockedFile(const QByteArray &path)
        : m_fd(::open(path.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644))
    {
        if (m_fd < 0 && errno == EACCES) // a log this user may only write to
            m_fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (m_fd < 0)
            fail(errno);
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR)
                fail(errno);
        }
    }
    ~LockedFile() { ::close(m_fd); } // the lock goes with the descriptor
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;

    int fd() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

void appendWhole(const QString &path, const QByteArray &bytes)
{
    const LockedFile file(QFile::encodeName(path));
    struct stat st {};
    if (::fstat(file.fd(), &st) != 0)
        fail(errno);
    const off_t before = st.st_size;
    QByteArray whole = bytes;
    char last = '\n';
    if (before > 0 && ::pread(file.fd(), &last, 1, before - 1) == 1 && last != '\n')
        whole.prepend('\n'); // never glued to what an older writer left unfinished
    qsizetype done = 0;
    while (done < whole.size()) {
        const ssize_t n = ::write(file.fd(), whole.constData() + done,
                                  static_cast<std::size_t>(whole.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const int error = n < 0 ? errno : EIO;
        // Nothing of this line stays: the file ends where it ended before.
        while (::ftruncate(file.fd(), before) != 0 && errno == EINTR) {
        }
        fail(error);
    }
}

} // namespace deckrun
