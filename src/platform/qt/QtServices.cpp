// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/QtServices.h"

#include "platform/Failure.h"
#include "platform/Logging.h"
#include "platform/PresentationAutomation.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrinterInfo>
#include <QStandardPaths>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace deckrun {

namespace {
const QString Section = QStringLiteral("Deckrun");
}

// --- dialogs ---------------------------------------------------------------

QString QtDialogs::displayText(const QString &text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

QString QtDialogs::qtFilter(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty())
            continue;
        // Qt reads the patterns from the last brackets and, with the filter
        // details hidden, shows what stands before them: the name as given.
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString &pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == QLatin1String("*.*"))
                pattern = QStringLiteral("*"); // Qt's "*.*" needs a dot in the name
        }
        entries << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return entries.join(QLatin1String(";;"));
}

QWidget *QtDialogs::owner() const
{
    return m_owner ? m_owner.data() : QApplication::activeWindow();
}

namespace {

// Qt's own dialogs everywhere but on Windows, where the system's are the original ones.
void useOurDialog(QFileDialog &dialog)
{
#ifndef Q_OS_WIN
    dialog.setOption(QFileDialog::DontUseNativeDialog);
#else
    Q_UNUSED(dialog);
#endif
}

/**
 * The files the user picked. Qt's own dialog answers with the rows selected
 * in its list whenever there are any, and its list shows one folder only:
 * names typed in the name box from another folder ("a.ppt" "B/b.ppt") would
 * be lost, or another file of the same name taken. The name box holds what
 * the user last typed or clicked, in Qt's quoted form, so it decides when
 * every name in it is an existing file.
 */
QStringList pickedFiles(const QFileDialog &dialog)
{
    QStringList selected = dialog.selectedFiles(); // returned as it is when nothing was typed
    const auto *nameBox = dialog.findChild<const QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (!nameBox || nameBox->text().trimmed().isEmpty())
        return selected;
    const QString text = nameBox->text();
    QStringList names;
    if (!text.contains(QLatin1Char('"'))) {
        names << text;
    } else {
        const QStringList tokens = text.split(QLatin1Char('"'));
        for (qsizetype i = 1; i < tokens.size(); i += 2) // "one" "two": every other token
            names << tokens.at(i);
    }
    const QDir folder = dialog.directory();
    QStringList typed;
    for (const QString &name : std::as_const(names)) {
        const QString path = QDir::cleanPath(folder.absoluteFilePath(name));
        if (!QFileInfo(path).isFile())
            return selected; // not a list of files: Qt's answer stands
        typed << path;
    }
    return typed;
}

} // namespace

Answer QtDialogs::messageBox(const QString &text, const QString &title, Buttons buttons, Icon icon)
{
    QMessageBox box(icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                    title.isEmpty() ? applicationTitle() : title, QString(),
                    buttons == Buttons::YesNo ? (QMessageBox::Yes | QMessageBox::No)
                                              : QMessageBox::Ok,
                    owner());
    box.setTextFormat(Qt::PlainText);
    box.setText(displayText(text));
    box.setWindowModality(Qt::ApplicationModal);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Ok:
        return Answer::Ok;
    default:
        return Answer::Cancel;
    }
}

