// SPDX-License-Identifier: GPL-3.0-or-later
// "Start Printing" from end to end: the real window, the real LibreOffice
// backend and the tests' own CUPS PDF printer (scripts/test-printer.sh exports
// its name and output folder). The fixed waits run on the test's clock, so they
// cost nothing, except in the one test that keeps the real clock; the office
// and CUPS do their real work either way.
//
// Every deck a test prints carries a name of the test's own, so its PDFs can be
// told from those of any other job on the same printer.

#ifdef DECKRUN_HAS_UNO

#include "core/queue/QueueModel.h"
#include "core/run/PrintRun.h"
#include "gui/Form1.h"
#include "gui/ProgressBar.h"
#include "platform/qt/QtServices.h"
#include "platform/uno/UnoAutomation.h"
#include "support/FakePlatform.h"
#include "support/Messages.h"
#include "support/RunLogLines.h"
#include "support/SampleDeck.h"
#include "support/SystemPrinters.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

using namespace deckrun;
using namespace deckrun::test;
using testing::ElementsAre;

namespace {

/** One PDF of the test printer: cups-pdf names it after the job title and the job's number. */
struct Pdf {
    QString name;
    int job = -1;
    int pages = -1;
};

/** The test printer's PDFs whose names carry `token`, in the order CUPS took their jobs. */
std::vector<Pdf> pdfsWith(const QString &token)
{
    const QDir dir(qEnvironmentVariable("DECKRUN_TEST_PDF_DIR"));
    static const QRegularExpression jobNumber(QStringLiteral("job_(\\d+)\\.pdf$"));
    std::vector<Pdf> found;
    for (const QString &name : dir.entryList({QStringLiteral("*.pdf")}, QDir::Files)) {
        if (!name.contains(token))
            continue;
        const auto m = jobNumber.match(name);
        found.push_back(
            {name, m.hasMatch() ? m.captured(1).toInt() : -1, pdfPages(dir.filePath(name))});
    }
    std::sort(found.begin(), found.end(), [](const Pdf &a, const Pdf &b) { return a.job < b.job; });
    return found;
}

/**
 * Waits (polling) until `count` complete PDFs carry `token`, or `milliseconds`
 * pass: cups-pdf writes a file a moment after the office handed its job over.
 */
std::vector<Pdf> waitForPdfs(const QString &token, std::size_t count, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        std::vector<Pdf> found = pdfsWith(token);
        const bool complete =
            std::all_of(found.begin(), found.end(), [](const Pdf &p) { return p.pages > 0; });
        if ((found.size() >= count && complete) || clock.elapsed() > milliseconds)
            return found;
        QThread::msleep(200);
    }
}

/**
 * How a deck shows in its PDF's name: the job title is the document's title, or
 * its file name when it has none, and cups-pdf turns spaces into underscores.
 * The samples' titles are their file names without the extension.
 */
QString asPdfName(const QString &fileName)
{
    QString name = QFileInfo(fileName).completeBaseName();
    name.replace(QLatin1Char(' '), QLatin1Char('_'));
    return name;
}

struct Sample {
    const char *file;
    int slides;
};
constexpr Sample Samples[] = {{"Quarterly Review.pptx", 3},
                              {"Team Onboarding.ppt", 2},
                              {"Product Roadmap.odp", 4},
                              {"Safety Briefing.pptx", 2}};

class PrintRunE2E : public testing::Test {
protected:
    void SetUp() override
    {
        m_printer = deckrun::test::printerUnderTest();
        if (m_printer.isEmpty())
            GTEST_SKIP() << deckrun::test::NoPrinterUnderTest;
        ASSERT_TRUE(m_dir.isValid());
        m_token = QStringLiteral("e2e%1x%2")
                      .arg(QCoreApplication::applicationPid())
                      .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    }

    void TearDown() override
    {
        if (!m_office)
            return;
        const QString root = m_office->profileRoot();
        m_form.reset();
        m_office = nullptr;
        fake.platform.office.reset(); // ends the office, should one still run
        EXPECT_EQ(officeProcesses(root), QStringList()) << "an office process outlived the test";
        const QDir dir(qEnvironmentVariable("DECKRUN_TEST_PDF_DIR"));
        for (const Pdf &pdf : pdfsWith(m_token))
            QFile::remove(dir.filePath(pdf.name));
    }

