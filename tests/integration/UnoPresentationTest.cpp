// SPDX-License-Identifier: GPL-3.0-or-later
// The LibreOffice backend against the real office and the tests' own CUPS PDF
// printer (scripts/test-printer.sh exports its name and output folder). Each
// test runs the office on a profile of its own and checks that no office
// process outlives it.

#ifdef DECKRUN_HAS_UNO

#include "core/run/PowerPoint1.h"
#include "platform/Failure.h"
#include "platform/uno/UnoAutomation.h"
#include "support/SampleDeck.h"
#include "support/SystemPrinters.h"
#include "support/ZipWriter.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <poll.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {

/** The PDFs of the test printer whose names carry `token`. */
QStringList pdfsWith(const QString &token)
{
    const QString dir = qEnvironmentVariable("DECKRUN_TEST_PDF_DIR");
    QStringList found;
    const QStringList names = QDir(dir).entryList({QStringLiteral("*.pdf")}, QDir::Files);
    for (const QString &name : names)
        if (name.contains(token))
            found << dir + QLatin1Char('/') + name;
    return found;
}

/** Waits for a PDF whose name carries `token` to be complete (cups-pdf writes it after the job). */
QString waitForPdf(const QString &token, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        const QStringList found = pdfsWith(token);
        if (!found.isEmpty() && pdfPages(found.first()) > 0)
            return found.first();
        QThread::msleep(100);
    }
    return QString();
}

class UnoOffice : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (deckrun::test::printerUnderTest().isEmpty())
            return;
        s_decks = new QTemporaryDir;
        const QString flat = writeFlatDeck(s_decks->filePath(QStringLiteral("deck.fodp")), 3);
        s_deck = convertDeck(flat, QStringLiteral("pptx"),
                             s_decks->filePath(QStringLiteral("convert-profile")));
    }
    static void TearDownTestSuite()
    {
        delete s_decks;
        s_decks = nullptr;
    }

    void SetUp() override
    {
        m_printer = deckrun::test::printerUnderTest();
        if (m_printer.isEmpty())
            GTEST_SKIP() << deckrun::test::NoPrinterUnderTest;
        ASSERT_FALSE(s_deck.isEmpty()) << "LibreOffice could not make the sample deck";
        ASSERT_TRUE(m_dir.isValid());
        // A name of this test's own, so its PDF can be told from every other job.
        m_token = QStringLiteral("deckrun-it-%1-%2")
                      .arg(QCoreApplication::applicationPid())
                      .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        uno::UnoOptions options;
        options.profileRoot = m_dir.filePath(QStringLiteral("office"));
        m_office = std::make_unique<uno::UnoAutomation>(deckrun::test::systemPrinters(), options);
    }

    void TearDown() override
    {
        if (!m_office)
            return;
        const QString root = m_office->profileRoot();
        m_office.reset();
        EXPECT_EQ(officeProcesses(root), QStringList()) << "an office process outlived the test";
    }

    /** A copy of the sample deck under this test's own name. */
    QString deck(const QString &suffix = QStringLiteral(".pptx"))
    {
        const QString path = m_dir.filePath(m_token + suffix);
        QFile::copy(s_deck, path);
        return path;
    }

    QString m_printer, m_token;
    QTemporaryDir m_dir;
    std::unique_ptr<uno::UnoAutomation> m_office;
    static inline QTemporaryDir *s_decks = nullptr;
    static inline QString s_deck;
};

} // namespace

TEST_F(UnoOffice, InstalledWithoutStartingTheOffice)
{
    EXPECT_TRUE(m_office->isInstalled());
    EXPECT_EQ(m_office->childPid(), -1);
    EXPECT_EQ(m_office->expectedName(), QStringLiteral("LibreOffice"));
    EXPECT_FALSE(PowerPointIsRunning(*m_office)); // nothing answers on the pipe
}

