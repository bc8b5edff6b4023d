// SPDX-License-Identifier: GPL-3.0-or-later
// Decks print as they ask and as the run asks, through the real office to the
// tests' own PDF printer: one deck a row, its PDF read back with pdfinfo and
// pdftoppm, and its CUPS job's attributes read back from the scheduler.

#ifdef DECKRUN_HAS_UNO

#include "core/queue/QueueModel.h"
#include "core/run/KeptApplication.h"
#include "core/run/PrintRun.h"
#include "platform/uno/UnoAutomation.h"
#include "platform/uno/ZipEntry.h"
#include "support/FakePlatform.h"
#include "support/RecordingFrontEnd.h"
#include "support/SampleDeck.h"
#include "support/SystemPrinters.h"
#include "support/ZipWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <cups/cups.h>

#include <gtest/gtest.h>

#include <functional>

using namespace deckrun;
using namespace deckrun::test;

namespace {

/** The names of a zip file's entries, from its central directory. */
QList<QByteArray> zipNames(const QByteArray &zip)
{
    QList<QByteArray> names;
    const auto at16 = [&](qsizetype i) { return quint16(uchar(zip[i]) | uchar(zip[i + 1]) << 8); };
    const auto at32 = [&](qsizetype i) { return quint32(at16(i) | quint32(at16(i + 2)) << 16); };
    const qsizetype end = zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
    for (qsizetype p = at32(end + 16); end > 0 && p + 46 < end;) {
        const quint16 nameLength = at16(p + 28);
        names << zip.mid(p + 46, nameLength);
        p += 46 + nameLength + at16(p + 30) + at16(p + 32);
    }
    return names;
}

/** `pptx` again, its presProps.xml asking PowerPoint to print `printWhat` ("handouts6"). */
QString withPrintSettings(const QString &pptx, const QString &out, const char *printWhat)
{
    QFile in(pptx);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    QList<ZipItem> items;
    for (const QByteArray &name : zipNames(in.readAll())) {
        if (name == "ppt/presProps.xml")
            continue;
        items << ZipItem{name, uno::zipEntry(pptx, name).value_or(QByteArray()), true};
    }
    items << ZipItem{"ppt/presProps.xml",
                     QByteArray("<?xml version=\"1.0\"?><p:presentationPr xmlns:p=\"http://"
                                "schemas.openxmlformats.org/presentationml/2006/main\"><p:prnPr "
                                "prnWhat=\"") +
                         printWhat + "\"/></p:presentationPr>",
                     true};
    QFile file(out);
    return file.open(QIODevice::WriteOnly) && file.write(makeZip(items)) > 0 ? out : QString();
}

/** The attribute `name` of CUPS job `id` as text ("2", "two-sided-long-edge"). */
QString jobAttribute(int id, const char *name)
{
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr,
                 qPrintable(QStringLiteral("ipp://localhost/jobs/%1").arg(id)));
    ipp_t *response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    char value[256] = {};
    if (ipp_attribute_t *attribute = ippFindAttribute(response, name, IPP_TAG_ZERO))
        ippAttributeString(attribute, value, sizeof value);
    ippDelete(response);
    return QString::fromUtf8(value);
}

/** Whether any pixel of the PDF's first page, drawn small, has a colour other than a grey. */
bool hasColour(const QString &pdf)
{
    QProcess draw;
    draw.start(QStringLiteral("pdftoppm"),
               {QStringLiteral("-r"), QStringLiteral("20"), QStringLiteral("-f"),
                QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("1"), pdf});
    draw.waitForFinished(30000);
    const QByteArray ppm = draw.readAllStandardOutput();
    // P6 WIDTH HEIGHT 255, then the pixels as red, green, blue.
    const qsizetype start = ppm.indexOf("255\n") + 4;
    for (qsizetype k = start; start > 4 && k + 2 < ppm.size(); k += 3) {
        const int r = uchar(ppm[k]), g = uchar(ppm[k + 1]), b = uchar(ppm[k + 2]);
        if (std::max({r, g, b}) - std::min({r, g, b}) > 24)
            return true;
    }
    return false;
}

/** One deck a row: what the run asks, and what must come of it (-1, none: not looked at). */
struct Row {
    const char *name;
    const char *deck; // one of the suite's decks
    PrintSettings asked;
    int pages = -1;
    bool portrait = false;
    std::optional<bool> colour = {};
    const char *copies = nullptr, *sides = nullptr; // the CUPS job's attributes
    friend void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }
};

PrintSettings asking(std::function<void(PrintSettings &)> set)
{
    PrintSettings settings;
    set(settings);
    return settings;
}

