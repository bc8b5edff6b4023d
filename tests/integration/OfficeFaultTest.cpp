// SPDX-License-Identifier: GPL-3.0-or-later
// "Start Printing" on a short queue while a fault is injected into the real
// office (stopped, killed, a printer that refuses jobs, a protected deck, a
// hung office left on Deckrun's profile, a hidden slide). Each case checks the
// error reports, the PDFs of the tests' own CUPS printer (count, pages, order)
// and that no office is left. A short deadline (DECKRUN_OFFICE_DEADLINE) keeps
// the stopped cases quick; the fixed waits run on the test's clock.

#ifdef DECKRUN_HAS_UNO

#include "core/queue/QueueModel.h"
#include "core/run/PrintRun.h"
#include "gui/Form1.h"
#include "gui/ProgressBar.h"
#include "platform/qt/QtServices.h"
#include "platform/uno/OfficeProcess.h"
#include "platform/uno/UnoAutomation.h"
#include "support/FakePlatform.h"
#include "support/SampleDeck.h"
#include "support/SystemPrinters.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

using namespace deckrun;
using namespace deckrun::test;
using testing::ElementsAreArray;

namespace {

constexpr auto Deadline = "5"; // seconds, for every office call of these tests

/**
 * The test printer's PDFs whose names carry `token`, in job order, as the
 * queue label that follows the token ("A") and the page count; waits until
 * `count` are complete or `milliseconds` pass.
 */
std::vector<std::pair<std::string, int>> pdfsWith(const QString &token, std::size_t count,
                                                  int milliseconds)
{
    const QDir dir(qEnvironmentVariable("DECKRUN_TEST_PDF_DIR"));
    static const QRegularExpression jobNumber(QStringLiteral("job_(\\d+)\\.pdf$"));
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        std::vector<std::pair<int, QString>> found;
        for (const QString &name : dir.entryList({QStringLiteral("*.pdf")}, QDir::Files))
            if (name.contains(token))
                found.emplace_back(jobNumber.match(name).captured(1).toInt(), name);
        std::sort(found.begin(), found.end());
        std::vector<std::pair<std::string, int>> pdfs;
        for (const auto &f : found)
            pdfs.emplace_back(
                f.second.mid(f.second.indexOf(token) + token.size() + 1, 1).toStdString(),
                pdfPages(dir.filePath(f.second)));
        const bool complete =
            std::all_of(pdfs.begin(), pdfs.end(), [](const auto &p) { return p.second > 0; });
        if ((pdfs.size() >= count && complete) || clock.elapsed() > milliseconds)
            return pdfs;
        QThread::msleep(200);
    }
}

/** The PDFs of the test printer whose names carry `token`, as file names. */
QStringList pdfNamesWith(const QString &token)
{
    const QDir dir(qEnvironmentVariable("DECKRUN_TEST_PDF_DIR"));
    QStringList names;
    for (const QString &name : dir.entryList({QStringLiteral("*.pdf")}, QDir::Files))
        if (name.contains(token))
            names << name;
    return names;
}

/**
 * Saves `source` as a password-protected presentation (.odp) at `target` with the office
 * itself: a Basic macro of a throwaway profile's own library does the storing.
 */
