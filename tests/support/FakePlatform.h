// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Test doubles of the platform services, and a Platform made of them.

#include "platform/Failure.h"
#include "platform/Platform.h"
#include "support/ProgramEnded.h"
#include "support/SimPresentation.h"

#include <QHash>
#include <QStringList>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <memory>

namespace deckrun::test {

/** One message box as it was shown. */
struct ShownMessage {
    QString text;
    QString title; // as shown: the application title when none was given
    Buttons buttons;
    Icon icon;
};

/**
 * Dialogs that answer from a script and record what was shown. Unscripted
 * message boxes answer OK (or No); unscripted input boxes and browsers cancel.
 */
class ScriptedDialogs final : public Dialogs {
public:
    Answer messageBox(const QString &text, const QString &title, Buttons buttons,
                      Icon icon) override;
    QString inputBox(const QString &prompt, const QString &title,
                     const QString &defaultAnswer) override;
    FileDialogResult openFiles(const FileDialogRequest &request) override;
    QString browseForFolder(const QString &title, const QString &initialFolder) override;

    std::vector<ShownMessage> messages;
    std::deque<Answer> answers;
    std::deque<QString> inputAnswers;
    QStringList inputPrompts, inputDefaults;
    std::deque<std::function<FileDialogResult(const FileDialogRequest &)>> fileAnswers;
    std::vector<FileDialogRequest> fileRequests;
    std::deque<QString> folderAnswers;
    QStringList folderTitles, folderInitials;
    /** Called at every message box, before it answers (lets a test act "during" a dialog). */
    std::function<void(const ShownMessage &)> onMessage;

    /** Only the error reports (title "Application Error"). */
    std::vector<ShownMessage> reports() const;
    /**
     * The step numbers of the error reports, in order; -1 for a report that
     * does not name `location` ("in ...PushButton3_Click ").
     */
    std::vector<int> reportedSteps(const QString &location) const;
};

/** A settings store in memory; `failWrites` makes every write fail. */
class MemorySettings final : public SettingsStore {
public:
    QString read(const QString &key, const QString &defaultValue) override;
    void write(const QString &key, const QString &value) override;

    QHash<QString, QString> values;
    QStringList writes; // "key=value" in order
    bool failWrites = false;
};

class RecordingShell final : public Shell {
public:
    void openUrl(const QUrl &url) override { urls << url.toString(); }
    void openFolder(const QString &path) override { folders << path; }
    QStringList urls, folders;
};

/**
 * A clock of the test's own: time moves only when the code sleeps or pumps.
 * `pumpAction` runs at every pump, as window events would.
 */
class FakeEventLoop final : public EventLoop {
public:
    void pumpEvents() override;
    double secondsSinceMidnight() override { return now; }
    void sleepForEvents(double seconds) override;
    double randomNumber() override { return random; }

    double now = 36000.0; // 10:00
    double random = 0.5;
    double secondsPerPump = 0.0;
    int pumps = 0;
    double slept = 0.0;
    /** When above 0, a sleep ends after at most this long, as if an event had woken it. */
    double wakeAfter = 0.0;
    int sleeps = 0;
    std::function<void()> pumpAction;
};

class FakePrinters final : public Printers {
public:
    QString defaultPrinterName() override { return defaultName; }
    QStringList printerNames() override { return names; }
    QString defaultName = QStringLiteral("PDF");
    QStringList names = {QStringLiteral("Office Laser"), QStringLiteral("PDF")};
};

class FakeProgramControl final : public ProgramControl {
public:
    QString programFolder() override { return folder; }
    [[noreturn]] void endNow() override;
    QString folder;
    int ends = 0;
};

/** A Platform built from the doubles above, with the real file system. */
struct FakePlatform {
    FakePlatform();

    Platform platform;
    ScriptedDialogs *dialogs;
    MemorySettings *settings;
    RecordingShell *shell;
    FakeEventLoop *events;
    FakePrinters *printers;
    SimAutomation *office;
    FakeProgramControl *program;

    /** The run log: the real file, in a temporary folder of its own. */
    QString runLogPath() const;

private:
    QTemporaryDir m_runLogFolder;
};

} // namespace deckrun::test
