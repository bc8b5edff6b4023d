// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "platform/PrintSettings.h"

namespace deckrun {

struct JobNews;

/** How one file of a run ended, as the run log records it. */
struct FileOutcome {
    QDateTime time; // when the run log's line was written
    QString file;
    QString printer;    // the printer the file was sent to
    int failedStep = 0; // the first step that failed; 0 when every step passed
    QString description;
    int jobId = 0;          // the print service's job; 0 where none is known
    PrintSettings settings; // what the file printed with, where the application said
    QString notice;         // what the file asked for and did not print, in a sentence

    bool printed() const { return failedStep == 0; }
};

/**
 * The run log's line for `outcome`: one JSON object with "time" (ISO 8601,
 * with the offset from UTC), "file", "printer" and "outcome" ("printed" or
 * "failed"); a failed file adds "step" and "description"; a known print job
 * adds "job" (its id), and a print whose settings are known (a job's, or
 * what PowerPoint printed with) "settings"; what it asked for and did not
 * print, "notice".
 */
QByteArray runLogLine(const FileOutcome &outcome);

} // namespace deckrun

namespace deckrun {

/**
 * The run log's line for what became of a file's print job after its own
 * line: {"time", "file", "printer", "job", "outcome" ("completed",
 * "canceled", "aborted", "stopped" or "unknown"), "message" (the printer's
 * words)}.
 */
QByteArray jobLogLine(const JobNews &news);

} // namespace deckrun
