// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/RunLogLine.h"

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

} // namespace

QByteArray runLogLine(const FileOutcome &outcome)
{
    // The offset from UTC is written out, so that lines from either side of a
    // change of clocks still sort and compare.
    const QDateTime time = outcome.time.toOffsetFromUtc(outcome.time.offsetFromUtc());
    QByteArray line = "{\"time\":";
    appendJsonString(line, time.toString(Qt::ISODateWithMs));
    line += ",\"file\":";
    appendJsonString(line, outcome.file);
    line += ",\"printer\":";
    appendJsonString(line, outcome.printer);
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

} // namespace deckrun