class DeckPrints : public testing::TestWithParam<Row> {
protected:
    static void SetUpTestSuite()
    {
        if (printerUnderTest().isEmpty())
            return;
        s_dir = new QTemporaryDir;
        const auto at = [](const char *name) { return s_dir->filePath(QLatin1String(name)); };
        writeFlatDeck(at("seven.fodp"), 7);
        writeFlatDeck(at("hidden.fodp"), 3, 2);
        const QString pptx = convertDeck(at("seven.fodp"), QStringLiteral("pptx"), at("profile"));
        withPrintSettings(pptx, at("handouts6.pptx"), "handouts6");
        QFile::copy(QStringLiteral(DECKRUN_PROGRAM_DIR "/Samples/Quarterly Review.pptx"),
                    at("colour.pptx"));
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override
    {
        if (printerUnderTest().isEmpty())
            GTEST_SKIP() << NoPrinterUnderTest;
    }
    void TearDown() override
    {
        if (!printerUnderTest().isEmpty())
            removeTestPdfs(token());
    }
    static QString token()
    {
        return QStringLiteral("settings%1").arg(QCoreApplication::applicationPid());
    }

    /** Prints the row's deck as the row asks, through one office; its print job. */
    int print()
    {
        const QString deck =
            s_dir->filePath(token() + QLatin1Char('-') + QLatin1String(GetParam().deck));
        QFile::copy(s_dir->filePath(QLatin1String(GetParam().deck)), deck);
        uno::UnoOptions options;
        options.profileRoot = s_dir->filePath(QStringLiteral("office"));
        uno::UnoAutomation office(systemPrinters(), options);
        fake.printers->names = {printerUnderTest()};
        frontEnd.printer = printerUnderTest();
        {
            OneApplication strategy(office, *fake.platform.files);
            QueueModel queue;
            queue.append(deck);
            bool printing = false;
            printQueue(RunSetup{.platform = fake.platform,
                                .choices = frontEnd,
                                .progress = frontEnd,
                                .strategy = strategy,
                                .pause = PauseRule::None,
                                .settings = GetParam().asked},
                       queue, printing);
        }
        office.shutdown();
        return frontEnd.ended.size() == 1 ? frontEnd.ended[0].jobId : 0;
    }

    /** The PDF the tests' printer made of job `id`, once the job is complete (a minute at most). */
    static QString pdfOfJob(int id)
    {
        const QDir dir(qEnvironmentVariable("DECKRUN_TEST_PDF_DIR"));
        QElapsedTimer clock;
        clock.start();
        for (; clock.elapsed() < 60000; QThread::msleep(100)) {
            if (jobAttribute(id, "job-state") != QLatin1String("completed"))
                continue;
            const QStringList found =
                dir.entryList({QStringLiteral("*-job_%1.pdf").arg(id)}, QDir::Files);
            if (!found.isEmpty())
                return dir.filePath(found.first());
        }
        return {};
    }

    FakePlatform fake;
    RecordingFrontEnd frontEnd;
    static inline QTemporaryDir *s_dir = nullptr;
};

const Row Rows[] = {
    // The deck's own settings: seven slides, six a page.
    {.name = "DeckSavedWithHandouts6", .deck = "handouts6.pptx", .asked = {}, .pages = 2},
    {.name = "Notes",
     .deck = "seven.fodp",
     .asked = asking([](PrintSettings &s) { s.layout = PrintLayout::Notes; }),
     .pages = 7,
     .portrait = true},
    {.name = "Colour", .deck = "colour.pptx", .asked = {}, .colour = true},
    {.name = "Gray",
     .deck = "colour.pptx",
     .asked = asking([](PrintSettings &s) { s.color = PrintColor::Gray; }),
     .colour = false},
    {.name = "HiddenSlidesLeftOut", .deck = "hidden.fodp", .asked = {}, .pages = 2},
    {.name = "HiddenSlidesPutBack",
     .deck = "hidden.fodp",
     .asked = asking([](PrintSettings &s) { s.hiddenSlides = true; }),
     .pages = 3},
    {.name = "SlidesTwoToThree",
     .deck = "seven.fodp",
     .asked = asking([](PrintSettings &s) { s.slides = "2-3"; }),
     .pages = 2},
    {.name = "TwoCopiesTwoSided",
     .deck = "seven.fodp",
     .asked = asking([](PrintSettings &s) {
         s.copies = 2;
         s.sides = PrintSides::LongEdge;
     }),
     .copies = "2",
     .sides = "two-sided-long-edge"},
};

} // namespace

TEST_P(DeckPrints, AsTheDeckAndTheRunAsk)
{
    const Row &row = GetParam();
    const int job = print();
    ASSERT_GT(job, 0) << "not printed";
    const QString pdf = pdfOfJob(job);
    ASSERT_FALSE(pdf.isEmpty()) << "no PDF of job " << job;
    if (row.pages >= 0) {
        EXPECT_EQ(pdfPages(pdf), row.pages);
    }
    if (row.portrait) {
        QProcess info;
        info.start(QStringLiteral("pdfinfo"), {pdf});
        info.waitForFinished(30000);
        const auto size = QRegularExpression(QStringLiteral("Page size: +([\\d.]+) x ([\\d.]+)"))
                              .match(QString::fromLocal8Bit(info.readAllStandardOutput()));
        EXPECT_GT(size.captured(2).toDouble(), size.captured(1).toDouble()) << "not portrait";
    }
    if (row.colour) {
        EXPECT_EQ(hasColour(pdf), *row.colour);
    }
    if (row.copies) {
        EXPECT_EQ(jobAttribute(job, "copies"), QLatin1String(row.copies));
    }
    if (row.sides) {
        EXPECT_EQ(jobAttribute(job, "sides"), QLatin1String(row.sides));
    }
}
INSTANTIATE_TEST_SUITE_P(OneDeckARow, DeckPrints, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<Row> &row) {
                             return std::string(row.param.name);
                         });

#endif
