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
        // A content that could not be read has no identity: only the noted id tells.
        const bool ours = (notedJobId > 0 && job.id == notedJobId) ||
                          (!identity.isEmpty() && job.title.endsWith(tail));
        if (ours && job.state != SpooledJob::State::Cancelled &&
            job.state != SpooledJob::State::Aborted)
            return job;
    }
    return std::nullopt;
}

Reconciled reconcile(const Claimed &claim, PrintSpooler *spooler, const QString &printer)
{
    using Outcome = Reconciled::Outcome;
    switch (claim.note.kind) {
    case ClaimNote::Kind::Printed:
        return {.outcome = Outcome::Printed, .recorded = true, .jobId = claim.note.number};
    case ClaimNote::Kind::Failed:
        return {.outcome = Outcome::Failed, .recorded = true, .failedStep = claim.note.number};
    case ClaimNote::Kind::Job:
    case ClaimNote::Kind::None:
        break;
    }
    if (!spooler)
        return {};
    std::optional<SpooledJob> job;
    try {
        const int noted = claim.note.kind == ClaimNote::Kind::Job ? claim.note.number : 0;
        job = printedJob(spooler->jobs(printer), claim.identity, noted);
    } catch (const std::exception &e) {
        return {.unknown = QString::fromLocal8Bit(e.what())};
    }
    if (!job)
        return {};
    return {.outcome = Outcome::Printed, .jobId = job->id};
}

} // namespace deckrun