bool protectDeck(const QString &profileDir, const QString &source, const QString &target)
{
    if (!runSoffice(profileDir, {QStringLiteral("--terminate_after_init")}))
        return false;
    QFile module(profileDir + QStringLiteral("/user/basic/Standard/Module1.xba"));
    if (!module.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    module.write(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE script:module PUBLIC \"-//OpenOffice.org//DTD OfficeDocument 1.0//EN\" "
        "\"module.dtd\">\n"
        "<script:module xmlns:script=\"http://openoffice.org/2000/script\" "
        "script:name=\"Module1\" script:language=\"StarBasic\">\n"
        "Sub Protect(source As String, target As String)\n"
        "  Dim load(0) As New com.sun.star.beans.PropertyValue\n"
        "  load(0).Name = &quot;Hidden&quot;\n"
        "  load(0).Value = True\n"
        "  document = StarDesktop.loadComponentFromURL(ConvertToURL(source), &quot;_blank&quot;, "
        "0, load())\n"
        "  Dim store(1) As New com.sun.star.beans.PropertyValue\n"
        "  store(0).Name = &quot;Password&quot;\n"
        "  store(0).Value = &quot;deckrun&quot;\n"
        "  store(1).Name = &quot;FilterName&quot;\n"
        "  store(1).Value = &quot;impress8&quot;\n"
        "  document.storeToURL(ConvertToURL(target), store())\n"
        "  document.close(True)\n"
        "End Sub\n"
        "</script:module>\n");
    module.close();
    return runSoffice(profileDir,
                      {QStringLiteral("macro:///Standard.Module1.Protect(\"%1\",\"%2\")")
                           .arg(source, target)}) &&
           QFileInfo::exists(target);
}

/**
 * Lets the tests' own printer take jobs or refuse them; true when CUPS agreed.
 * Changing a printer's state needs CUPS's administrator: root, or sudo without a password.
 */
bool setPrinterAccepting(const QString &printer, bool accepting)
{
    const QString command = accepting ? QStringLiteral("cupsaccept") : QStringLiteral("cupsreject");
    if (QProcess::execute(command, {printer}) == 0)
        return true;
    return QProcess::execute(QStringLiteral("sudo"), {QStringLiteral("-n"), command, printer}) == 0;
}

/** Whether the process is stopped (SIGSTOP) right now. */
bool isStopped(long pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close > 0 && text.mid(close + 2, 1) == "T";
}

enum class Fault {
    StoppedDuringLoad,
    StoppedDuringPrint,
    KilledDuringPrint,
    PrinterRejectsJobs,
    PasswordProtectedDeck,
    HungOfficeOnTheProfile,
    HiddenSlide,
    OutOfMemory, // a deck that makes the office exceed its memory bound
};

struct FaultCase {
    const char *name;
    Fault fault;
    std::vector<int> steps; // of the error reports, in order
    const char *described;  // a part of the first report's description
    std::vector<int> pages; // of the PDFs made, in queue order
};
[[maybe_unused]] void PrintTo(const FaultCase &c, std::ostream *os)
{
    *os << c.name;
}

const std::vector<int> FailedOpen = {120, 122, 126, 128, 130, 132};

/** The second of three files (3, 2 and 4 slides) meets the fault. */
const FaultCase Cases[] = {
    {"StoppedDuringLoad",
     Fault::StoppedDuringLoad,
     FailedOpen,
     "LibreOffice Impress did not answer within 5 seconds and was stopped.",
     {3, 4}},
    {"StoppedDuringPrint",
     Fault::StoppedDuringPrint,
     {130},
     "LibreOffice Impress did not answer within 5 seconds and was stopped.",
     {3, 4}},
    {"KilledDuringPrint",
     Fault::KilledDuringPrint,
     {130},
     "LibreOffice Impress stopped unexpectedly while printing",
     {3, 4}},
    {"PrinterRejectsJobs", Fault::PrinterRejectsJobs, {130}, "refused the job.", {3, 4}},
    {"PasswordProtectedDeck",
     Fault::PasswordProtectedDeck,
     FailedOpen,
     "the file is protected by a password.",
     {3, 4}},
    {"HungOfficeOnTheProfile", Fault::HungOfficeOnTheProfile, {}, "", {3, 2, 4}},
    {"HiddenSlide", Fault::HiddenSlide, {}, "", {3, 2, 4}},
    {"OutOfMemory",
     Fault::OutOfMemory,
     FailedOpen,
     "LibreOffice Impress ran out of the 250 MB of memory it may use while opening",
     {3, 4}},
};

class OfficeFaultsBase : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (deckrun::test::printerUnderTest().isEmpty())
            return;
        s_dir = new QTemporaryDir;
        // Flat presentations: the office opens and prints them as any deck,
        // and they cost no conversion.
        const auto flat = [&](const QString &name, int slides) {
            return writeFlatDeck(s_dir->filePath(name + QStringLiteral(".fodp")), slides);
        };
        s_decks = {flat(QStringLiteral("three"), 3), flat(QStringLiteral("two"), 2),
                   flat(QStringLiteral("four"), 4)};
        s_hidden = writeFlatDeck(s_dir->filePath(QStringLiteral("hidden.fodp")), 3, 2);
        // Deckrun's profile is made once, without a short deadline, so that
        // each case's office starts as fast as it does for a user.
        uno::UnoOptions options;
        options.profileRoot = profileRoot();
        uno::UnoAutomation office(deckrun::test::systemPrinters(), options);
        try {
            office.create()->quit();
        } catch (const Failure &) {
        }
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    static QString profileRoot() { return s_dir->filePath(QStringLiteral("office")); }

    void SetUp() override
    {
        // The test that makes its printer refuse jobs prints on a queue of its
        // own on the tests' printer, which leaves the tests printing at the
        // same time alone.
        if (m_rejects)
            m_printer = qEnvironmentVariable("DECKRUN_TEST_FAULT_PRINTER");
        if (m_printer.isEmpty())
            m_printer = deckrun::test::printerUnderTest();
        if (m_printer.isEmpty())
            GTEST_SKIP() << deckrun::test::NoPrinterUnderTest;
        ASSERT_EQ(s_decks.size(), 3u);
        for (const QString &deck : s_decks)
            ASSERT_FALSE(deck.isEmpty()) << "LibreOffice could not make the decks";
        ASSERT_TRUE(m_dir.isValid());
        m_token = QStringLiteral("fault%1x%2")
                      .arg(QCoreApplication::applicationPid())
                      .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        qputenv("DECKRUN_OFFICE_DEADLINE", Deadline);

        uno::UnoOptions options;
        options.profileRoot = profileRoot();
        options.beforeCall = [this](const QString &call, long pid) {
            if (call == QLatin1String("load"))
                ++m_loads;
            if (onCall)
                onCall(call, pid);
        };
        auto office =
            std::make_unique<uno::UnoAutomation>(deckrun::test::systemPrinters(), options);
        m_office = office.get();
        fake.platform.office = std::move(office);
        fake.office = nullptr;
        m_form = std::make_unique<Form1>(fake.platform);
        m_form->Combo1->addItem(m_printer);
        m_form->Combo1->setCurrentIndex(0);
        m_form->Combo2->addItem(QStringLiteral("0 seconds"));
        m_form->Combo2->setCurrentIndex(0);
        fake.printers->names = {m_printer};
        m_form->show();
        QCoreApplication::processEvents();
    }

    void TearDown() override
    {
        if (m_printer.isEmpty())
            return;
        if (m_rejects)
            setPrinterAccepting(m_printer, true);
        m_form.reset();
        m_office = nullptr;
        fake.platform.office.reset();
        qunsetenv("DECKRUN_OFFICE_DEADLINE");
        qunsetenv("DECKRUN_OFFICE_MEMORY");
        EXPECT_EQ(officeProcesses(profileRoot()), QStringList()) << "an office outlived the test";
        QStringList socketsLeft;
        for (const QString &file :
             uno::OfficeProfile::socketFilesFor(uno::OfficeProfile::slotFolder(profileRoot(), 0)))
            if (QFileInfo::exists(file))
                socketsLeft << file;
        EXPECT_EQ(socketsLeft, QStringList()) << "the stopped office's sockets were left behind";
        const QDir dir(qEnvironmentVariable("DECKRUN_TEST_PDF_DIR"));
        for (const QString &name : pdfNamesWith(m_token))
            QFile::remove(dir.filePath(name));
    }

    /** A copy of `deck` under this test's own name, in queue position `label`. */
    QString queued(const QString &deck, const QString &label)
    {
        const QString path =
            m_dir.filePath(m_token + QLatin1Char('-') + label + QStringLiteral(".pptx"));
        EXPECT_TRUE(QFile::copy(deck, path)) << deck.toStdString();
        m_form->queue().append(path);
        return path;
    }

    /** The step numbers of the print run's error reports, in order. */
    std::vector<int> reportedSteps() const
    {
        return fake.dialogs->reportedSteps(printRunLocation());
    }

    FakePlatform fake;
    std::unique_ptr<Form1> m_form;
    uno::UnoAutomation *m_office = nullptr;
    QString m_printer, m_token;
    QTemporaryDir m_dir;
    int m_loads = 0;
    bool m_rejects = false; // this test makes its printer refuse jobs
    std::function<void(const QString &, long)> onCall;

    static inline QTemporaryDir *s_dir = nullptr;
    static inline QStringList s_decks;
    static inline QString s_hidden;
};

