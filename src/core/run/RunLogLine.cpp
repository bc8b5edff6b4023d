// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/RunLogLine.h"

#include "core/run/JobFollower.h"
#include "core/run/PrintSettingsText.h"

namespace deckrun {

namespace {

/** `text` as a JSON string, quotes included; every character kept, control characters escaped. */
void appendJsonString(QByteArray &out, const QString &text)
{
    out += '"';
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20) {
            out += "\\u00";
            out += QByteArray::number(byte, 16).rightJustified(2, '0');
        } else {
            out += c;
        }
    }
    out += '"';
}

/** The line's start: {"time":...,"file":...,"printer":... */
QByteArray lineStart(const QDateTime &when, const QString &file, const QString &printer)
{
    // The offset from UTC is written out, so that lines from either side of a
    // change of clocks still sort and compare.
    const QDateTime time = when.toOffsetFromUtc(when.offsetFromUtc());
    QByteArray line = "{\"time\":";
    appendJsonString(line, time.toString(Qt::ISODateWithMs));
    line += ",\"file\":";
    appendJsonString(line, file);
    line += ",\"printer\":";
    appendJsonString(line, printer);
    return line;
}

} // namespace

QByteArray runLogLine(const FileOutcome &outcome)
{
    QByteArray line = lineStart(outcome.time, outcome.file, outcome.printer);
    if (outcome.printed()) {
        line += ",\"outcome\":\"printed\"";
    } else {
        line += ",\"outcome\":\"failed\",\"step\":" + QByteArray::number(outcome.failedStep) +
                ",\"description\":";
        appendJsonString(line, outcome.description);
    }
    if (outcome.jobId > 0)
        line += ",\"job\":" + QByteArray::number(outcome.jobId);
    // PowerPoint prints itself: no job to name, but the settings it printed with.
    if (outcome.jobId > 0 || !outcome.settings.isEmpty())
        line += ",\"settings\":" + settingsJson(outcome.settings);
    if (!outcome.notice.isEmpty()) {
        line += ",\"notice\":";
        appendJsonString(line, outcome.notice);
    }
    line += '}';
    return line;
}

QByteArray jobLogLine(const JobNews &news)
{
    QByteArray line = lineStart(news.time, news.job.file, news.job.printer);
    line += ",\"job\":" + QByteArray::number(news.job.id) + ",\"outcome\":";
    appendJsonString(line, jobOutcomeName(news.outcome));
    line += ",\"message\":";
    appendJsonString(line, news.message);
    line += '}';
    return line;
}

} // namespace deckrun