TEST_F(UnoOffice, OpensPrintsAndQuitsOneDeck)
{
    const QString path = deck();
    std::shared_ptr<PresentationApp> app = OpenPresentation(*m_office, path);
    ASSERT_NE(m_office->childPid(), -1);
    EXPECT_TRUE(PowerPointIsRunning(*m_office)); // found on its pipe, under the product's own name

    {
        const std::shared_ptr<Presentation> presentation = app->activePresentation();
        app->setActivePrinter(m_printer);
        presentation->setPrintInBackground(false);
        presentation->printOut();
        app->quit();
    }
    app.reset();
    EXPECT_EQ(officeProcesses(m_office->profileRoot()), QStringList());
    EXPECT_FALSE(PowerPointIsRunning(*m_office));

    const QString pdf = waitForPdf(m_token, 30000);
    ASSERT_FALSE(pdf.isEmpty()) << "no PDF for " << m_token.toStdString();
    EXPECT_EQ(pdfPages(pdf), 3);
    QFile::remove(pdf);
}

namespace {
enum class Fault {
    MissingFile,
    EmptyFile,
    CorruptFile,
    Drawing, // a drawing under a presentation's name: no presentation to print
    UnknownPrinter,
    EmptyPrinter,
    PrinterTheOfficeDoesNotTake,
    PrinterRemovedBeforePrint,
};
struct FaultCase {
    const char *name;
    Fault fault;
    const char *described; // a part of the description the user reads
};
// Names the case in test listings instead of dumping its bytes.
[[maybe_unused]] void PrintTo(const FaultCase &c, std::ostream *os)
{
    *os << c.name;
}

class UnoOfficeFaults : public UnoOffice, public testing::WithParamInterface<FaultCase> {};

/** The printers as this system lists them, with the names a test adds. */
class ListedPrinters final : public Printers {
public:
    QStringList names = deckrun::test::systemPrinters().printerNames();
    QString defaultPrinterName() override { return {}; }
    QStringList printerNames() override { return names; }
};

/** Runs lpadmin (as root, or through sudo without a password); true when CUPS agreed. */
bool lpadmin(const QStringList &arguments)
{
    const auto quietly = [](const QString &program, const QStringList &args) {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(program, args);
        return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    };
    return quietly(QStringLiteral("lpadmin"), arguments) ||
           quietly(QStringLiteral("sudo"),
                   QStringList{QStringLiteral("-n"), QStringLiteral("lpadmin")} + arguments);
}

/** A PDF printer named `name` that writes where the tests' own printer `like` writes. */
bool addPrinterLike(const QString &name, const QString &like)
{
    QProcess lpstat;
    lpstat.start(QStringLiteral("lpstat"), {QStringLiteral("-v"), like});
    lpstat.waitForFinished(10000);
    const QString device = QString::fromLocal8Bit(lpstat.readAllStandardOutput())
                               .section(QStringLiteral(": "), 1)
                               .trimmed();
    return !device.isEmpty() &&
           lpadmin({QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"), device,
                    QStringLiteral("-P"), QStringLiteral("/etc/cups/ppd/%1.ppd").arg(like)});
}
} // namespace

