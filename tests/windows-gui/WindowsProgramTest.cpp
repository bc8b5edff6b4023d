// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows program's parts in one process, built against Qt for Windows
// and run under Wine (windows-gui.sh): the system's own platform (settings in
// the registry, printers from the Windows spooler, PowerPoint through COM,
// which is the stand-in server registered in the prefix), the real window and
// its real message boxes, answered as they come up.

#include "cli/CommandLine.h"
#include "core/queue/QueueModel.h"
#include "gui/Form1.h"
#include "gui/ProgressBar.h"
#include "gui/QueueView.h"
#include "platform/Platform.h"
#include "platform/StopSignals.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <vector>

#include <windows.h>

using namespace deckrun;

namespace {

/** What windows-gui.sh tells the tests: the stand-in's folder and the printer it knows. */
QString standInFolder()
{
    return qEnvironmentVariable("DECKRUN_STANDIN_FOLDER");
}
QString testPrinter()
{
    return qEnvironmentVariable("DECKRUN_TEST_PRINTER");
}

/** The stand-in's record of calls, one line each. */
QStringList standInCalls()
{
    QFile log(standInFolder() + QStringLiteral("\\calls.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void scriptStandIn(const QString &lines)
{
    QFile script(standInFolder() + QStringLiteral("\\script.txt"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write(lines.toUtf8());
    QFile::remove(standInFolder() + QStringLiteral("\\calls.log"));
}

/** Answers every message box as it comes up (OK, or No), and keeps its title and text. */
class MessageBoxes final : public QObject {
public:
    struct Seen {
        QString title;
        QString text;
    };

    MessageBoxes()
    {
        m_poll.setInterval(20);
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen.push_back({box->windowTitle(), box->text()});
            QAbstractButton *answer = box->button(QMessageBox::Ok);
            if (!answer)
                answer = box->button(QMessageBox::No);
            answer->click();
        });
        m_poll.start();
    }
    std::vector<Seen> seen;

private:
    QTimer m_poll;
};

class WindowsProgram : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(standInFolder().isEmpty()) << "run through windows-gui.sh";
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Orvanta"),
                  QStringLiteral("Deckrun"))
            .clear();
        scriptStandIn(QStringLiteral("printers=%1\n").arg(testPrinter()));
    }

    /** The settings as the registry holds them: the section "Deckrun" of Orvanta's Deckrun. */
    static QSettings registry()
    {
        return QSettings(QStringLiteral("HKEY_CURRENT_USER\\Software\\Orvanta\\Deckrun\\Deckrun"),
                         QSettings::NativeFormat);
    }
};

} // namespace

// Combo1 lists the printers of the Windows spooler (the machine's CUPS
// printers under Wine), and a stored choice holds at the next start.
TEST_F(WindowsProgram, PrintersComeFromTheSpoolerAndTheStoredChoiceHolds)
{
    auto platform = makeSystemPlatform();
    const QStringList names = platform->printers->printerNames();
    ASSERT_TRUE(names.contains(testPrinter())) << names.join(QLatin1Char(',')).toStdString();
    {
        Form1 form(*platform);
        form.Form_Load();
        EXPECT_EQ(form.Combo1->count(), names.size());
        form.Combo1->setCurrentIndex(form.Combo1->findText(testPrinter()));
    }
    EXPECT_EQ(registry().value(QStringLiteral("PrinterName")).toString(), testPrinter());
    Form1 again(*platform);
    again.Form_Load();
    EXPECT_EQ(again.Combo1->currentText(), testPrinter());
}

