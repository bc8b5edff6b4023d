// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A print service of the test's own: what it says of each job, look after
// look, what each job carried, and what its printers support.

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
        return ++lastJob;
    }
    bool acceptsJobs(const QString &) override { return true; }
    bool stopped(const QString &) override { return false; }
    std::vector<SpooledJob> jobs(const QString &) override { return {}; }

    /** The job's answers in turn; the last one again once they run out. */
    std::optional<JobStatus> jobStatus(int id) override
    {
        std::deque<Answer> &answers = script[id];
        if (answers.empty())
            return std::nullopt;
        const Answer answer = answers.front();
        if (answers.size() > 1)
            answers.pop_front();
        if (answer.fails)
            throw Failure(QStringLiteral("The print service does not answer."));
        return answer.status;
    }
    JobOptions jobOptions(int id) override { return carried[id]; }
    std::optional<QString> unsupported(const QString &, const QString &name,
                                       const QString &value) override
    {
        ++questions;
        if (!describable)
            throw Failure(QStringLiteral("The printer cannot be described."));
        const auto listed = supported.find(name);
        if (listed == supported.end() || listed->second.contains(value))
            return std::nullopt;
        return listed->second.join(QLatin1Char(','));
    }

    std::map<int, std::deque<Answer>> script;
    std::map<int, JobOptions> carried;
    std::map<QString, QStringList> supported; // by option; an option not here takes anything
    bool describable = true;
    int questions = 0;
    int lastJob = 0;
};

} // namespace deckrun::test