class OfficeFaults : public OfficeFaultsBase, public testing::WithParamInterface<FaultCase> {
protected:
    void SetUp() override
    {
        m_rejects = GetParam().fault == Fault::PrinterRejectsJobs;
        OfficeFaultsBase::SetUp();
    }
};

} // namespace

// The faulty file fails at its own steps with a description a user can act
// on; the run goes on with the next file on a fresh office; the other files
// print in queue order, and no office is left behind.
TEST_P(OfficeFaults, AreReportedAndTheRunGoesOn)
{
    const FaultCase c = GetParam();
    QString second = s_decks[1];
    if (c.fault == Fault::PasswordProtectedDeck) {
        second = m_dir.filePath(QStringLiteral("protected.odp"));
        ASSERT_TRUE(
            protectDeck(m_dir.filePath(QStringLiteral("macro-profile")), s_decks[1], second))
            << "LibreOffice could not make the protected deck";
    } else if (c.fault == Fault::OutOfMemory) {
        // 60 MB of blanks in a slide's text: a few hundred megabytes to open.
        second = writeFlatDeck(m_dir.filePath(QStringLiteral("blanks.fodp")), 1);
        QFile deck(second);
        ASSERT_TRUE(deck.open(QIODevice::ReadWrite));
        const QByteArray xml =
            deck.readAll().replace("Slide 1</", QByteArray(60'000'000, ' ') + "</");
        deck.seek(0);
        deck.write(xml);
        qputenv("DECKRUN_OFFICE_MEMORY", "250");
        qputenv("DECKRUN_OFFICE_DEADLINE", "120"); // reading it takes a while on a busy machine
    } else if (c.fault == Fault::HiddenSlide) {
        ASSERT_FALSE(s_hidden.isEmpty())
            << "LibreOffice could not make the deck with a hidden slide";
        second = s_hidden;
    }
    if (c.fault == Fault::PrinterRejectsJobs && !setPrinterAccepting(m_printer, true))
        GTEST_SKIP() << "CUPS does not let this user change the test printer's state";
    queued(s_decks[0], QStringLiteral("A"));
    queued(second, QStringLiteral("B"));
    queued(s_decks[2], QStringLiteral("C"));

    onCall = [&](const QString &call, long pid) {
        if (m_loads != 2 || pid <= 0)
            return;
        if (call == QLatin1String("load") && c.fault == Fault::StoppedDuringLoad)
            ::kill(static_cast<pid_t>(pid), SIGSTOP);
        if (call == QLatin1String("print") && c.fault == Fault::StoppedDuringPrint)
            ::kill(static_cast<pid_t>(pid), SIGSTOP);
        if (call == QLatin1String("print") && c.fault == Fault::KilledDuringPrint)
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        if (call == QLatin1String("print") && c.fault == Fault::PrinterRejectsJobs)
            setPrinterAccepting(m_printer, false);
        if (call == QLatin1String("quit") && c.fault == Fault::PrinterRejectsJobs)
            setPrinterAccepting(m_printer, true);
    };

    // An office left on Deckrun's profile by a Deckrun that was killed, and that no longer answers.
    QProcess hung;
    if (c.fault == Fault::HungOfficeOnTheProfile) {
        const QString folder = uno::OfficeProfile::slotFolder(profileRoot(), 0);
        const QString pipe = uno::newPipeName();
        const QString socket = uno::pipeSocketFile(pipe);
        // The lock file that Deckrun left, no longer held.
        QDir().mkpath(profileRoot());
        QFile(folder + QStringLiteral(".lock")).open(QIODevice::WriteOnly);
        hung.setStandardOutputFile(QProcess::nullDevice());
        hung.setStandardErrorFile(QProcess::nullDevice());
        hung.start(QStringLiteral("/usr/lib/libreoffice/program/soffice.bin"),
                   {QStringLiteral("--accept=pipe,name=%1;urp;").arg(pipe),
                    QStringLiteral("-env:UserInstallation=") +
                        QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded),
                    QStringLiteral("--norestore"), QStringLiteral("--nologo"),
                    QStringLiteral("--nodefault"), QStringLiteral("--nolockcheck"),
                    QStringLiteral("--headless")});
        ASSERT_TRUE(hung.waitForStarted(10000));
        QElapsedTimer listening;
        listening.start();
        while (!QFileInfo::exists(socket) && listening.elapsed() < 30000)
            QThread::msleep(50);
        ASSERT_TRUE(QFileInfo::exists(socket)) << "the left-behind office never listened";
        ::kill(static_cast<pid_t>(hung.processId()), SIGSTOP);
    }

    QElapsedTimer clock;
    clock.start();
    m_form->PushButton3->click();
    std::printf("[   TIME   ] the run took %.2f s\n", clock.nsecsElapsed() / 1e9);

    EXPECT_THAT(reportedSteps(), ElementsAreArray(c.steps));
    const auto reports = fake.dialogs->reports();
    if (!c.steps.empty()) {
        ASSERT_FALSE(reports.empty());
        EXPECT_TRUE(reports[0].text.contains(QString::fromUtf8(c.described)))
            << reports[0].text.toStdString();
    }
    for (const auto &r : reports)
        EXPECT_FALSE(r.text.contains(QLatin1String("bridge")) ||
                     r.text.contains(QLatin1String("URP")))
            << "the office's internals reached the user: " << r.text.toStdString();
    // Only the reports and "Done.": an office Deckrun did not start is not asked, so no warning.
    ASSERT_EQ(fake.dialogs->messages.size(), reports.size() + 1);
    EXPECT_EQ(fake.dialogs->messages.back().text, QStringLiteral("Done."));
    EXPECT_FALSE(m_form->IsPrinting);
    EXPECT_EQ(m_office->childPid(), -1);
    EXPECT_EQ(officeProcesses(profileRoot()), QStringList()) << "an office outlived the run";
    if (c.fault == Fault::HungOfficeOnTheProfile) {
        EXPECT_TRUE(hung.state() == QProcess::NotRunning || hung.waitForFinished(5000))
            << "the hung office was not stopped";
    }

    std::vector<std::pair<std::string, int>> expected;
    for (std::size_t k = 0; k < c.pages.size(); ++k)
        expected.emplace_back(c.pages.size() == 3 ? std::string(1, static_cast<char>('A' + k))
                                                  : std::string(k == 0 ? "A" : "C"),
                              c.pages[k]);
    EXPECT_THAT(pdfsWith(m_token, expected.size(), 30000), ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(Injected, OfficeFaults, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<FaultCase> &row) {
                             return std::string(row.param.name);
                         });

