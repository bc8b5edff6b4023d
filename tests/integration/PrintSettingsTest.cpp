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

#include <algorithm>
#include <cmath>
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

/** A word on a slide, its top left corner in centimetres from the slide's. */
struct Word {
    QByteArray text;
    double x = 2, y = 2;
};

/**
 * A flat presentation of a slide a word, `width` by `height` cm; white on
 * dark blue when `dark`; with `outlined`, each word is its slide's title,
 * with "Points" and, a level below, "Detail" for body text.
 */
QString writeWordDeck(const QString &path, const QList<Word> &words, double width = 25.4,
                      double height = 19.05, bool dark = false, bool outlined = false)
{
    const QByteArray cm = "cm\"";
    QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document "
        "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
        "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
        "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
        "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
        "xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\" "
        "office:version=\"1.2\" "
        "office:mimetype=\"application/vnd.oasis.opendocument.presentation\"><office:styles/>"
        "<office:automatic-styles><style:page-layout style:name=\"PM\"><style:page-layout-"
        "properties fo:margin-top=\"0cm\" fo:margin-bottom=\"0cm\" fo:margin-left=\"0cm\" "
        "fo:margin-right=\"0cm\" fo:page-width=\"" +
        QByteArray::number(width) + cm + " fo:page-height=\"" + QByteArray::number(height) + cm +
        "/></style:page-layout><style:style style:name=\"dp\" style:family=\"drawing-page\">"
        "<style:drawing-page-properties draw:fill=\"" +
        (dark ? "solid\" draw:fill-color=\"#102050\"" : QByteArray("none\"")) +
        "/></style:style><style:style style:name=\"f\" style:family=\"graphic\"><style:graphic-"
        "properties draw:fill=\"none\" draw:stroke=\"none\"/></style:style>"
        "<style:style style:name=\"w\" style:family=\"text\"><style:text-"
        "properties fo:font-size=\"28pt\" fo:color=\"" +
        (dark ? "#ffffff" : "#000000") +
        "\"/></style:style></office:automatic-styles><office:master-styles><style:master-page "
        "style:name=\"M\" style:page-layout-name=\"PM\" draw:style-name=\"dp\"/>"
        "</office:master-styles><office:body><office:presentation>";
    const QByteArray title = outlined ? " presentation:class=\"title\"" : "";
    const QByteArray body =
        outlined ? "<draw:frame presentation:class=\"outline\" svg:x=\"2cm\" svg:y=\"6cm\" "
                   "svg:width=\"20cm\" svg:height=\"8cm\"><draw:text-box><text:list><text:list-"
                   "item><text:p>Points</text:p><text:list><text:list-item><text:p>Detail</text:p>"
                   "</text:list-item></text:list></text:list-item></text:list></draw:text-box>"
                   "</draw:frame>"
                 : "";
    for (const Word &w : words)
        xml += "<draw:page draw:master-page-name=\"M\" draw:style-name=\"dp\"><draw:frame" + title +
               " draw:style-name=\"f\" svg:x=\"" + QByteArray::number(w.x) + cm + " svg:y=\"" +
               QByteArray::number(w.y) + cm +
               " svg:width=\"5cm\" svg:height=\"2cm\"><draw:text-box><text:p><text:span "
               "text:style-name=\"w\">" +
               w.text + "</text:span></text:p></draw:text-box></draw:frame>" + body +
               "</draw:page>";
    xml += "</office:presentation></office:body></office:document>";
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(xml) == xml.size() ? path : QString();
}

const QList<Word> SevenWords{{"Alpha"}, {"Bravo"},   {"Charlie"}, {"Delta"},
                             {"Echo"},  {"Foxtrot"}, {"Golf"}};

struct Placed {
    QString word;
    double x, y, right, bottom; // pixels from the page's top left
};

/**
 * The words read on each page of `pdf` (drawn at 150 dpi, then read by OCR:
 * the PDF printer's own conversion keeps no text to extract), with each
 * page's size.
 */