// Each fault fails at its own step with a readable description, prints
// nothing anywhere, and leaves no office process behind.
TEST_P(UnoOfficeFaults, FailsVisiblyAndPrintsNothing)
{
    const FaultCase c = GetParam();
    QString path =
        deck(c.fault == Fault::Drawing ? QStringLiteral(".odp") : QStringLiteral(".pptx"));
    if (c.fault == Fault::MissingFile) {
        QFile::remove(path);
    } else if (c.fault == Fault::EmptyFile) {
        QFile(path).resize(0);
    } else if (c.fault == Fault::CorruptFile) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QByteArray noise(20000, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        f.write(noise);
    } else if (c.fault == Fault::Drawing) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QByteArray type = "application/vnd.oasis.opendocument.graphics";
        f.write(test::makeZip(
            {{"mimetype", type},
             {"content.xml",
              R"(<?xml version="1.0" encoding="UTF-8"?><office:document-content )"
              R"(xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
              R"(xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" )"
              R"(office:version="1.2"><office:body><office:drawing><draw:page draw:name="p"/>)"
              R"(</office:drawing></office:body></office:document-content>)"},
             {"META-INF/manifest.xml",
              R"(<?xml version="1.0" encoding="UTF-8"?><manifest:manifest )"
              R"(xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" )"
              R"(manifest:version="1.2"><manifest:file-entry manifest:full-path="/" )"
              R"(manifest:media-type=")" +
                  type +
                  R"("/><manifest:file-entry manifest:full-path="content.xml" )"
                  R"(manifest:media-type="text/xml"/></manifest:manifest>)"}}));
    }
    QString printer = c.fault == Fault::UnknownPrinter ? QStringLiteral("No Such Printer 42")
                      : c.fault == Fault::EmptyPrinter ? QString()
                                                       : m_printer;
    // Deckrun's list and the office's own differ: a printer the office has
    // never heard of, or one removed after the office took it.
    ListedPrinters listed;
    uno::UnoOptions options;
    options.profileRoot = m_office->profileRoot();
    if (c.fault == Fault::PrinterTheOfficeDoesNotTake) {
        printer = m_printer + QStringLiteral("_unheard_of");
        listed.names << printer;
    } else if (c.fault == Fault::PrinterRemovedBeforePrint) {
        printer = m_printer + QStringLiteral("_removed");
        if (!addPrinterLike(printer, m_printer))
            GTEST_SKIP() << "CUPS does not let this user add a printer";
        listed.names << printer;
        options.beforeCall = [printer](const QString &call, long) {
            if (call == QLatin1String("print"))
                lpadmin({QStringLiteral("-x"), printer});
        };
    }
    m_office = std::make_unique<uno::UnoAutomation>(listed, options);

    QStringList failures;
    std::shared_ptr<PresentationApp> app;
    try {
        app = OpenPresentation(*m_office, path);
    } catch (const Failure &f) {
        failures << QStringLiteral("open: ") + f.description();
    }
    if (app) {
        // The rest of the print run's steps, each going on after a failure as the run does.
        std::shared_ptr<Presentation> presentation;
        try {
            presentation = app->activePresentation();
        } catch (const Failure &f) {
            failures << f.description();
        }
        try {
            app->setActivePrinter(printer);
        } catch (const Failure &f) {
            failures << QStringLiteral("printer: ") + f.description();
        }
        try {
            if (presentation)
                presentation->printOut();
        } catch (const Failure &f) {
            failures << QStringLiteral("print: ") + f.description();
        }
        presentation.reset();
        app->quit();
        app.reset();
    }
    // A failed open sends no Quit: dropping the reference still ends the office.
    EXPECT_EQ(officeProcesses(m_office->profileRoot()), QStringList());
    if (c.fault == Fault::PrinterRemovedBeforePrint)
        lpadmin({QStringLiteral("-x"), printer}); // gone already, unless the print was never tried

    ASSERT_FALSE(failures.isEmpty());
    EXPECT_TRUE(failures.first().contains(QString::fromUtf8(c.described)))
        << failures.join('\n').toStdString();
    if (c.fault == Fault::UnknownPrinter || c.fault == Fault::EmptyPrinter ||
        c.fault == Fault::PrinterTheOfficeDoesNotTake) {
        ASSERT_EQ(failures.size(), 2) << failures.join('\n').toStdString();
        EXPECT_TRUE(failures[0].startsWith(QLatin1String("printer: ")));
        EXPECT_TRUE(failures[1].startsWith(QLatin1String("print: ")));
        if (c.fault == Fault::PrinterTheOfficeDoesNotTake) {
            EXPECT_TRUE(failures[1].endsWith(
                QStringLiteral("LibreOffice Impress did not take the printer \"%1\".")
                    .arg(printer)))
                << failures[1].toStdString();
        }
    } else if (c.fault == Fault::PrinterRemovedBeforePrint) {
        ASSERT_EQ(failures.size(), 1) << failures.join('\n').toStdString();
        EXPECT_TRUE(failures[0].startsWith(QLatin1String("print: ")));
        EXPECT_TRUE(failures[0].contains(printer)) << failures[0].toStdString();
    } else {
        EXPECT_TRUE(failures.first().contains(path)) << failures.first().toStdString();
    }
    // Nothing printed, on the test printer or anywhere else cups-pdf writes.
    QThread::msleep(1000);
    EXPECT_EQ(pdfsWith(m_token), QStringList());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UnoOfficeFaults,
    testing::Values(FaultCase{"MissingFile", Fault::MissingFile, "the file does not exist"},
                    FaultCase{"EmptyFile", Fault::EmptyFile, "the file is empty."},
                    FaultCase{"CorruptFile", Fault::CorruptFile,
                              "damaged or is not a presentation"},
                    // Kills an open that takes any file the office can read for a presentation.
                    FaultCase{"Drawing", Fault::Drawing, "the file is not a presentation."},
                    FaultCase{"UnknownPrinter", Fault::UnknownPrinter,
                              "The printer \"No Such Printer 42\" is not known to this system."},
                    FaultCase{"EmptyPrinter", Fault::EmptyPrinter, "No printer was chosen."},
                    FaultCase{"PrinterTheOfficeDoesNotTake", Fault::PrinterTheOfficeDoesNotTake,
                              "refused the printer"},
                    FaultCase{"PrinterRemovedBeforePrint", Fault::PrinterRemovedBeforePrint,
                              "could not print"}),
    [](const testing::TestParamInfo<FaultCase> &row) { return std::string(row.param.name); });