QString QtDialogs::inputBox(const QString &prompt, const QString &title,
                            const QString &defaultAnswer)
{
    QInputDialog dialog(owner());
    dialog.setWindowTitle(title.isEmpty() ? applicationTitle() : title);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setLabelText(displayText(prompt));
    dialog.setTextValue(defaultAnswer);
    for (QLabel *label : dialog.findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
    dialog.setWindowModality(Qt::ApplicationModal);
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

FileDialogResult QtDialogs::openFiles(const FileDialogRequest &request)
{
    QFileDialog dialog(owner(), request.title);
    useOurDialog(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilter(qtFilter(request.filter));
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    dialog.setWindowModality(Qt::ApplicationModal);
    FileDialogResult result;
    if (dialog.exec() != QDialog::Accepted)
        return result;
    const QStringList paths = pickedFiles(dialog);
    if (paths.isEmpty())
        return result;
    if (paths.size() == 1) {
        result.names = {QDir::toNativeSeparators(paths.first())};
        return result;
    }
    // Folder and bare names only when every file lies in that one folder;
    // otherwise each file keeps its own full path.
    const QString folder = QFileInfo(paths.first()).absolutePath();
    const bool oneFolder = std::all_of(paths.begin(), paths.end(), [&](const QString &p) {
        return QFileInfo(p).absolutePath() == folder;
    });
    qsizetype used = 0;
    if (oneFolder) {
        result.folder = QDir::toNativeSeparators(folder);
        used += result.folder.size() + 1;
    }
    for (const QString &p : paths) {
        result.names << (oneFolder ? QFileInfo(p).fileName() : QDir::toNativeSeparators(p));
        used += result.names.last().size() + 1;
    }
    if (used > NameBufferSize)
        throw Failure(QStringLiteral("The file name buffer is too small."),
                      code::FileNameBufferTooSmall);
    return result;
}

QString QtDialogs::browseForFolder(const QString &title, const QString &initialFolder)
{
    QFileDialog dialog(owner(), title, initialFolder);
    useOurDialog(dialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    const QString folder = dialog.selectedFiles().first();
    return folder.isEmpty() ? QString() : QDir::toNativeSeparators(folder);
}

// --- settings --------------------------------------------------------------

QtSettingsStore::QtSettingsStore() = default;

QtSettingsStore::QtSettingsStore(const QString &iniFile) : m_iniFile(iniFile) {}

std::unique_ptr<QSettings> QtSettingsStore::open() const
{
    auto settings =
        m_iniFile.isEmpty()
            ? std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                          QStringLiteral("Orvanta"), QStringLiteral("Deckrun"))
            : std::make_unique<QSettings>(m_iniFile, QSettings::IniFormat);
    // No organisation-wide or system-wide stand-ins: only Deckrun's own values count.
    settings->setFallbacksEnabled(false);
    return settings;
}

QString QtSettingsStore::read(const QString &key, const QString &defaultValue)
{
    const auto settings = open();
    const QVariant value = settings->value(Section + QLatin1Char('/') + key);
    if (settings->status() != QSettings::NoError)
        qCDebug(lcSettings) << "unreadable store" << settings->fileName() << "status"
                            << settings->status() << "reading" << key;
    return value.isValid() ? value.toString() : defaultValue;
}

void QtSettingsStore::write(const QString &key, const QString &value)
{
    const QString address = Section + QLatin1Char('/') + key;
    QSettings::Status status = QSettings::NoError;
    QString where;
    {
        const auto settings = open();
        where = settings->fileName();
        settings->setValue(address, value);
        settings->sync(); // replaced at once: the program may end at any moment
        status = settings->status();
    }
    if (status == QSettings::FormatError) {
        // QSettings keeps the first problem it met: a malformed line read
        // before this write hides whether the write itself went through (Qt
        // writes the store anew in its own form when it can). A fresh look at
        // the store tells.
        const auto check = open();
        const QVariant stored = check->value(address);
        if (check->status() == QSettings::NoError && stored.isValid() && stored.toString() == value)
            status = QSettings::NoError;
    }
    if (status != QSettings::NoError)
        throw Failure(QStringLiteral("The setting \"%1\" could not be saved in %2.")
                          .arg(key, QDir::toNativeSeparators(where)),
                      code::PathFileAccessError);
}

// --- shell -----------------------------------------------------------------

void QtShell::openUrl(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

void QtShell::openFolder(const QString &path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

// --- event loop and clock ----------------------------------------------------

QtEventLoop::QtEventLoop()
    : m_random(static_cast<std::mt19937::result_type>(QTime::currentTime().msecsSinceStartOfDay()))
{}

void QtEventLoop::pumpEvents()
{
    // A folder walk pumps for every folder, tens of thousands of times a
    // second; handling events at most once a millisecond keeps the window
    // just as alive and leaves the walk its speed.
    if (m_sinceEvents.isValid() && m_sinceEvents.nsecsElapsed() < 1'000'000)
        return;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    m_sinceEvents.start();
}

double QtEventLoop::secondsSinceMidnight()
{
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

void QtEventLoop::sleepForEvents(double seconds)
{
    if (seconds <= 0)
        return;
    // Sleeps in the event loop: the timer or any window event wakes it.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.start(static_cast<int>(std::lround(seconds * 1000.0)));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_sinceEvents.start();
}

double QtEventLoop::randomNumber()
{
    return std::uniform_real_distribution<double>(0.0, 1.0)(m_random);
}

// --- printers ----------------------------------------------------------------

QString QtPrinters::defaultPrinterName()
{
    return QPrinterInfo::defaultPrinterName();
}

QStringList QtPrinters::printerNames()
{
    return QPrinterInfo::availablePrinterNames();
}

// --- the run log -------------------------------------------------------------

QString DefaultRunLogPath()
{
    // Qt before 6.7 has no state location of its own; this is the folder that
    // the freedesktop.org base directories and later Qt versions name.
#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)
    QString folder = QStandardPaths::writableLocation(QStandardPaths::StateLocation);
#elif defined(Q_OS_WIN)
    QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
                     QStringLiteral("/State");
#else
    QString folder = qEnvironmentVariable("XDG_STATE_HOME");
    if (QStandardPaths::isTestModeEnabled())
        folder = QDir::homePath() + QStringLiteral("/.qttest/state");
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder))
        folder = QDir::homePath() + QStringLiteral("/.local/state");
    folder += QLatin1Char('/') + QCoreApplication::organizationName() + QLatin1Char('/') +
              QCoreApplication::applicationName();
#endif
    return folder + QStringLiteral("/run-log.jsonl");
}

void FileRunLog::append(const QByteArray &line)
{
    const auto fail = [this](const QString &why) {
        throw Failure(QStringLiteral("The run log %1 could not be written: %2")
                          .arg(QDir::toNativeSeparators(m_path), why));
    };
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath()))
        fail(QStringLiteral("its folder could not be made."));
    try {
        appendWhole(m_path, line + '\n');
    } catch (const Failure &failure) {
        fail(failure.description() + QLatin1Char('.'));
    }
}

// --- the program -------------------------------------------------------------

QString QtProgramControl::programFolder()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

void QtProgramControl::endNow()
{
    end(0);
}

void QtProgramControl::refuseToStart()
{
    end(1);
}

void QtProgramControl::end(int status)
{
    try {
        m_office.shutdown();
    } catch (...) {
        qCDebug(lcOffice) << "the office could not be stopped on the way out";
    }
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace deckrun
