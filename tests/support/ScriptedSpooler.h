// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A print service of the test's own: what it says of each job, look after
// look, and what its printer supports.

#include "platform/Failure.h"
#include "platform/PrintSpooler.h"

#include <deque>
#include <map>

namespace deckrun::test {

class ScriptedSpooler final : public PrintSpooler {
public:
    /** One answer about a job: its status, none (the service forgot it), or no answer at all. */
    struct Answer {
        std::optional<JobStatus> status;
        bool fails = false;
    };

    int submit(const QString &, const QString &, const QString &, const JobOptions &) override
    {
        return 0;
    }
    bool acceptsJobs(const QString &) override { return true; }
    bool stopped(const QString &) override { return false; }
    std::vector<SpooledJob> jobs(const QString &) override { return {}; }
    /** The job's answers in turn; the last one again once they run out. */
    std::optional<JobStatus> jobStatus(int id) override
    {
        std::deque<Answer> &answers = script[id];
        const Answer answer = answers.empty() ? Answer{} : answers.front();
        if (answers.size() > 1)
            answers.pop_front();
        if (answer.fails)
            throw Failure(QStringLiteral("The print service does not answer."));
        return answer.status;
    }
    std::optional<QString> unsupported(const QString &, const QString &name,
                                       const QString &value) override
    {
        const auto listed = supported.find(name);
        if (listed == supported.end() || listed->second.contains(value))
            return std::nullopt;
        return listed->second.join(QLatin1Char(','));
    }

    std::map<int, std::deque<Answer>> script;
    std::map<QString, QStringList> supported; // by option; an option not here takes anything
};

} // namespace deckrun::test