// The pause goes to the registry under the current user, is read back at the
// next start, and a value there that is not a pause is reported at start-up.
TEST_F(WindowsProgram, SettingsLiveInTheRegistry)
{
    MessageBoxes boxes;
    auto platform = makeSystemPlatform();
    {
        Form1 form(*platform);
        form.Form_Load();
        form.Combo2->setCurrentIndex(9);
    }
    EXPECT_EQ(registry().value(QStringLiteral("Combo2")).toString(), QStringLiteral("9"));
    {
        Form1 form(*platform);
        form.Form_Load();
        EXPECT_EQ(form.Combo2->currentIndex(), 9);
    }
    registry().setValue(QStringLiteral("Combo2"), QStringLiteral("garbage"));
    Form1 form(*platform);
    form.Form_Load();
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].title, QStringLiteral("Application Error"));
    EXPECT_TRUE(boxes.seen[0].text.contains(
        QStringLiteral("in Tamberlin2021/08/31.Form1.Form_Load at line 144")))
        << boxes.seen[0].text.toStdString();
}

// The samples print through the stand-in: each file's calls in order, the
// progress bar moving, "Done." at the end; a file the stand-in refuses to
// open gets the error report in a message box, and the run goes on.
TEST_F(WindowsProgram, TheSamplesPrintThroughPowerPoint)
{
    // The last file's Open fails (PowerPoint is left as it is, shown, and
    // ends with the test).
    scriptStandIn(
        QStringLiteral("printers=%1\nopen-error=The file is locked.\nopen-error-file=%2\n")
            .arg(testPrinter(), QStringLiteral("Team Onboarding.ppt")));
    MessageBoxes boxes;
    auto platform = makeSystemPlatform();
    Form1 form(*platform);
    form.Form_Load();
    form.show();
    form.PushButton8->click();
    const QStringList files = form.queue().rows();
    ASSERT_EQ(files.size(), 4);
    ASSERT_TRUE(files.last().endsWith(QStringLiteral("\\Samples\\Team Onboarding.ppt")));
    boxes.seen.clear(); // the offer to open the samples' folder, declined
    form.Combo1->setCurrentIndex(form.Combo1->findText(testPrinter()));
    form.Combo2->setCurrentIndex(0);
    std::vector<int> percents;
    QObject::connect(form.ProgressBar1, &QProgressBar::valueChanged,
                     [&percents](int value) { percents.push_back(value); });

    form.PushButton3->click();

    ASSERT_GE(boxes.seen.size(), 2u);
    EXPECT_EQ(boxes.seen.front().title, QStringLiteral("Application Error"));
    EXPECT_TRUE(boxes.seen.front().text.startsWith(QStringLiteral("The file is locked.\nin "
                                                                  "Tamberlin2021/08/31.Form1."
                                                                  "PushButton3_Click at line 120")))
        << boxes.seen.front().text.toStdString();
    EXPECT_EQ(boxes.seen.back().text, QStringLiteral("Done."));
    EXPECT_EQ(percents, (std::vector<int>{25, 50, 75, 100, 0}));

    // Every file opened in queue order; each but the last printed on the
    // chosen printer and quit.
    QStringList opened;
    int printed = 0;
    int quits = 0;
    for (const QString &call : standInCalls()) {
        if (call.startsWith(QStringLiteral("Presentations.Open")))
            opened << call.section(QLatin1Char('"'), 1, 1);
        printed += call.startsWith(QStringLiteral("Presentation.PrintOut"));
        quits += call.endsWith(QStringLiteral(".Quit call ()"));
        if (call.startsWith(QStringLiteral("PrintOptions.ActivePrinter put"))) {
            EXPECT_TRUE(call.contains(testPrinter())) << call.toStdString();
        }
    }
    EXPECT_EQ(opened, files);
    EXPECT_EQ(printed, 3);
    EXPECT_EQ(quits, 3);
}

