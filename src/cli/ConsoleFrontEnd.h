// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The console front end of the runs without a window (`deckrun --print`,
// `deckrun --watch`): dialogs that write to standard error, the choices and
// progress of a run as lines of text, and the two-signal stop.

#include "core/run/PrintRun.h"
#include "core/run/RunStop.h"
#include "platform/Dialogs.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>

namespace deckrun {

class StopSignals;

/** How a run without a window answers whether to go on while the application already runs. */
enum class WhenRunning {
    Refuse,      // says that nothing was printed and how to go on (--yes)
    GoOn,        // says it goes on, as --yes asked
    GoOnQuietly, // a watcher: it prints only on an application of its own (it waits while
                 // someone else's runs), kept from the file before
};

/**
 * The dialogs of a run without a window: every message goes to standard error
 * in full; error reports are counted and kept for whoever files them (a
 * watcher's report beside a failed file). Nothing else is asked: input boxes
 * and file dialogs are cancelled.
 */
class ConsoleDialogs final : public Dialogs {
public:
    explicit ConsoleDialogs(WhenRunning whenRunning) : m_whenRunning(whenRunning) {}

    Answer messageBox(const QString &text, const QString &title, Buttons buttons,
                      Icon icon) override;
    QString inputBox(const QString &, const QString &, const QString &) override { return {}; }
    FileDialogResult openFiles(const FileDialogRequest &) override { return {}; }
    QString browseForFolder(const QString &, const QString &) override { return {}; }

    int errorReports() const { return m_errorReports; }
    /** The error reports shown since the last call, as standard error showed them. */
    QStringList takeReports() { return std::exchange(m_reports, {}); }
    /**
     * The file in hand: the messages from now on show its path escaped (as
     * `shownAs` when given), so that no name writes a line of its own into them.
     */
    void setFileInHand(const QString &path, const QString &shownAs = {});

private:
    QString withNamesEscaped(QString text) const;

    WhenRunning m_whenRunning;
    int m_errorReports = 0;
    QStringList m_reports;
    QString m_inHand, m_inHandShownAs;
};

/**
 * Turns SIGINT and SIGTERM (on Windows Ctrl+C and Ctrl+Break) into requests
 * to stop the run: the first lets the file in hand end and says so; a second
 * stops the applications at once and ends Deckrun by that signal.
 */
class ConsoleStop final : public QObject {
    Q_OBJECT

public:
    /**
     * `stopNowOutsideARun`: what a second request stops besides the
     * applications of a run in progress (the platform's own). `laterText`: added to the second
     * request's message (what becomes of the file in hand).
     */
    ConsoleStop(std::function<void()> stopNowOutsideARun, QString laterText = {});
    ~ConsoleStop() override;

    RunStop &runStop() { return m_stop; }
    bool requested() const { return m_stop.requested(); }
    /** The name of the signal that asked first ("SIGTERM"); empty when none did. */
    const QString &signalName() const { return m_name; }
    /** Between files (a watcher waiting): a first request ends at once, through `stopIdle`. */
    void setIdle(std::function<bool()> idle, std::function<void()> stopIdle);
    /** Ends Deckrun by the signal that asked to stop, if one did. */
    void endIfAsked() const;

private:
    void onSignal(int signal, const QString &name);

    RunStop m_stop;
    std::function<void()> m_stopNowOutsideARun;
    QString m_laterText;
    std::function<bool()> m_idle;
    std::function<void()> m_stopIdle;
    StopSignals *m_signals;
    int m_signal = 0;
    QString m_name;
};

/** What the console shows of a run. */
enum class ConsoleLines {
    EachFileAndDone, // "Processing: NAME (i of N)" for each file, "Done." at the end
    None,            // a watcher writes lines of its own as it takes and moves files
};

/** The choices and the progress of a run without a window. */
class ConsoleRun final : public PrintChoices, public PrintProgress {
public:
    /** `dialogs` hear of each file as it begins (a watcher names its file in hand itself). */
    ConsoleRun(QString printer, int pause, ConsoleLines lines, const ConsoleStop &stop,
               ConsoleDialogs &dialogs)
        : m_printer(std::move(printer)), m_pause(pause), m_lines(lines), m_stop(stop),
          m_dialogs(dialogs)
    {}

    // PrintChoices
    QString printerName() const override { return m_printer; }
    QString pauseText() const override;

    // PrintProgress: lines of text; the window's bar and pointer have no place here.
    void showBusy(bool) override {}
    void showPercent(int) override {}
    void showText(const QString &) override {}
    void fileStarted(int position, int count, const QString &path) override;
    void fileEnded(const FileOutcome &outcome) override;
    bool announceDone() override;

    /** Told of each file's outcome the moment it is settled (a watcher notes the job then). */
    void setOnFileEnded(std::function<void(const FileOutcome &)> told)
    {
        m_onFileEnded = std::move(told);
    }
    int printed() const { return m_printed; }
    /** The outcome of the last file that ended since the last call. */
    std::optional<FileOutcome> takeOutcome() { return std::exchange(m_outcome, std::nullopt); }

private:
    QString m_printer;
    int m_pause;
    ConsoleLines m_lines;
    const ConsoleStop &m_stop;
    ConsoleDialogs &m_dialogs;
    int m_printed = 0;
    std::optional<FileOutcome> m_outcome;
    std::function<void(const FileOutcome &)> m_onFileEnded;
};

} // namespace deckrun