QList<QPair<QSizeF, QList<Placed>>> wordsOn(const QString &pdf)
{
    QTemporaryDir drawn;
    QProcess::execute(QStringLiteral("pdftoppm"),
                      {QStringLiteral("-r"), QStringLiteral("150"), QStringLiteral("-gray"),
                       QStringLiteral("-png"), pdf, drawn.filePath(QStringLiteral("p"))});
    QList<QPair<QSizeF, QList<Placed>>> pages;
    for (const QString &png :
         QDir(drawn.path()).entryList({QStringLiteral("p*.png")}, QDir::Files, QDir::Name)) {
        QProcess ocr;
        ocr.start(QStringLiteral("tesseract"),
                  {drawn.filePath(png), QStringLiteral("-"), QStringLiteral("--psm"),
                   QStringLiteral("11"), QStringLiteral("tsv")});
        ocr.waitForFinished(60000);
        pages.append({QSizeF(), {}});
        // level page block paragraph line word left top width height confidence text
        for (const QByteArray &line : ocr.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> f = line.split('\t');
            if (f.size() < 12)
                continue;
            const double x = f[6].toDouble(), y = f[7].toDouble();
            if (f[0] == "1")
                pages.last().first = QSizeF(f[8].toDouble(), f[9].toDouble());
            else if (f[0] == "5" && f[10].toDouble() > 30 && !f[11].trimmed().isEmpty())
                pages.last().second.append({QString::fromUtf8(f[11].trimmed()), x, y,
                                            x + f[8].toDouble(), y + f[9].toDouble()});
        }
    }
    return pages;
}

/**
 * The slides on each sheet as a reader meets them, by their word's place in
 * SevenWords: "1 2 / 3 4 | 5" (rows of a sheet apart by " / ", sheets by " | ").
 */
QString reading(const QList<QPair<QSizeF, QList<Placed>>> &pages)
{
    QStringList sheets;
    for (auto [size, words] : pages) {
        std::sort(words.begin(), words.end(), [](const Placed &a, const Placed &b) {
            return std::abs(a.y - b.y) > 10 ? a.y < b.y : a.x < b.x;
        });
        QString said;
        for (qsizetype k = 0; k < words.size(); ++k) {
            if (k > 0)
                said += std::abs(words[k].y - words[k - 1].y) > 10 ? QStringLiteral(" / ")
                                                                   : QStringLiteral(" ");
            const auto found =
                std::find_if(SevenWords.begin(), SevenWords.end(), [&](const Word &w) {
                    return QString::fromLatin1(w.text) == words[k].word;
                });
            said += found == SevenWords.end() ? words[k].word
                                              : QString::number(found - SevenWords.begin() + 1);
        }
        sheets << said;
    }
    return sheets.join(QStringLiteral(" | "));
}

/** The first page of `pdf` drawn in gray at `dpi`: its width and its pixels, row by row. */
QPair<int, QByteArray> grayPixels(const QString &pdf, int dpi)
{
    QProcess draw;
    draw.start(QStringLiteral("pdftoppm"),
               {QStringLiteral("-gray"), QStringLiteral("-r"), QString::number(dpi),
                QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                QStringLiteral("1"), pdf});
    draw.waitForFinished(30000);
    const QByteArray pgm = draw.readAllStandardOutput(); // P5 WIDTH HEIGHT 255, then the pixels
    const QList<QByteArray> head = pgm.left(40).simplified().split(' ');
    const qsizetype start = pgm.indexOf("255\n") + 4;
    return {head.size() > 2 ? head[1].toInt() : 0, start > 4 ? pgm.mid(start) : QByteArray()};
}

/** The mean brightness of the first page of `pdf`, 0 (black) to 255 (white paper). */
double brightness(const QString &pdf)
{
    const QByteArray pixels = grayPixels(pdf, 20).second;
    double sum = 0;
    for (const char p : pixels)
        sum += uchar(p);
    return pixels.isEmpty() ? 0 : sum / double(pixels.size());
}