// Files and folders dropped on the list come as Qt's URLs with "/": the rows
// use Windows' own separator, also those a walked folder adds.
TEST_F(WindowsProgram, DroppedRowsUseTheWindowsSeparator)
{
    const QString folder = QDir::tempPath() + QStringLiteral("/deckrun-drop");
    QDir(folder).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/sub")));
    for (const char *name : {"/a.pptx", "/sub/b.ppt"}) {
        QFile f(folder + QLatin1String(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    auto platform = makeSystemPlatform();
    Form1 form(*platform);
    form.Form_Load();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(folder + QStringLiteral("/a.pptx")),
                  QUrl::fromLocalFile(folder + QStringLiteral("/sub"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.ListView1->viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.ListView1->viewport(), &drop);

    const QString native = QDir::toNativeSeparators(folder);
    EXPECT_EQ(form.queue().rows(), (QStringList{native + QStringLiteral("\\a.pptx"),
                                                native + QStringLiteral("\\sub\\b.ppt")}));
    QDir(folder).removeRecursively();
}

namespace {

bool processRuns(qint64 pid)
{
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return false;
    const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return runs;
}

} // namespace

// A user's own PowerPoint behind a modal dialog (every call answered busy),
// started before Deckrun: it runs, so the window asks its question, saying
// first that it does not answer; answered No, nothing is opened, and the
// user's PowerPoint is never ended, neither then nor when Deckrun lets go.
TEST_F(WindowsProgram, AUsersPowerPointBehindADialogIsAskedAboutAndLeftRunning)
{
    qputenv("DECKRUN_OFFICE_DEADLINE", "3");
    const QString standIn =
        QCoreApplication::applicationDirPath() + QStringLiteral("/StandInServer.exe");
    qint64 pid = 0;
    ASSERT_TRUE(QProcess::startDetached(
        standIn, {standInFolder(), QStringLiteral("/User"), QStringLiteral("/Dialog")}, {}, &pid));
    const QString started = QStringLiteral("started %1").arg(pid);
    for (int i = 0; i < 100 && !standInCalls().contains(started); ++i)
        QThread::msleep(100);
    QThread::msleep(500); // in the running-object table just after
    {
        MessageBoxes boxes;
        auto platform = makeSystemPlatform();
        Form1 form(*platform);
        form.Form_Load();
        form.show();
        form.PushButton8->click();
        ASSERT_FALSE(form.queue().rows().isEmpty());
        boxes.seen.clear(); // the offer to open the samples' folder, declined
        form.Combo1->setCurrentIndex(form.Combo1->findText(testPrinter()));

        form.PushButton3->click();

        ASSERT_EQ(boxes.seen.size(), 1u);
        EXPECT_TRUE(boxes.seen[0].text.startsWith(
            QStringLiteral("PowerPoint is running but does not answer")))
            << boxes.seen[0].text.toStdString();
        EXPECT_TRUE(
            boxes.seen[0].text.endsWith(QStringLiteral("Would you like to proceed anyway?")))
            << boxes.seen[0].text.toStdString();
        EXPECT_TRUE(processRuns(pid));
    }
    EXPECT_TRUE(processRuns(pid)) << "Deckrun ended its user's PowerPoint as it let go";
    EXPECT_TRUE(standInCalls().filter(QStringLiteral("Presentations.Open")).isEmpty());
    QProcess::execute(standIn, {QStringLiteral("/End"), QString::number(pid)});
    for (int i = 0; i < 100 && processRuns(pid); ++i)
        QThread::msleep(100);
    EXPECT_FALSE(processRuns(pid));
    qunsetenv("DECKRUN_OFFICE_DEADLINE");
}

// Log-off and shut-down reach a run without a window through a hidden window
// of its own while it can be stopped (a program with user32 gets no console
// event for them); it goes with the run.
TEST_F(WindowsProgram, TheEndOfTheSessionIsHeardWhileARunCanBeStopped)
{
    {
        const StopSignals requests;
        EXPECT_NE(FindWindowW(L"DeckrunEndSession", nullptr), nullptr);
    }
    EXPECT_EQ(FindWindowW(L"DeckrunEndSession", nullptr), nullptr);
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    nameTheProgram();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