namespace {
/** A loopback HTTP server that answers every request with a picture, and counts them. */
class PictureServer {
public:
    PictureServer() : m_socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_socket, 16);
        ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length);
        m_url = QStringLiteral("http://127.0.0.1:%1").arg(ntohs(address.sin_port));
        m_thread = std::thread([this] {
            const QByteArray picture = png();
            for (pollfd p{m_socket, POLLIN, 0}; !m_stop; p.revents = 0) {
                if (::poll(&p, 1, 50) <= 0)
                    continue;
                const int client = ::accept(m_socket, nullptr, nullptr);
                char request[4096];
                if (::read(client, request, sizeof request) > 0)
                    ++m_requests;
                const QByteArray answer = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n"
                                          "Content-Length: " +
                                          QByteArray::number(picture.size()) + "\r\n\r\n" + picture;
                [[maybe_unused]] const auto sent = ::write(client, answer.data(), answer.size());
                ::close(client);
            }
        });
    }
    ~PictureServer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_socket);
    }
    const QString &url() const { return m_url; }
    int requests() const { return m_requests; }
    static QByteArray png()
    {
        QImage red(16, 16, QImage::Format_RGB32);
        red.fill(Qt::red);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        red.save(&buffer, "PNG");
        return bytes;
    }

private:
    int m_socket;
    QString m_url;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

/** A deck whose pictures, fills and background are linked: `remote` (a URL), `far`, and beside it.
 */