/** Lines of pixels across the right half of the first page that are mostly drawn on. */
int ruledLines(const QString &pdf)
{
    const auto [width, pixels] = grayPixels(pdf, 72);
    int lines = 0;
    for (qsizetype row = 0; width > 0 && (row + 1) * width <= pixels.size(); ++row) {
        int drawn = 0;
        for (int x = width * 11 / 20; x < width * 9 / 10; ++x)
            drawn += uchar(pixels[row * width + x]) < 235;
        lines += drawn > width / 4;
    }
    return lines;
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
    const char *reads = nullptr;                    // see reading()
    bool wordsWhole = false;                        // every word found within its sheet
    double brightness = -1;                         // the first sheet's least mean brightness
    int ruled = 0;                                  // lines for notes beside the slides
    QStringList finds = {};                         // words read on the first sheet
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
        writeWordDeck(at("words.fodp"), SevenWords);
        writeWordDeck(at("dark.fodp"), {{"Night"}}, 25.4, 19.05, true);
        writeWordDeck(at("outlined.fodp"), SevenWords, 25.4, 19.05, false, true);
        writeWordDeck(at("wide.fodp"),
                      {{"North", 14, 0}, {"West", 0, 9}, {"East", 28.867, 9}, {"South", 14, 17.05}},
                      33.867, 19.05);
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
    // The sheets Deckrun makes, read where the words are printed.
    {.name = "Handouts6",
     .deck = "words.fodp",
     .asked = asking([](PrintSettings &s) { s.layout = PrintLayout::Handouts6; }),
     .pages = 2,
     .portrait = true,
     .reads = "1 2 / 3 4 / 5 6 | 7"},
    {.name = "Handouts6Vertical",
     .deck = "words.fodp",
     .asked = asking([](PrintSettings &s) {
         s.layout = PrintLayout::Handouts6;
         s.handoutOrder = HandoutOrder::Vertical;
     }),
     .reads = "1 4 / 2 5 / 3 6 | 7"},
    {.name = "Handouts3Ruled",
     .deck = "words.fodp",
     .asked = asking([](PrintSettings &s) { s.layout = PrintLayout::Handouts3; }),
     .pages = 3,
     .portrait = true,
     .reads = "1 / 2 / 3 | 4 / 5 / 6 | 7",
     .ruled = 8},
    {.name = "Handouts9Framed",
     .deck = "words.fodp",
     .asked = asking([](PrintSettings &s) {
         s.layout = PrintLayout::Handouts9;
         s.frameSlides = true;
     }),
     .reads = "1 2 3 / 4 5 6 / 7"},
    {.name = "BlackAndWhiteOfADarkSlide",
     .deck = "dark.fodp",
     .asked = asking([](PrintSettings &s) { s.color = PrintColor::BlackAndWhite; }),
     .reads = "Night",
     .brightness = 250},
    {.name = "WideSlideWhole",
     .deck = "wide.fodp",
     .asked = asking([](PrintSettings &s) { s.layout = PrintLayout::Slides; }),
     .pages = 4,
     .reads = "North | West | East | South",
     .wordsWhole = true},
    // The outline: each slide's title and body text, no slide drawn.
    {.name = "Outline",
     .deck = "outlined.fodp",
     .asked = asking([](PrintSettings &s) { s.layout = PrintLayout::Outline; }),
     .pages = 1,
     .portrait = true,
     .finds = {"Alpha", "Golf", "Points", "Detail"}},
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
    const auto words = wordsOn(pdf);
    if (row.reads) {
        EXPECT_EQ(reading(words), QLatin1String(row.reads));
    }
    for (const auto &[size, placed] : words)
        for (const Placed &w : placed)
            if (row.wordsWhole) {
                EXPECT_TRUE(w.x >= 0 && w.y >= 0 && w.right <= size.width() &&
                            w.bottom <= size.height())
                    << w.word.toStdString() << " not whole on its sheet";
            }
    if (row.brightness >= 0) {
        EXPECT_GE(brightness(pdf), row.brightness) << "not white paper";
    }
    for (const QString &word : row.finds) {
        ASSERT_FALSE(words.isEmpty());
        EXPECT_TRUE(std::any_of(words[0].second.begin(), words[0].second.end(),
                                [&](const Placed &p) { return p.word == word; }))
            << word.toStdString() << " not printed";
    }
    if (row.ruled > 0) {
        EXPECT_GE(ruledLines(pdf), row.ruled);
    }
}
INSTANTIATE_TEST_SUITE_P(OneDeckARow, DeckPrints, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<Row> &row) {
                             return std::string(row.param.name);
                         });

#endif
