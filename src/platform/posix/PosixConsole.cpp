// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Console.h"

#include <QFile>

namespace deckrun {

void useUtf8Console() {}

QStringList programArguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QFile::decodeName(argv[i]);
    return arguments;
}

QHash<QString, QByteArray> undecodableArguments(int argc, char **argv)
{
    QHash<QString, QByteArray> found;
    for (int i = 1; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        const QString text = QFile::decodeName(raw);
        if (QFile::encodeName(text) != raw)
            found.insert(text, raw);
    }
    return found;
}

} // namespace deckrun