// While the office is stopped in the middle of a load, the window still
// handles a click (here on "Help"); the load then fails at its deadline.
TEST_F(OfficeFaultsBase, TheWindowAnswersAClickWhileTheOfficeIsStopped)
{
    queued(s_decks[0], QStringLiteral("A"));
    long stoppedOffice = -1;
    bool clickedWhileStopped = false;
    onCall = [&](const QString &call, long pid) {
        if (call != QLatin1String("load") || pid <= 0)
            return;
        ::kill(static_cast<pid_t>(pid), SIGSTOP);
        stoppedOffice = pid;
        // A user's click, delivered as the window system does, half a second into the stall.
        QTimer::singleShot(500, m_form.get(), [&] {
            QPushButton *help = m_form->PushButton6;
            const QPointF at = QRectF(help->rect()).center();
            const QPointF global = help->mapToGlobal(at);
            const QPointingDevice *mouse = QPointingDevice::primaryPointingDevice();
            QCoreApplication::postEvent(help, new QMouseEvent(QEvent::MouseButtonPress, at, global,
                                                              Qt::LeftButton, Qt::LeftButton,
                                                              Qt::NoModifier, mouse));
            QCoreApplication::postEvent(help, new QMouseEvent(QEvent::MouseButtonRelease, at,
                                                              global, Qt::LeftButton, Qt::NoButton,
                                                              Qt::NoModifier, mouse));
        });
    };
    QObject::connect(m_form->PushButton6, &QPushButton::clicked, m_form.get(),
                     [&] { clickedWhileStopped = isStopped(stoppedOffice); });

    m_form->PushButton3->click();

    const auto help = std::count_if(
        fake.dialogs->messages.begin(), fake.dialogs->messages.end(),
        [](const ShownMessage &m) { return m.text.contains(QLatin1String("PowerPoint Shows")); });
    EXPECT_EQ(help, 1) << "the click on Help was not handled";
    EXPECT_TRUE(clickedWhileStopped) << "the click was handled only after the office was stopped";
    EXPECT_THAT(reportedSteps(), ElementsAreArray(FailedOpen));
    EXPECT_EQ(officeProcesses(profileRoot()), QStringList());
}

