// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/hotfolder/JobIdentity.h"

namespace deckrun {

QString claimIdentity(const QString &watcher, const QByteArray &contentHash)
{
    return QStringLiteral("deckrun %1 %2")
        .arg(watcher, QString::fromLatin1(contentHash.toHex().left(12)));
}

QString claimJobName(const QString &fileName, const QString &identity)
{
    constexpr qsizetype Room = 255;
    const QString tail = QStringLiteral(" [") + identity + QLatin1Char(']');
    QString name = fileName;
    while (!name.isEmpty() && (name + tail).toUtf8().size() > Room) {
        name.chop(1);
        if (!name.isEmpty() && name.back().isHighSurrogate())
            name.chop(1); // never half a character
    }
    return name + tail;
}

std::optional<SpooledJob> printedJob(const std::vector<SpooledJob> &jobs, const QString &identity,
                                     int notedJobId)
{
    const QString tail = QStringLiteral(" [") + identity + QLatin1Char(']');
    for (const SpooledJob &job : jobs) {
        const bool ours = (notedJobId > 0 && job.id == notedJobId) || job.title.endsWith(tail);
        if (ours && job.state != SpooledJob::State::Cancelled &&
            job.state != SpooledJob::State::Aborted)
            return job;
    }
    return std::nullopt;
}

int notedJobId(const QString &note)
{
    const QStringList words = note.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return words.size() >= 2 ? words.at(1).toInt() : 0;
}

} // namespace deckrun
