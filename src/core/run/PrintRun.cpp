// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/PrintRun.h"

#include "core/common/ErrorReport.h"
#include "core/queue/QueueModel.h"
#include "core/run/PowerPoint1.h"
#include "core/run/RunRecorder.h"
#include "platform/EventLoop.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/Logging.h"
#include "platform/Platform.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace deckrun {

namespace {

constexpr double SecondsPerDay = 86400.0;

double elapsedSince(double start, double now)
{
    // The clock restarts at midnight: a smaller reading means a new day began.
    return now >= start ? now - start : now + SecondsPerDay - start;
}

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

QByteArray RunLogLine(const FileOutcome &outcome)
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
        line += ",\"outcome\":\"printed\"}";
        return line;
    }
    line += ",\"outcome\":\"failed\",\"step\":" + QByteArray::number(outcome.failedStep) +
            ",\"description\":";
    appendJsonString(line, outcome.description);
    line += '}';
    return line;
}

bool RunMayGoOn(StepRunner &r, Platform &platform, const QueueModel &queue, bool &printing)
{
    const auto finish = [&] { r.step(154, [&] { printing = false; }); };
    if (r.test(104, [&] { return queue.count() == 0; })) {
        r.step(152, [&] {
            platform.dialogs->messageBox(QStringLiteral("No files added."), QString(), Buttons::Ok,
                                         Icon::None);
        });
        finish();
        return false;
    }
    if (r.test(106,
               [&] { return AbortForRunningPowerPoint(*platform.office, *platform.dialogs); })) {
        finish();
        return false;
    }
    return true;
}

QString PrintRunLocation()
{
    return FormLocation("PushButton3_Click");
}

void WaitSeconds(EventLoop &events, double seconds)
{
    WaitSeconds(events, seconds, {});
}

void WaitSeconds(EventLoop &events, double seconds, const std::function<bool()> &endEarly)
{
    if (!(seconds > 0))
        return;
    const double start = events.secondsSinceMidnight();
    while (elapsedSince(start, events.secondsSinceMidnight()) < seconds) {
        events.pumpEvents();
        if (endEarly && endEarly())
            return;
        const double remaining = seconds - elapsedSince(start, events.secondsSinceMidnight());
        if (remaining > 0)
            events.sleepForEvents(remaining);
    }
}

QString FileNameFromPath(const QString &path)
{
    const qsizetype last = path.lastIndexOf(pathSeparator());
    return last < 0 ? path : path.mid(last + 1);
}

int ProgressPercent(std::int32_t i, std::int32_t count)
{
    if (count <= 0)
        return 100; // no rows left to count against: the file in hand is the last one
    const std::int64_t percent = static_cast<std::int64_t>(i) * 100 / count;
    return static_cast<int>(std::clamp<std::int64_t>(percent, 0, 100));
}

int PauseDigit(const QString &pauseText)
{
    if (pauseText.isEmpty() || pauseText.front() < QLatin1Char('0') ||
        pauseText.front() > QLatin1Char('9'))
        throw Failure(QStringLiteral("Type mismatch"), code::TypeMismatch);
    return pauseText.front().unicode() - u'0';
}

void PrintQueue(Platform &platform, const QueueModel &queue, const PrintChoices &choices,
                PrintProgress &progress, bool &printing)
{
    EventLoop &events = *platform.events;
    StepRunner r(*platform.dialogs, PrintRunLocation());

    if (r.test(100, [&] { return printing; }))
        return;
    r.step(102, [&] { printing = true; });
    const PrintingFlag clearOnExit(printing);
    if (!RunMayGoOn(r, platform, queue, printing))
        return;
    const auto finish = [&] { r.step(154, [&] { printing = false; }); };

    std::int32_t rowsToPrint = 0;
    std::int32_t i = 1;
    QString path; // kept from one file to the next when a row cannot be read
    std::shared_ptr<PresentationApp> application;
    std::shared_ptr<Presentation> presentation;

    // Each file's first failing step, for the run log.
    RunRecorder recorder(platform, progress);
    std::optional<FileOutcome> outcome;
    bool lineWritten = false; // a failure after it no longer changes the file's line
    const auto writeLine = [&] {
        recorder.fileEnded(*outcome);
        lineWritten = true;
    };
    r.setReportListener([&](int step, const QString &description) {
        if (outcome && outcome->printed() && !lineWritten) {
            outcome->failedStep = step;
            outcome->description = description;
        }
    });
    const auto stopping = [&] { return choices.stopRequested(); };

    r.step(108, [&] {
        rowsToPrint = queue.count();
        i = 1;
    });
    while (i <= rowsToPrint && !stopping()) {
        outcome.emplace();
        lineWritten = false;
        r.step(110, [&] { progress.showBusy(true); });
        // A row that is gone (the list was emptied meanwhile) is reported and
        // skipped: printing the path in hand again would print a file twice.
        if (!r.step(112, [&] { path = queue.textAt(i); })) {
            outcome.reset(); // no file: nothing to record
            ++i;
            continue;
        }
        outcome->file = path;
        recorder.fileStarted(i, rowsToPrint, path);
        r.step(114, [&] { progress.showPercent(ProgressPercent(i, queue.count())); });
        r.step(116,
               [&] { progress.showText(QStringLiteral("Processing: ") + FileNameFromPath(path)); });
        r.step(118, [&] { events.pumpEvents(); });
        r.step(120, [&] {
            CheckPresentationFile(*platform.files, *platform.office, path);
            application = OpenPresentation(*platform.office, path);
        });
        r.step(122, [&] { presentation = requiredObject(application).activePresentation(); });
        r.step(124, [&] { WaitSeconds(events, 1, stopping); });
        r.step(126, [&] {
            outcome->printer = choices.printerName();
            requiredObject(application).setActivePrinter(outcome->printer);
        });
        r.step(128, [&] { requiredObject(presentation).setPrintInBackground(false); });
        // Once the job is confirmed the file's line goes to the log at once,
        // before the quit and the waits: a run killed from here on has
        // recorded every file that reached the printer.
        const bool handedOver = r.step(130, [&] { requiredObject(presentation).printOut(); });
        if (handedOver)
            writeLine();
        r.step(132, [&] { requiredObject(application).quit(); });
        r.step(134, [&] { WaitSeconds(events, 1, stopping); });
        r.step(136, [&] { presentation.reset(); });
        r.step(138, [&] { application.reset(); });
        // A file that never reached the printer is recorded once its steps
        // are done, before the pause.
        if (!handedOver)
            writeLine();
        outcome.reset();
        r.step(140, [&] { WaitSeconds(events, PauseDigit(choices.pauseText()) + 1, stopping); });
        r.step(142, [&] { ++i; });
    }

    r.step(144, [&] { progress.showBusy(false); });
    r.step(146, [&] { progress.showPercent(0); });
    r.step(148, [&] { progress.showText(QStringLiteral("Progress Bar")); });
    r.step(150, [&] {
        if (!progress.announceDone())
            platform.dialogs->messageBox(QStringLiteral("Done."), QString(), Buttons::Ok,
                                         Icon::None);
    });
    finish();
}

} // namespace deckrun
