// SPDX-License-Identifier: GPL-3.0-or-later
// `deckrun --print` against real CUPS printers the test makes: one that
// prints on one side only, a PostScript one whose duplexer is installed, and
// one whose filter fails as a jammed printer would. What the printer says
// it can do is checked before anything prints, the user's own lpoptions
// reach the job, and a job the printer stops is not taken for printed.

#include "support/RunLogLines.h"
#include "support/SampleDeck.h"
#include "support/SystemPrinters.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cups/cups.h>

#include <gtest/gtest.h>

using namespace deckrun::test;

namespace {

/** Runs a command to its end; true when it ended with status 0. */
bool command(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, arguments);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
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

enum class Queue { OneSided, Duplex, Jam };

struct Row {
    const char *name;
    Queue queue;
    QStringList options;
    const char *lpoptions; // the user's own defaults for the queue, or none
    int status;
    const char *said;                                           // on standard error, or none
    std::vector<std::pair<const char *, const char *>> carried; // the job's attributes
    const char *ended;                                          // the job's second line, or none
    friend void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }
};

class Printing : public testing::TestWithParam<Row> {
protected:
    static void SetUpTestSuite()
    {
        if (printerUnderTest().isEmpty())
            return;
        s_dir = new QTemporaryDir;
        QFile::setPermissions(s_dir->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ExeOwner | QFile::ReadOther |
                                                 QFile::ExeOther | QFile::ExeGroup);
        // The jam: a filter of the test's own, run by CUPS as its own user.
        const QString jam = s_dir->filePath(QStringLiteral("jam"));
        QFile filter(jam);
        filter.open(QIODevice::WriteOnly);
        filter.write("#!/bin/sh\necho 'STATE: +media-jam-error' >&2\n"
                     "echo 'ERROR: Paper jam in tray 1' >&2\nexit 1\n");
        filter.close();
        filter.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                              QFile::ReadOther | QFile::ExeOther);
        QFile pdfPpd(pdfPrinterPpd());
        QFile jamPpd(s_dir->filePath(QStringLiteral("jam.ppd")));
        if (pdfPpd.open(QIODevice::ReadOnly) && jamPpd.open(QIODevice::WriteOnly))
            jamPpd.write(pdfPpd.readAll().replace("*% cupsFilter:", "*% filter:") +
                         "*cupsFilter2: \"application/pdf application/vnd.cups-pdf 0 " +
                         jam.toUtf8() + "\"\n");
        jamPpd.close();
        const QString device = QStringLiteral("cups-pdf:/") + printerUnderTest().remove('_');
        s_made = command("lpadmin", {"-p", queue(Queue::OneSided), "-E", "-v", device, "-P",
                                     pdfPrinterPpd()}) &&
                 command("lpadmin", {"-p", queue(Queue::Duplex), "-E", "-v", device, "-m",
                                     "drv:///sample.drv/generic.ppd", "-o", "Option1=True"}) &&
                 command("lpadmin",
                         {"-p", queue(Queue::Jam), "-E", "-v", device, "-P", jamPpd.fileName()});
        writeFlatDeck(s_dir->filePath(deckName()), 2);
    }
    static void TearDownTestSuite()
    {
        for (const Queue q : {Queue::OneSided, Queue::Duplex, Queue::Jam}) {
            command("cancel", {"-a", queue(q)});
            command("lpadmin", {"-x", queue(q)});
        }
        removeTestPdfs(token());
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override
    {
        if (printerUnderTest().isEmpty())
            GTEST_SKIP() << NoPrinterUnderTest;
        if (!s_made)
            GTEST_SKIP() << "the test's printers could not be made (lpadmin needs root)";
    }

    static QString token()
    {
        return QStringLiteral("answers%1").arg(QCoreApplication::applicationPid());
    }
    static QString deckName() { return token() + QStringLiteral(".fodp"); }
    static QString queue(Queue q)
    {
        const char *kinds[] = {"OneSided", "Duplex", "Jam"};
        return QStringLiteral("Deckrun_%1_%2")
            .arg(QLatin1String(kinds[int(q)]))
            .arg(QCoreApplication::applicationPid());
    }
    static QString pdfPrinterPpd()
    {
        return QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");
    }

    static inline QTemporaryDir *s_dir = nullptr;
    static inline bool s_made = false;
};

