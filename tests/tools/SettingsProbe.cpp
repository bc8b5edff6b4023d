// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the real settings store on an INI file, for tests that must run it
// as another user (the permission cases, which root would write through).
//
//     deckrun_settings_probe FILE write:KEY=VALUE read:KEY ...
//
// Prints one line per operation: "ok" or "failed" for a write, the value
// (or "<missing>") for a read.

#include "platform/Failure.h"
#include "platform/qt/QtServices.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        std::fputs("usage: deckrun_settings_probe FILE write:KEY=VALUE read:KEY ...\n", stderr);
        return 2;
    }
    deckrun::QtSettingsStore store(args.first());
    for (const QString &op : args.mid(1)) {
        QString line;
        if (op.startsWith(QLatin1String("write:"))) {
            const QString assignment = op.mid(6);
            const qsizetype eq = assignment.indexOf(QLatin1Char('='));
            try {
                store.write(assignment.left(eq), assignment.mid(eq + 1));
                line = QStringLiteral("ok");
            } catch (const deckrun::Failure &) {
                line = QStringLiteral("failed");
            }
        } else if (op.startsWith(QLatin1String("read:"))) {
            line = store.read(op.mid(5), QStringLiteral("<missing>"));
        } else {
            line = QStringLiteral("?");
        }
        std::printf("%s\n", line.toUtf8().constData());
    }
    return 0;
}
