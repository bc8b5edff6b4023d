// SPDX-License-Identifier: GPL-3.0-or-later
// Appending one run log line whole or not at all on Windows, where a file
// opened for appending takes each write at its end in one piece.

#include "platform/Failure.h"
#include "platform/RunLog.h"

#include <QFile>

namespace deckrun {

void appendWhole(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        throw Failure(file.errorString());
    const qint64 before = file.size();
    QByteArray whole = bytes;
    if (before > 0 && file.seek(before - 1)) {
        char last = '\n';
        if (file.getChar(&last) && last != '\n')
            whole.prepend('\n'); // never glued to what an older writer left unfinished
    }
    if (file.write(whole) != whole.size()) {
        const QString why = file.errorString();
        file.resize(before); // nothing of this line stays
        throw Failure(why);
    }
}

} // namespace deckrun