QByteArray linkedDeck(const QString &suffix, const QString &remote, const QString &far)
{
    const auto text = [](const QString &xml) { return xml.toUtf8(); };
    if (suffix == QLatin1String(".odp")) {
        const QString ns =
            QStringLiteral("xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                           "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
                           "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
                           "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
                           "xmlns:xlink=\"http://www.w3.org/1999/xlink\" office:version=\"1.2\"");
        const auto fill = [](const char *name, const QString &href) {
            return QStringLiteral("<draw:fill-image draw:name=\"%1\" xlink:href=\"%2\" "
                                  "xlink:type=\"simple\" xlink:show=\"embed\"/>")
                .arg(QLatin1String(name), href);
        };
        const auto style = [](const char *name, const char *family) {
            return QStringLiteral("<style:style style:name=\"%1\" style:family=\"%2\"><style:%2-"
                                  "properties draw:fill=\"bitmap\" draw:fill-image-name=\"%1\"/>"
                                  "</style:style>")
                .arg(QLatin1String(name), QLatin1String(family));
        };
        const auto shape = [](const char *inner, int x) {
            return QStringLiteral("<draw:%1 svg:x=\"%2cm\" svg:y=\"1cm\" svg:width=\"5cm\" "
                                  "svg:height=\"5cm\"%3")
                .arg(QLatin1String(inner))
                .arg(x)
                .arg(QLatin1String(inner).startsWith(QLatin1String("frame"))
                         ? QStringLiteral(">%1</draw:frame>")
                         : QStringLiteral("/>"));
        };
        const QString styles =
            QStringLiteral("<office:styles>%1%2</office:styles>")
                .arg(fill("remote", remote + QStringLiteral("/fill")), fill("far", far));
        const QString body =
            QStringLiteral("<office:automatic-styles>%1%2</office:automatic-styles><office:body>"
                           "<office:presentation><draw:page draw:name=\"p\" draw:style-name=\""
                           "remote\">%3%4%5</draw:page></office:presentation></office:body>")
                .arg(style("remote", "drawing-page"), style("far", "graphic"),
                     shape("frame", 1)
                         .arg(QStringLiteral("<draw:image xlink:href=\"%1/pic\"/>").arg(remote)),
                     shape("frame", 7)
                         .arg(QStringLiteral("<draw:image xlink:href=\"%1\"/>").arg(far)),
                     shape("rect draw:style-name=\"far\"", 13));
        return makeZip(
            {{"mimetype", "application/vnd.oasis.opendocument.presentation"},
             {"styles.xml", text(QStringLiteral("<office:document-styles %1>%2"
                                                "</office:document-styles>")
                                     .arg(ns, styles))},
             {"content.xml", text(QStringLiteral("<office:document-content %1>%2"
                                                 "</office:document-content>")
                                      .arg(ns, body))},
             {"META-INF/manifest.xml",
              "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:"
              "1.0\" manifest:version=\"1.2\"><manifest:file-entry manifest:full-path=\"/\" "
              "manifest:media-type=\"application/vnd.oasis.opendocument.presentation\"/>"
              "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\""
              "text/xml\"/><manifest:file-entry manifest:full-path=\"styles.xml\" "
              "manifest:media-type=\"text/xml\"/></manifest:manifest>"}});
    }
    const QString p = QStringLiteral("http://schemas.openxmlformats.org/");
    const QString r = p + QStringLiteral("officeDocument/2006/relationships");
    const QString ns = QStringLiteral("xmlns:a=\"%1drawingml/2006/main\" xmlns:r=\"%2\" "
                                      "xmlns:p=\"%1presentationml/2006/main\"")
                           .arg(p, r);
    const auto rels = [&](const QString &inner) {
        return text(QStringLiteral("<Relationships xmlns=\"%1package/2006/relationships\">%2"
                                   "</Relationships>")
                        .arg(p, inner));
    };
    const auto rel = [&](const char *id, const char *type, const QString &target, bool external) {
        return QStringLiteral("<Relationship Id=\"%1\" Type=\"%2/%3\" Target=\"%4\"%5/>")
            .arg(QLatin1String(id), r, QLatin1String(type), target,
                 external ? QStringLiteral(" TargetMode=\"External\"") : QString());
    };
    const auto blip = [](const char *id) {
        return QStringLiteral("<a:blipFill><a:blip r:link=\"%1\"/><a:stretch><a:fillRect/>"
                              "</a:stretch></a:blipFill>")
            .arg(QLatin1String(id));
    };
    const auto box = [&](int n, const char *id) {
        return QStringLiteral(
                   "<p:sp><p:nvSpPr><p:cNvPr id=\"%1\" name=\"s%1\"/><p:cNvSpPr/><p:nvPr/>"
                   "</p:nvSpPr><p:spPr><a:xfrm><a:off x=\"%2\" y=\"0\"/><a:ext "
                   "cx=\"900000\" cy=\"900000\"/></a:xfrm><a:prstGeom prst=\"rect\"/>%3"
                   "</p:spPr></p:sp>")
            .arg(n)
            .arg(n * 1000000)
            .arg(blip(id));
    };
    const QString type = QStringLiteral("application/vnd.openxmlformats-officedocument."
                                        "presentationml.");
    return makeZip(
        {{"[Content_Types].xml",
          text(QStringLiteral("<Types xmlns=\"%1package/2006/content-types\"><Default Extension="
                              "\"rels\" ContentType=\"application/vnd.openxmlformats-package."
                              "relationships+xml\"/><Default Extension=\"xml\" ContentType=\""
                              "application/xml\"/><Override PartName=\"/ppt/presentation.xml\" "
                              "ContentType=\"%2presentation.main+xml\"/><Override PartName=\"/ppt/"
                              "slides/slide1.xml\" ContentType=\"%2slide+xml\"/></Types>")
                   .arg(p, type))},
         {"_rels/.rels", rels(rel("rId1", "officeDocument", "ppt/presentation.xml", false))},
         {"ppt/presentation.xml",
          text(QStringLiteral("<p:presentation %1><p:sldIdLst><p:sldId id=\"256\" r:id=\"rId1\"/>"
                              "</p:sldIdLst><p:sldSz cx=\"9144000\" cy=\"6858000\"/><p:notesSz "
                              "cx=\"6858000\" cy=\"9144000\"/></p:presentation>")
                   .arg(ns))},
         {"ppt/_rels/presentation.xml.rels",
          rels(rel("rId1", "slide", "slides/slide1.xml", false))},
         {"ppt/slides/slide1.xml",
          text(QStringLiteral(
                   "<p:sld %1><p:cSld><p:bg><p:bgPr>%2<a:effectLst/></p:bgPr></p:bg>"
                   "<p:spTree><p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/>"
                   "<p:nvPr/></p:nvGrpSpPr><p:grpSpPr/><p:pic><p:nvPicPr><p:cNvPr id=\"9\""
                   " name=\"pic\"/><p:cNvPicPr/><p:nvPr/></p:nvPicPr>%3<p:spPr><a:xfrm>"
                   "<a:off x=\"0\" y=\"2000000\"/><a:ext cx=\"900000\" cy=\"900000\"/>"
                   "</a:xfrm><a:prstGeom prst=\"rect\"/></p:spPr></p:pic>%4</p:spTree>"
                   "</p:cSld></p:sld>")
                   .arg(ns, blip("rId4"),
                        blip("rId2").replace(QStringLiteral("a:blipFill"),
                                             QStringLiteral("p:blipFill")),
                        box(2, "rId3")))},
         {"ppt/slides/_rels/slide1.xml.rels",
          rels(rel("rId2", "image", remote + QStringLiteral("/pic"), true) +
               rel("rId3", "image", far, true) +
               rel("rId4", "image", remote + QStringLiteral("/background"), true))}});
}