const Row Rows[] = {
    {"TwoSidedToAOneSidedPrinterIsRefused",
     Queue::OneSided,
     {"--sides", "long-edge"},
     nullptr,
     2,
     "the printer \"%1\" cannot print --sides long-edge: it supports one-sided",
     {},
     nullptr},
    // Each side a row: kills a side sent by another's name.
    {"OneSided",
     Queue::Duplex,
     {"--sides", "one", "--wait"},
     nullptr,
     0,
     nullptr,
     {{"sides", "one-sided"}},
     "completed"},
    {"LongEdge",
     Queue::Duplex,
     {"--sides", "long-edge", "--wait"},
     nullptr,
     0,
     nullptr,
     {{"sides", "two-sided-long-edge"}},
     "completed"},
    {"ShortEdge",
     Queue::Duplex,
     {"--sides", "short-edge", "--wait"},
     nullptr,
     0,
     nullptr,
     {{"sides", "two-sided-short-edge"}},
     "completed"},
    // The user's defaults under what the run asks (its copies win).
    {"TheUsersOwnDefaults",
     Queue::Duplex,
     {"--copies", "3"},
     "print-color-mode=monochrome number-up=4 copies=2",
     0,
     nullptr,
     {{"print-color-mode", "monochrome"}, {"number-up", "4"}, {"copies", "3"}},
     nullptr},
    {"AJammedPrinter",
     Queue::Jam,
     {"--wait"},
     nullptr,
     1,
     "on \"%1\") stopped at the printer: ",
     {},
     "stopped"},
};

} // namespace

TEST_P(Printing, AsThePrinterAnswers)
{
    const Row &row = GetParam();
    const QString printer = queue(row.queue);
    QTemporaryDir home;
    if (row.lpoptions) {
        QDir(home.path()).mkpath(QStringLiteral(".cups"));
        QFile lpoptions(home.filePath(QStringLiteral(".cups/lpoptions")));
        ASSERT_TRUE(lpoptions.open(QIODevice::WriteOnly));
        lpoptions.write("Dest " + printer.toUtf8() + ' ' + row.lpoptions + '\n');
    }
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    for (const char *xdg : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"})
        env.insert(QLatin1String(xdg), home.filePath(QLatin1String(xdg)));
    env.remove(QStringLiteral("DISPLAY"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(DECKRUN_PROGRAM_DIR "/deckrun"),
                  QStringList{"--print", "--fast", "--printer", printer} + row.options +
                      QStringList{s_dir->filePath(deckName())});
    ASSERT_TRUE(program.waitForFinished(120000));
    const QString said = QString::fromUtf8(program.readAllStandardError());
    EXPECT_EQ(program.exitCode(), row.status) << said.toStdString();
    if (row.said) {
        EXPECT_TRUE(said.contains(QString::fromUtf8(row.said).arg(printer))) << said.toStdString();
    }

    const std::vector<QJsonObject> lines =
        readRunLog(home.filePath(QStringLiteral("XDG_STATE_HOME/Orvanta/Deckrun/run-log.jsonl")));
    if (row.status == 2) {
        EXPECT_TRUE(lines.empty()) << "nothing is printed";
        return;
    }
    ASSERT_FALSE(lines.empty());
    const int job = lines[0][QLatin1String("job")].toInt();
    for (const auto &[name, value] : row.carried)
        EXPECT_EQ(jobAttribute(job, name), QString::fromLatin1(value)) << name;
    if (row.ended) {
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1][QLatin1String("job")].toInt(), job);
        EXPECT_EQ(lines[1][QLatin1String("outcome")].toString(), QLatin1String(row.ended));
    }
    if (row.queue == Queue::Jam) {
        // The printer's words, in the run log and on standard error alike.
        const QString words = lines[1][QLatin1String("message")].toString();
        EXPECT_TRUE(words.contains(QLatin1String("media-jam-error"))) << words.toStdString();
        EXPECT_TRUE(said.contains(words));
    }
    if (row.lpoptions) {
        // The run log records what the job carried.
        const QJsonObject settings = lines[0][QLatin1String("settings")].toObject();
        EXPECT_EQ(settings[QLatin1String("color")].toString(), QStringLiteral("gray"));
        EXPECT_EQ(settings[QLatin1String("copies")].toInt(), 3);
    }
}
INSTANTIATE_TEST_SUITE_P(RealPrinters, Printing, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<Row> &row) {
                             return std::string(row.param.name);
                         });
