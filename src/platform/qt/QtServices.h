// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The Qt implementations of the platform services.

#include "platform/Dialogs.h"
#include "platform/EventLoop.h"
#include "platform/Printers.h"
#include "platform/ProgramControl.h"
#include "platform/RunLog.h"
#include "platform/SettingsStore.h"
#include "platform/Shell.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSettings>
#include <QWidget>

#include <memory>
#include <random>
#include <utility>

namespace deckrun {

class PresentationAutomation;

/**
 * The real dialogs. Every one is owned by the main window (modal to it and
 * centred on it) and shows its texts as plain text, exactly as they were
 * assembled: a path with "<b>" in it is not markup.
 */
class QtDialogs final : public Dialogs {
public:
    Answer messageBox(const QString &text, const QString &title, Buttons buttons,
                      Icon icon) override;
    QString inputBox(const QString &prompt, const QString &title,
                     const QString &defaultAnswer) override;
    FileDialogResult openFiles(const FileDialogRequest &request) override;
    QString browseForFolder(const QString &title, const QString &initialFolder) override;
    void setOwnerWindow(QWidget *window) override { m_owner = window; }

    /** Shows lone carriage returns as line breaks, as the messages were written for. */
    static QString displayText(const QString &text);
    /**
     * "Name|pattern|Name|pattern|" in the form the Qt file dialog takes. The
     * dialog shows each name as given; "*.*" matches every name, also one
     * without a dot, as it always did.
     */
    static QString qtFilter(const QString &filter);
    /** The most characters the dialog's name list holds; more is "too many files". */
    static constexpr int NameBufferSize = 32767;

private:
    QWidget *owner() const;

    QPointer<QWidget> m_owner;
};

/**
 * The per-user store: Qt's native settings for organisation "Orvanta",
 * application "Deckrun", section "Deckrun", without Qt's fallbacks (a missing
 * key yields the caller's default, never a value of another store). The
 * second constructor keeps the values in an INI file of the caller's choosing
 * (tests, benchmarks). Every read and write looks at the store afresh, so one
 * problem (a malformed line, a write that failed) never taints a later write.
 */
class QtSettingsStore final : public SettingsStore {
public:
    QtSettingsStore();
    explicit QtSettingsStore(const QString &iniFile);

    QString read(const QString &key, const QString &defaultValue) override;
    void write(const QString &key, const QString &value) override;

private:
    std::unique_ptr<QSettings> open() const;

    QString m_iniFile; // empty: the native store
};

class QtShell final : public Shell {
public:
    void openUrl(const QUrl &url) override;
    void openFolder(const QString &path) override;
};

class QtEventLoop final : public EventLoop {
public:
    QtEventLoop();
    void pumpEvents() override;
    double secondsSinceMidnight() override;
    void sleepForEvents(double seconds) override;
    double randomNumber() override;

private:
    std::mt19937 m_random;
    QElapsedTimer m_sinceEvents; // since events were last handled
};

class QtPrinters final : public Printers {
public:
    QString defaultPrinterName() override;
    QStringList printerNames() override;
};

/**
 * The run log as a file of JSON lines. Each line is appended whole or not at
 * all (appendWhole) to a file opened for appending and closed again, so lines
 * of runs that overlap never mix, a full disk leaves no fragment, and a line,
 * once written, survives whatever follows.
 */
class FileRunLog final : public RunLog {
public:
    explicit FileRunLog(QString path) : m_path(std::move(path)) {}
    void append(const QByteArray &line) override;
    QString location() const override { return m_path; }

private:
    QString m_path;
};

class QtProgramControl final : public ProgramControl {
public:
    explicit QtProgramControl(PresentationAutomation &office) : m_office(office) {}
    QString programFolder() override;
    [[noreturn]] void endNow() override;
    [[noreturn]] void refuseToStart() override;

private:
    [[noreturn]] void end(int status);

    PresentationAutomation &m_office;
};

} // namespace deckrun