struct LinkCase {
    const char *name;
    const char *suffix;
    bool confined; // the office in its confinement, or held by its own settings alone
};
[[maybe_unused]] void PrintTo(const LinkCase &c, std::ostream *os)
{
    *os << c.name;
}
class LinkedContent : public UnoOffice, public testing::WithParamInterface<LinkCase> {};
} // namespace

// A deck's linked pictures, fills and background are neither fetched from
// the network nor read from files elsewhere: by the office's own settings
// alone no request is made (kills dropping them); in its confinement not even
// a fill's link to a file is read (kills dropping the confinement, or the
// deck's private copy: the office could not read the deck itself).
TEST_P(LinkedContent, IsNeitherFetchedNorRead)
{
    const LinkCase c = GetParam();
    PictureServer server;
    const QString far = m_dir.filePath(QStringLiteral("far.png"));
    QFile picture(far);
    ASSERT_TRUE(picture.open(QIODevice::WriteOnly) && picture.write(PictureServer::png()) > 0);
    picture.close();
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(watch, QFile::encodeName(far), IN_OPEN);
    const QString path = m_dir.filePath(m_token + QLatin1String(c.suffix));
    QFile deckFile(path);
    ASSERT_TRUE(deckFile.open(QIODevice::WriteOnly));
    deckFile.write(
        linkedDeck(QLatin1String(c.suffix), server.url(), QUrl::fromLocalFile(far).toString()));
    deckFile.close();
    uno::UnoOptions options;
    options.profileRoot = m_office->profileRoot();
    options.confined = c.confined;
    m_office = std::make_unique<uno::UnoAutomation>(deckrun::test::systemPrinters(), options);

    std::shared_ptr<PresentationApp> app = OpenPresentation(*m_office, path);
    app->setActivePrinter(m_printer);
    app->activePresentation()->printOut();
    app->quit();
    EXPECT_FALSE(waitForPdf(m_token, 30000).isEmpty()) << "the deck did not print";

    EXPECT_EQ(server.requests(), 0);
    char event[4096];
    const bool farRead = ::read(watch, event, sizeof event) > 0;
    ::close(watch);
    if (c.confined) {
        EXPECT_FALSE(farRead) << "a picture elsewhere was read";
    }
}

INSTANTIATE_TEST_SUITE_P(Decks, LinkedContent,
                         testing::Values(LinkCase{"Odp", ".odp", true},
                                         LinkCase{"Pptx", ".pptx", true},
                                         LinkCase{"OdpBySettingsAlone", ".odp", false},
                                         LinkCase{"PptxBySettingsAlone", ".pptx", false}),
                         [](const testing::TestParamInfo<LinkCase> &row) {
                             return std::string(row.param.name);
                         });