// A modal dialog open on the window's thread (another handler's message box)
// while the office hangs in a load does not hold the load's deadline: the
// office is stopped on time, with the dialog still open.
TEST_F(OfficeFaultsBase, ADeadlinePassesOnTimeUnderAModalDialog)
{
    queued(s_decks[0], QStringLiteral("A"));
    long stoppedOffice = -1;
    QElapsedTimer stall;
    double goneAfter = -1; // seconds into the stall, as seen from inside the dialog
    onCall = [&](const QString &call, long pid) {
        if (call != QLatin1String("load") || pid <= 0 || stoppedOffice > 0)
            return;
        ::kill(static_cast<pid_t>(pid), SIGSTOP);
        stoppedOffice = pid;
        stall.start();
        QTimer::singleShot(200, m_form.get(), [&] {
            QDialog dialog(m_form.get());
            QTimer look;
            QObject::connect(&look, &QTimer::timeout, &dialog, [&] {
                if (goneAfter < 0 &&
                    !QFileInfo::exists(QStringLiteral("/proc/%1").arg(stoppedOffice)))
                    goneAfter = stall.elapsed() / 1000.0;
                if (stall.elapsed() > 9000) // well past the deadline of 5 s
                    dialog.accept();
            });
            look.start(50);
            dialog.exec();
        });
    };

    m_form->PushButton3->click();

    EXPECT_GT(goneAfter, 0) << "the office was stopped only after the dialog had closed";
    EXPECT_LT(goneAfter, 7.0);
    EXPECT_THAT(reportedSteps(), ElementsAreArray(FailedOpen));
    ASSERT_FALSE(fake.dialogs->reports().empty());
    EXPECT_TRUE(fake.dialogs->reports()[0].text.contains(
        QStringLiteral("did not answer within 5 seconds and was stopped.")))
        << fake.dialogs->reports()[0].text.toStdString();
}

