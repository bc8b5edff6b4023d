// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/QtServices.h"

#include "platform/Failure.h"
#include "platform/PresentationApp.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPrinterInfo>
#include <QTime>
#include <QTimer>

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
        // The name already shows the pattern; Qt reads the pattern from the brackets.
        QString entry = parts[i];
        if (!entry.contains(QLatin1Char('(')))
            entry += QStringLiteral(" (") +
                     QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')) +
                     QLatin1Char(')');
        entries << entry;
    }
    return entries.join(QLatin1String(";;"));
}

Answer QtDialogs::messageBox(const QString &text, const QString &title, Buttons buttons, Icon icon)
{
    QMessageBox box(icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                    title.isEmpty() ? applicationTitle() : title, displayText(text),
                    buttons == Buttons::YesNo ? (QMessageBox::Yes | QMessageBox::No)
                                              : QMessageBox::Ok);
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
    bool ok = false;
    const QString answer =
        QInputDialog::getText(nullptr, title.isEmpty() ? applicationTitle() : title,
                              displayText(prompt), QLineEdit::Normal, defaultAnswer, &ok);
    return ok ? answer : QString();
}

FileDialogResult QtDialogs::openFiles(const FileDialogRequest &request)
{
    const QStringList paths = QFileDialog::getOpenFileNames(
        nullptr, request.title, request.fileName, qtFilter(request.filter));
    FileDialogResult result;
    if (paths.isEmpty())
        return result;
    if (paths.size() == 1) {
        result.names = {QDir::toNativeSeparators(paths.first())};
        return result;
    }
    result.folder = QDir::toNativeSeparators(QFileInfo(paths.first()).absolutePath());
    qsizetype used = result.folder.size() + 1;
    for (const QString &p : paths) {
        result.names << QFileInfo(p).fileName();
        used += result.names.last().size() + 1;
    }
    if (used > NameBufferSize)
        throw Failure(QStringLiteral("The file name buffer is too small."), 20476);
    return result;
}

QString QtDialogs::browseForFolder(const QString &title, const QString &initialFolder)
{
    const QString folder = QFileDialog::getExistingDirectory(nullptr, title, initialFolder);
    return folder.isEmpty() ? QString() : QDir::toNativeSeparators(folder);
}

// --- settings --------------------------------------------------------------

QtSettingsStore::QtSettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QStringLiteral("Orvanta"), QStringLiteral("Deckrun")))
{}

QtSettingsStore::QtSettingsStore(const QString &iniFile)
    : m_settings(std::make_unique<QSettings>(iniFile, QSettings::IniFormat))
{}

QString QtSettingsStore::read(const QString &key, const QString &defaultValue)
{
    const QString address = Section + QLatin1Char('/') + key;
    const QVariant value = m_settings->value(address);
    return value.isValid() ? value.toString() : defaultValue;
}

void QtSettingsStore::write(const QString &key, const QString &value)
{
    m_settings->setValue(Section + QLatin1Char('/') + key, value);
    m_settings->sync(); // replaced at once: the program may end at any moment
    if (m_settings->status() != QSettings::NoError)
        throw Failure(QStringLiteral("The setting \"%1\" could not be saved in %2.")
                          .arg(key, QDir::toNativeSeparators(m_settings->fileName())),
                      75);
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
    deadline.start(static_cast<int>(seconds * 1000.0 + 0.5));
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
    }
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace deckrun