    /**
     * The window as Deckrun starts it, with the real office on a profile of
     * this test's own and the system's printers, the test printer chosen and
     * pause entry 0 ("0 seconds"). `realClock` swaps the test clock for the
     * window's own event loop.
     */
    void openWindow(bool realClock)
    {
        uno::UnoOptions options;
        options.profileRoot = m_dir.filePath(QStringLiteral("office"));
        auto office =
            std::make_unique<uno::UnoAutomation>(deckrun::test::systemPrinters(), options);
        m_office = office.get();
        fake.platform.office = std::move(office);
        fake.office = nullptr;
        fake.platform.printers = std::make_unique<QtPrinters>();
        fake.printers = nullptr;
        if (realClock) {
            fake.platform.events = std::make_unique<QtEventLoop>();
            fake.events = nullptr;
        }

        m_form = std::make_unique<Form1>(fake.platform);
        m_form->Form_Load(); // fills Combo1 from the system's printers, Combo2 with the pauses
        ASSERT_TRUE(fake.dialogs->messages.empty())
            << "start-up said: " << fake.dialogs->messages.front().text.toStdString();
        const int printer = m_form->Combo1->findText(m_printer, Qt::MatchExactly);
        ASSERT_GE(printer, 0) << "the test printer is not in the printer list";
        m_form->Combo1->setCurrentIndex(printer);
        m_form->Combo2->setCurrentIndex(0);
        ASSERT_EQ(m_form->Combo2->currentText(), QStringLiteral("0 seconds"));
        m_form->show();
        QCoreApplication::processEvents();
    }

    /** A copy of a bundled sample under this test's own name, in `folder`. */
    QString copySample(const QString &folder, const Sample &sample)
    {
        QDir().mkpath(folder);
        const QString path = folder + QLatin1Char('/') + m_token + QLatin1Char(' ') +
                             QString::fromLatin1(sample.file);
        EXPECT_TRUE(QFile::copy(QStringLiteral(DECKRUN_PROGRAM_DIR "/Samples/") +
                                    QString::fromLatin1(sample.file),
                                path))
            << sample.file;
        return path;
    }

    /** The step numbers of the print run's error reports, in order. */
    std::vector<int> reportedSteps() const
    {
        return fake.dialogs->reportedSteps(printRunLocation());
    }

    /** Presses "Start Printing" as the user does; returns the seconds the run took. */
    double pressStartPrinting()
    {
        QElapsedTimer clock;
        clock.start();
        m_form->PushButton3->click();
        const double seconds = clock.nsecsElapsed() / 1e9;
        std::printf("[   TIME   ] the run took %.2f s\n", seconds);
        return seconds;
    }

    /** What the window shows once a run is over. */
    void expectIdleAfterTheRun()
    {
        ASSERT_FALSE(fake.dialogs->messages.empty());
        const ShownMessage &last = fake.dialogs->messages.back();
        expectMessageBox(last, QStringLiteral("Done."), Buttons::Ok);
        EXPECT_FALSE(m_form->IsPrinting);
        EXPECT_EQ(m_form->ProgressBar1->value(), 0);
        EXPECT_EQ(m_form->ProgressBar1->text(), QStringLiteral("Progress Bar"));
        EXPECT_EQ(m_form->mousePointer(), pointer::Default);
        EXPECT_EQ(m_office->childPid(), -1);
        EXPECT_EQ(officeProcesses(m_office->profileRoot()), QStringList())
            << "the office outlived the run";
    }

    FakePlatform fake;
    std::unique_ptr<Form1> m_form;
    uno::UnoAutomation *m_office = nullptr;
    QString m_printer, m_token;
    QTemporaryDir m_dir;
};

} // namespace

