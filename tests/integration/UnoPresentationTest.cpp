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

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstring>
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
/** A deck whose picture, fill and background link to REMOTE (a web address) and FAR (a file). */
QByteArray linkedDeck(const char *suffix, const QString &remote, const QString &far)
{
    const auto with = [&](QByteArray xml) {
        return xml.replace("REMOTE", remote.toUtf8()).replace("FAR", far.toUtf8());
    };
    if (std::strcmp(suffix, ".odp") == 0)
        return makeZip({{"mimetype", "application/vnd.oasis.opendocument.presentation"},
                        {"content.xml", with(R"(<office:document-content
 xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 xmlns:xlink="http://www.w3.org/1999/xlink" office:version="1.2"><office:styles>
<draw:fill-image draw:name="r" xlink:href="REMOTE/fill"/><draw:fill-image draw:name="f" xlink:href="FAR"/>
</office:styles><office:automatic-styles>
<style:style style:name="r" style:family="drawing-page"><style:drawing-page-properties draw:fill="bitmap" draw:fill-image-name="r"/></style:style>
<style:style style:name="f" style:family="graphic"><style:graphic-properties draw:fill="bitmap" draw:fill-image-name="f"/></style:style>
</office:automatic-styles><office:body><office:presentation><draw:page draw:name="p" draw:style-name="r">
<draw:frame svg:x="1cm" svg:y="1cm" svg:width="5cm" svg:height="5cm"><draw:image xlink:href="REMOTE/pic"/></draw:frame>
<draw:rect draw:style-name="f" svg:x="13cm" svg:y="1cm" svg:width="5cm" svg:height="5cm"/>
</draw:page></office:presentation></office:body></office:document-content>)")},
                        {"META-INF/manifest.xml", R"(<manifest:manifest
 xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">
<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.presentation"/>
<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/></manifest:manifest>)"}});
    const QByteArray ns = R"(xmlns="http://schemas.openxmlformats.org/package/2006/)";
    const QByteArray r = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    const auto rel = [&](const char *id, const char *type, const char *target, bool external) {
        return "<Relationship Id=\"" + QByteArray(id) + "\" Type=\"" + r + '/' + type +
               "\" Target=\"" + target + "\"" + (external ? " TargetMode=\"External\"" : "") + "/>";
    };
    const auto rels = [&](const QByteArray &inner) {
        return with("<Relationships " + ns + "relationships\">" + inner + "</Relationships>");
    };
    return makeZip(
        {{"[Content_Types].xml", "<Types " + ns + R"(content-types"><Default Extension="rels"
 ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Override PartName="/ppt/presentation.xml"
 ContentType="application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml"/></Types>)"},
         {"_rels/.rels", rels(rel("rId1", "officeDocument", "ppt/presentation.xml", false))},
         {"ppt/presentation.xml",
          R"(<p:presentation xmlns:r=")" + r +
              R"(" xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main">
<p:sldIdLst><p:sldId id="256" r:id="rId1"/></p:sldIdLst><p:sldSz cx="9144000" cy="6858000"/></p:presentation>)"},
         {"ppt/_rels/presentation.xml.rels",
          rels(rel("rId1", "slide", "slides/slide1.xml", false))},
         {"ppt/slides/slide1.xml",
          R"(<p:sld xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" xmlns:r=")" +
              r +
              R"(" xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main"><p:cSld>
<p:bg><p:bgPr><a:blipFill><a:blip r:link="rId4"/></a:blipFill></p:bgPr></p:bg><p:spTree>
<p:pic><p:nvPicPr><p:cNvPr id="2" name=""/><p:cNvPicPr/><p:nvPr/></p:nvPicPr><p:blipFill><a:blip r:link="rId2"/>
</p:blipFill><p:spPr><a:xfrm><a:ext cx="1828800" cy="1828800"/></a:xfrm></p:spPr></p:pic>
<p:sp><p:nvSpPr><p:cNvPr id="3" name=""/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr><a:xfrm><a:off x="4572000" y="0"/>
<a:ext cx="1828800" cy="1828800"/></a:xfrm><a:prstGeom prst="rect"/><a:blipFill><a:blip r:link="rId3"/></a:blipFill>
</p:spPr></p:sp></p:spTree></p:cSld></p:sld>)"},
         {"ppt/slides/_rels/slide1.xml.rels",
          rels(rel("rId2", "image", "REMOTE/pic", true) + rel("rId3", "image", "FAR", true) +
               rel("rId4", "image", "REMOTE/background", true))}});
}

class LinkedContent : public UnoOffice,
                      public testing::WithParamInterface<std::tuple<const char *, bool>> {};
} // namespace

// A deck's linked pictures, fills and background are neither fetched from
// the network nor read from files elsewhere: by the office's own settings
// alone no request is made (kills dropping them); in its confinement not even
// a fill's link to a file is read (kills dropping the confinement, or the
// deck's private copy: the office could not read the deck itself).
TEST_P(LinkedContent, IsNeitherFetchedNorRead)
{
    const auto [suffix, confined] = GetParam();
    // A web server on the loopback address that answers "not found" and counts requests.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr *>(&address), length);
    ::listen(listener, 16);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    std::atomic<int> requests{0};
    std::jthread server([&](const std::stop_token &done) {
        for (pollfd p{listener, POLLIN, 0}; !done.stop_requested(); p.revents = 0) {
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int client = ::accept(listener, nullptr, nullptr);
            char request[4096];
            requests += ::read(client, request, sizeof request) > 0;
            [[maybe_unused]] const auto sent =
                ::write(client, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", 45);
            ::close(client);
        }
    });
    const QString far = m_dir.filePath(QStringLiteral("far.png"));
    ASSERT_TRUE(QFile(far).open(QIODevice::WriteOnly));
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(watch, QFile::encodeName(far), IN_OPEN);
    const QString path = m_dir.filePath(m_token + QLatin1String(suffix));
    QFile deck(path);
    ASSERT_TRUE(deck.open(QIODevice::WriteOnly));
    deck.write(linkedDeck(suffix,
                          QStringLiteral("http://127.0.0.1:%1").arg(ntohs(address.sin_port)),
                          QUrl::fromLocalFile(far).toString()));
    deck.close();
    uno::UnoOptions options;
    options.profileRoot = m_office->profileRoot();
    options.confined = confined;
    m_office = std::make_unique<uno::UnoAutomation>(deckrun::test::systemPrinters(), options);

    std::shared_ptr<PresentationApp> app = OpenPresentation(*m_office, path);
    app->setActivePrinter(m_printer);
    app->activePresentation()->printOut();
    app->quit();
    EXPECT_FALSE(waitForPdf(m_token, 30000).isEmpty()) << "the deck did not print";

    server.request_stop();
    server.join();
    ::close(listener);
    EXPECT_EQ(requests, 0);
    char event[4096];
    const bool farRead = ::read(watch, event, sizeof event) > 0;
    ::close(watch);
    if (confined) {
        EXPECT_FALSE(farRead) << "a picture elsewhere was read";
    }
}

INSTANTIATE_TEST_SUITE_P(Decks, LinkedContent,
                         testing::Combine(testing::Values(".odp", ".pptx"), testing::Bool()),
                         [](const auto &row) {
                             return std::string(std::get<0>(row.param) + 1) +
                                    (std::get<1>(row.param) ? "Confined" : "BySettingsAlone");
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
