// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/hotfolder/ClaimNote.h"

#include <QCryptographicHash>
#include <QStringList>

namespace deckrun {

namespace {

const QString Suffix = QStringLiteral(".deckrun");

struct Word {
    ClaimNote::Kind kind;
    const char *text;
};
constexpr Word Words[] = {{ClaimNote::Kind::Job, "job"},
                          {ClaimNote::Kind::Printed, "printed"},
                          {ClaimNote::Kind::Failed, "failed"}};

} // namespace

QString ClaimNote::text() const
{
    for (const Word &word : Words)
        if (word.kind == kind)
            return QStringLiteral("%1 %2").arg(QLatin1String(word.text)).arg(number);
    return {};
}

ClaimNote ClaimNote::read(const QString &text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return {};
    for (const Word &word : Words)
        if (parts.front() == QLatin1String(word.text))
            return {word.kind, parts.size() >= 2 ? parts.at(1).toInt() : 0};
    return {};
}

QString ClaimNote::nameFor(const QString &claimedName)
{
    constexpr qsizetype Room = 255;
    QString whole = QLatin1Char('.') + claimedName + Suffix;
    if (whole.toUtf8().size() <= Room)
        return whole;
    // The whole name's hash keeps two long names with one beginning apart.
    const QString tail = QLatin1Char('~') +
                         QString::fromLatin1(QCryptographicHash::hash(claimedName.toUtf8(),
                                                                      QCryptographicHash::Sha256)
                                                 .toHex()
                                                 .left(16)) +
                         Suffix;
    QString start = claimedName;
    while (!start.isEmpty() && (QLatin1Char('.') + start + tail).toUtf8().size() > Room) {
        start.chop(1);
        if (!start.isEmpty() && start.back().isHighSurrogate())
            start.chop(1); // never half a character
    }
    return QLatin1Char('.') + start + tail;
}

bool ClaimNote::isNoteName(const QString &name)
{
    return name.startsWith(QLatin1Char('.')) && name.endsWith(Suffix);
}

} // namespace deckrun
