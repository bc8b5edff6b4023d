// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/hotfolder/Settling.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace deckrun {

QStringList Settling::seen(const QHash<QString, FileState> &present, qint64 now)
{
    QStringList added;
    for (auto it = present.cbegin(); it != present.cend(); ++it) {
        if (m_candidates.contains(it.key()))
            continue;
        m_candidates.insert(it.key(), Candidate{it.value(), now, false});
        added << it.key();
    }
    m_candidates.removeIf(
        [&](const auto &candidate) { return !present.contains(candidate.key()); });
    return added;
}

void Settling::changed(const QString &name, qint64 now)
{
    const auto candidate = m_candidates.find(name);
    if (candidate == m_candidates.end())
        return;
    candidate->changedAt = now;
    candidate->looked = false;
}

void Settling::forget(const QString &name)
{
    m_candidates.remove(name);
}

std::optional<qint64> Settling::due(qint64 now) const
{
    std::optional<qint64> soonest;
    for (const Candidate &c : m_candidates) {
        const qint64 due = std::max<qint64>(c.changedAt + m_settle - now, 0);
        soonest = soonest ? std::min(*soonest, due) : due;
    }
    return soonest;
}

QStringList Settling::ready(qint64 now, const StateOf &stateOf, const Writers &writers)
{
    QStringList toLook;
    std::vector<std::pair<QDateTime, QString>> settled;
    for (auto it = m_candidates.begin(); it != m_candidates.end();) {
        Candidate &c = *it;
        const std::optional<FileState> state = stateOf(it.key());
        if (!state) {
            it = m_candidates.erase(it);
            continue;
        }
        if (*state != c.state) {
            // A change no event told of: it settles from now.
            c = Candidate{*state, now, false};
        } else if (now - c.changedAt >= m_settle) {
            if (c.looked)
                settled.emplace_back(c.state.modified, it.key());
            else
                toLook << it.key();
        }
        ++it;
    }
    if (!toLook.isEmpty()) {
        const QStringList writing = writers(toLook);
        for (const QString &name : std::as_const(toLook)) {
            Candidate &c = m_candidates[name];
            if (writing.contains(name)) {
                c.changedAt = now; // still being written: another look later
                continue;
            }
            c.looked = true;
            settled.emplace_back(c.state.modified, name);
        }
    }
    std::sort(settled.begin(), settled.end());
    QStringList names;
    for (auto &entry : settled)
        names << std::move(entry.second);
    return names;
}

} // namespace deckrun
