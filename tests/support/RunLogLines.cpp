// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/RunLogLines.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <stdexcept>

namespace deckrun::test {

std::vector<QJsonObject> readRunLog(const QString &path)
{
    std::vector<QJsonObject> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    QByteArray all = file.readAll();
    all.truncate(all.lastIndexOf('\n') + 1); // a line being written is not read yet
    for (const QByteArray &line : all.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            throw std::runtime_error("not a JSON object: " + line.toStdString());
        lines.push_back(document.object());
    }
    return lines;
}

QStringList runLogOutcomes(const QString &path)
{
    QStringList lines;
    for (const QJsonObject &o : readRunLog(path)) {
        if (o.contains(QLatin1String("message")))
            continue; // what became of a job at the printer, after its file's line
        EXPECT_TRUE(
            QDateTime::fromString(o[QLatin1String("time")].toString(), Qt::ISODateWithMs).isValid())
            << o[QLatin1String("time")].toString().toStdString();
        QString text = QFileInfo(o[QLatin1String("file")].toString()).fileName() +
                       QLatin1Char(' ') + o[QLatin1String("outcome")].toString();
        if (o.contains(QLatin1String("step")))
            text += QStringLiteral(" %1: %2")
                        .arg(o[QLatin1String("step")].toInt())
                        .arg(o[QLatin1String("description")].toString());
        lines << text + QStringLiteral(" on ") + o[QLatin1String("printer")].toString();
    }
    return lines;
}

} // namespace deckrun::test