namespace {
constexpr auto HelperRoot = "DECKRUN_TEST_OFFICE_HELPER_ROOT";
}

// A Deckrun that starts its office and waits to be killed; run in a process
// of its own by the test below, skipped otherwise.
TEST(OfficeHelper, StartsAnOfficeAndWaitsToBeKilled)
{
    const QString root = qEnvironmentVariable(HelperRoot);
    if (root.isEmpty())
        GTEST_SKIP() << "run by AnOfficeDiesWithADeckrunKilledOutright";
    uno::UnoOptions options;
    options.profileRoot = root;
    // Never released: this process ends by SIGKILL.
    auto *office = new uno::UnoAutomation(deckrun::test::systemPrinters(), options);
    auto *app = new std::shared_ptr<PresentationApp>(office->create());
    std::printf("office-pid %ld\n", office->childPid());
    std::fflush(stdout);
    for (;;)
        QThread::sleep(1);
    (void)app;
}

// Deckrun killed outright (SIGKILL) takes its office with it.
TEST(OfficeLife, AnOfficeDiesWithADeckrunKilledOutright)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.filePath(QStringLiteral("office"));
    QProcess deckrun;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(HelperRoot), root);
    deckrun.setProcessEnvironment(environment);
    deckrun.setStandardErrorFile(QProcess::nullDevice());
    deckrun.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--gtest_filter=OfficeHelper.*")});
    ASSERT_TRUE(deckrun.waitForStarted(10000));
    QByteArray output;
    QElapsedTimer clock;
    clock.start();
    while (!output.contains("office-pid ") && clock.elapsed() < 60000 &&
           deckrun.state() == QProcess::Running) {
        deckrun.waitForReadyRead(200);
        output += deckrun.readAllStandardOutput();
    }
    const qsizetype at = output.indexOf("office-pid ");
    ASSERT_GE(at, 0) << output.toStdString();
    const long office = output.mid(at + 11).split('\n').first().trimmed().toLong();
    ASSERT_GT(office, 0) << output.toStdString();
    ASSERT_FALSE(officeProcesses(root).isEmpty());

    ::kill(static_cast<pid_t>(deckrun.processId()), SIGKILL);
    ASSERT_TRUE(deckrun.waitForFinished(10000));
    clock.restart();
    while (!officeProcesses(root).isEmpty() && clock.elapsed() < 5000)
        QThread::msleep(50);
    EXPECT_EQ(officeProcesses(root), QStringList()) << "the office outlived a killed Deckrun";
}