// The four samples, loaded by "Load Sample/Example Files", with a damaged file
// in the middle: each sample becomes one PDF with one page per slide, in queue
// order; the damaged file gives its run of reports and no PDF, and the run goes
// on with the next file.
TEST_F(PrintRunE2E, SamplesAndADamagedFilePrintInQueueOrder)
{
    ASSERT_NO_FATAL_FAILURE(openWindow(false));

    // A program folder of the test's own whose samples carry the test's name.
    const QString program = m_dir.filePath(QStringLiteral("program"));
    for (const Sample &s : Samples)
        copySample(program + QStringLiteral("/Samples"), s);
    fake.program->folder = program;
    fake.dialogs->answers.push_back(Answer::No); // do not open the samples' folder
    m_form->PushButton8->click();
    ASSERT_EQ(m_form->queue().count(), 4);
    ASSERT_EQ(fake.dialogs->messages.size(), 1u);
    EXPECT_EQ(fake.dialogs->messages[0].buttons, Buttons::YesNo);
    EXPECT_TRUE(fake.shell->folders.isEmpty());
    fake.dialogs->messages.clear();

    QByteArray noise(20000, '\0');
    QRandomGenerator(6).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    const QString damaged = m_dir.filePath(m_token + QStringLiteral(" Damaged Deck.pptx"));
    {
        QFile f(damaged);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(noise), noise.size());
    }
    m_form->queue().insertAt(3, damaged);
    const QStringList queued = m_form->queue().rows();
    ASSERT_EQ(pdfsWith(m_token).size(), 0u);

    // What the progress bar shows as each file begins (the pump of step 118 comes first).
    QStringList shown;
    fake.events->pumpAction = [&] {
        const QString text = m_form->ProgressBar1->text();
        if (shown.isEmpty() || shown.back() != text)
            shown << text;
    };
    pressStartPrinting();

    // Five files, each with 1 + 1 + (0 + 1) seconds of fixed waits, all on the test clock.
    EXPECT_DOUBLE_EQ(fake.events->slept, 15.0);
    QStringList expectedShown;
    for (const QString &path : queued)
        expectedShown << QStringLiteral("Processing: ") + QFileInfo(path).fileName();
    EXPECT_EQ(shown, expectedShown);

    // The damaged file: its open fails, and so does each step that needs what it would have made.
    EXPECT_THAT(reportedSteps(), ElementsAre(120, 122, 126, 128, 130, 132));
    const auto reports = fake.dialogs->reports();
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(reports[0].text.contains(damaged)) << reports[0].text.toStdString();
    EXPECT_EQ(fake.dialogs->messages.size(), reports.size() + 1) << "only the reports and Done.";
    expectIdleAfterTheRun();

    std::vector<const Sample *> expected;
    for (const QString &path : queued)
        for (const Sample &s : Samples)
            if (path.endsWith(QLatin1Char(' ') + QString::fromLatin1(s.file)))
                expected.push_back(&s);
    ASSERT_EQ(expected.size(), 4u);

    const std::vector<Pdf> pdfs = waitForPdfs(m_token, expected.size(), 30000);
    QStringList names;
    for (const Pdf &pdf : pdfs)
        names << pdf.name;
    ASSERT_EQ(pdfs.size(), expected.size()) << names.join(QLatin1Char('\n')).toStdString();
    for (std::size_t k = 0; k < pdfs.size(); ++k) {
        const QString deck = asPdfName(QString::fromLatin1(expected[k]->file));
        EXPECT_TRUE(pdfs[k].name.contains(deck))
            << "PDF " << k + 1 << " is " << pdfs[k].name.toStdString() << ", expected "
            << deck.toStdString();
        EXPECT_EQ(pdfs[k].pages, expected[k]->slides) << pdfs[k].name.toStdString();
        EXPECT_GT(pdfs[k].job, 0) << pdfs[k].name.toStdString();
    }
    EXPECT_FALSE(names.join(QLatin1Char('\n')).contains(QStringLiteral("Damaged")));
}

// One file with the real clock and pause entry 0: the run takes its three
// seconds of fixed waits on top of the office's own work, and the window's
// event loop runs meanwhile.
TEST_F(PrintRunE2E, OneFileOnTheRealClock)
{
    ASSERT_NO_FATAL_FAILURE(openWindow(true));
    const Sample &sample = Samples[3];
    m_form->queue().append(copySample(m_dir.filePath(QStringLiteral("decks")), sample));

    int timerTicks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++timerTicks; });
    ticker.start(100);
    const double seconds = pressStartPrinting();
    ticker.stop();

    EXPECT_GE(seconds, 3.0) << "1 s after opening, 1 s after quitting, 0 + 1 s of pause";
    EXPECT_GE(timerTicks, 10) << "the window's events wait while the run waits";
    EXPECT_THAT(reportedSteps(), ElementsAre());
    EXPECT_EQ(fake.dialogs->messages.size(), 1u);
    expectIdleAfterTheRun();

    const std::vector<Pdf> pdfs = waitForPdfs(m_token, 1, 30000);
    ASSERT_EQ(pdfs.size(), 1u);
    EXPECT_TRUE(pdfs[0].name.contains(asPdfName(QString::fromLatin1(sample.file))))
        << pdfs[0].name.toStdString();
    EXPECT_EQ(pdfs[0].pages, sample.slides);
}

// Print settings kept from an earlier start reach the printer: three slides on
// one handout sheet, and the run log names what the office was asked for.
TEST_F(PrintRunE2E, KeptPrintSettingsReachThePrinter)
{
    fake.settings->values.insert(QStringLiteral("PrintLayout"), QStringLiteral("handouts-6"));
    fake.settings->values.insert(QStringLiteral("PrintColor"), QStringLiteral("gray"));
    ASSERT_NO_FATAL_FAILURE(openWindow(false));
    m_form->queue().append(copySample(m_dir.filePath(QStringLiteral("decks")), Samples[0]));
    pressStartPrinting();
    const std::vector<Pdf> pdfs = waitForPdfs(m_token, 1, 30000);
    ASSERT_EQ(pdfs.size(), 1u);
    EXPECT_EQ(pdfs[0].pages, 1);
    const auto log = readRunLog(fake.runLogPath());
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0][QStringLiteral("settings")].toObject(),
              QJsonObject({{QStringLiteral("layout"), QStringLiteral("handouts-6")},
                           {QStringLiteral("color"), QStringLiteral("gray")}}));
}

#endif // DECKRUN_HAS_UNO