TEST_F(UnoOffice, ShutdownEndsTheOfficeInTheMiddleOfARun)
{
    std::shared_ptr<PresentationApp> app = OpenPresentation(*m_office, deck());
    ASSERT_FALSE(officeProcesses(m_office->profileRoot()).isEmpty());
    m_office->shutdown(); // what ending the program at once does
    EXPECT_EQ(officeProcesses(m_office->profileRoot()), QStringList());
    EXPECT_THROW(app->activePresentation(), Failure);
    app.reset();
}

TEST_F(UnoOffice, ASecondDeckrunUsesAProfileOfItsOwn)
{
    uno::UnoOptions options;
    options.profileRoot = m_office->profileRoot();
    uno::UnoAutomation other(deckrun::test::systemPrinters(), options);
    std::shared_ptr<PresentationApp> first = OpenPresentation(*m_office, deck());
    std::shared_ptr<PresentationApp> second = other.create();
    EXPECT_NE(other.childPid(), m_office->childPid());
    second->quit();
    EXPECT_NO_THROW(first->activePresentation()); // the first office still runs
    first->quit();
}

// Called from a thread of the caller's own (a tool, a test), where no
// window's loop runs: an office stopped in the middle of a load is still
// stopped at its deadline, and the open fails with that.
TEST_F(UnoOffice, ADeadlineHoldsOnAThreadOfTheCallersOwn)
{
    qputenv("DECKRUN_OFFICE_DEADLINE", "3");
    uno::UnoOptions options;
    options.profileRoot = m_office->profileRoot();
    options.beforeCall = [](const QString &call, long pid) {
        if (call == QLatin1String("load") && pid > 0)
            ::kill(static_cast<pid_t>(pid), SIGSTOP);
    };
    m_office = std::make_unique<uno::UnoAutomation>(deckrun::test::systemPrinters(), options);
    const QString path = deck();
    QString failure;
    qint64 took = 0;
    std::thread caller([&] {
        QElapsedTimer clock;
        clock.start();
        try {
            OpenPresentation(*m_office, path);
        } catch (const Failure &f) {
            failure = f.description();
        }
        took = clock.elapsed();
    });
    caller.join();
    EXPECT_TRUE(failure.contains(QLatin1String("did not answer within 3 seconds and was stopped.")))
        << failure.toStdString();
    EXPECT_GE(took, 2900);
    EXPECT_LT(took, 8000);
    qunsetenv("DECKRUN_OFFICE_DEADLINE");
}

// The running check knows only the office this Deckrun started, by its
// process. Once that one has died, another Deckrun's office on the first
// profile, hung or answering, is neither waited on nor found (and so never
// printed through or quit).
TEST_F(UnoOffice, TheRunningCheckFindsOnlyItsOwnOffice)
{
    qputenv("DECKRUN_OFFICE_DEADLINE", "3");
    uno::UnoOptions options;
    options.profileRoot = m_office->profileRoot();
    uno::UnoAutomation other(deckrun::test::systemPrinters(), options);
    std::shared_ptr<PresentationApp> first = OpenPresentation(*m_office, deck());
    const auto firstPid = static_cast<pid_t>(m_office->childPid());
    std::shared_ptr<PresentationApp> second = other.create();
    ::kill(static_cast<pid_t>(other.childPid()), SIGKILL);
    QElapsedTimer clock;
    clock.start();
    while (other.childPid() != -1 && clock.elapsed() < 5000)
        QThread::msleep(10);

    for (const bool hung : {true, false}) {
        ::kill(firstPid, hung ? SIGSTOP : SIGCONT);
        clock.restart();
        EXPECT_FALSE(PowerPointIsRunning(other)) << "hung " << hung;
        EXPECT_THROW(other.getRunning(), Failure);
        EXPECT_LT(clock.elapsed(), 1500) << "waited on another Deckrun's office, hung " << hung;
    }
    EXPECT_NO_THROW(first->activePresentation()); // the other office is untouched
    first->quit();
    second.reset();
    qunsetenv("DECKRUN_OFFICE_DEADLINE");
}

#endif // DECKRUN_HAS_UNO