// A Deckrun whose office stops answering in the middle of a load and whose
// window the user then closes; run in a process of its own by the test below.
TEST(OfficeHelper, ClosesTheWindowWhileTheOfficeIsStopped)
{
    const QString root = qEnvironmentVariable(HelperRoot);
    if (root.isEmpty() || !qEnvironmentVariableIsSet("DECKRUN_TEST_CLOSE_DECK"))
        GTEST_SKIP() << "run by ClosingTheWindowEndsDeckrunAndItsOffice";
    FakePlatform fake;
    uno::UnoOptions options;
    options.profileRoot = root;
    Form1 *window = nullptr;
    options.beforeCall = [&](const QString &call, long pid) {
        if (call != QLatin1String("load") || pid <= 0)
            return;
        ::kill(static_cast<pid_t>(pid), SIGSTOP);
        QTimer::singleShot(300, window, [&] { window->close(); });
    };
    auto office = std::make_unique<uno::UnoAutomation>(deckrun::test::systemPrinters(), options);
    fake.platform.program = std::make_unique<QtProgramControl>(*office);
    fake.platform.office = std::move(office);
    fake.platform.events = std::make_unique<QtEventLoop>();
    Form1 form(fake.platform);
    window = &form;
    form.Combo1->addItem(QStringLiteral("Any Printer"));
    form.Combo2->addItem(QStringLiteral("0 seconds"));
    form.queue().append(qEnvironmentVariable("DECKRUN_TEST_CLOSE_DECK"));
    form.show();
    form.PushButton3->click(); // the close ends the process from inside the load
    std::printf("the run ended without the close\n");
}

// Closing the window while the office hangs in a load ends Deckrun and its office.
TEST(OfficeLife, ClosingTheWindowEndsDeckrunAndItsOffice)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.filePath(QStringLiteral("office"));
    const QString deck = writeFlatDeck(dir.filePath(QStringLiteral("deck.fodp")), 2);
    QProcess deckrun;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(HelperRoot), root);
    environment.insert(QStringLiteral("DECKRUN_TEST_CLOSE_DECK"), deck);
    deckrun.setProcessEnvironment(environment);
    deckrun.setStandardErrorFile(QProcess::nullDevice());
    deckrun.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--gtest_filter=OfficeHelper.ClosesTheWindow*")});
    ASSERT_TRUE(deckrun.waitForFinished(60000)) << "closing the window did not end Deckrun";
    const QByteArray output = deckrun.readAllStandardOutput();
    EXPECT_FALSE(output.contains("without the close")) << output.toStdString();
    EXPECT_EQ(deckrun.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(deckrun.exitCode(), 0);
    EXPECT_EQ(officeProcesses(root), QStringList()) << "the office outlived Deckrun";
}

// Only offices on the profile named are stopped: never one on another profile
// (the user's own LibreOffice runs on its own).
TEST(OfficeLife, OnlyOfficesOnDeckrunsProfileAreStopped)
{
    const QString ours = QStringLiteral("file:///tmp/deckrun-test-profile-%1").arg(::getpid());
    const QString theirs = ours + QStringLiteral("-user");
    QProcess onOurs, onTheirs;
    // The shell waits on its own input with a builtin: a child process (sleep)
    // would carry the shell's arguments too, for a moment after its fork.
    for (auto [process, url] : {std::pair{&onOurs, ours}, std::pair{&onTheirs, theirs}}) {
        process->start(QStringLiteral("/bin/sh"),
                       {QStringLiteral("-c"), QStringLiteral("read line"),
                        QStringLiteral("-env:UserInstallation=") + url});
        ASSERT_TRUE(process->waitForStarted(5000));
    }
    EXPECT_EQ(uno::stopOfficesOnProfile(ours, 5.0), 1);
    EXPECT_TRUE(onOurs.state() == QProcess::NotRunning || onOurs.waitForFinished(5000));
    EXPECT_EQ(onTheirs.state(), QProcess::Running);
    onTheirs.kill();
    onTheirs.waitForFinished(5000);
}

// DECKRUN_OFFICE_DEADLINE caps every deadline and never lengthens one; a
// value that is not a positive number of seconds leaves the defaults.
TEST(OfficeDeadline, TheEnvironmentCapsEveryDeadline)
{
    const OfficeCall calls[] = {OfficeCall::Start,   OfficeCall::RunningCheck, OfficeCall::Load,
                                OfficeCall::Printer, OfficeCall::Print,        OfficeCall::Quit};
    qunsetenv("DECKRUN_OFFICE_DEADLINE");
    std::vector<double> defaults;
    for (const OfficeCall call : calls) {
        defaults.push_back(officeDeadline(call));
        EXPECT_GE(defaults.back(), 20.0) << "a default leaves room for a slow machine";
    }
    EXPECT_GE(officeDeadline(OfficeCall::Load), 300.0) << "large decks load for minutes";
    const struct {
        const char *value;
        double cap; // 0: the defaults stay
    } rows[] = {{"2.5", 2.5}, {" 7 ", 7.0}, {"100000", 0}, {"0", 0}, {"-3", 0}, {"soon", 0}};
    for (const auto &row : rows) {
        qputenv("DECKRUN_OFFICE_DEADLINE", row.value);
        for (std::size_t k = 0; k < std::size(calls); ++k)
            EXPECT_DOUBLE_EQ(officeDeadline(calls[k]),
                             row.cap > 0 ? std::min(row.cap, defaults[k]) : defaults[k])
                << "DECKRUN_OFFICE_DEADLINE=" << row.value;
    }
    qunsetenv("DECKRUN_OFFICE_DEADLINE");
}

#endif // DECKRUN_HAS_UNO
