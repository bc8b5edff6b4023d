// SPDX-License-Identifier: GPL-3.0-or-later
// `deckrun --print` against CUPS printers the test makes: one that prints on
// one side only, a PostScript one whose duplexer is installed, and one whose
// filter fails as a jammed printer would.

#include "support/SampleDeck.h"
#include "support/SystemPrinters.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace deckrun::test;

namespace {

bool run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

const QString PdfPpd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");
const QString Queues[] = {QStringLiteral("Deckrun_OneSided_%1"),
                          QStringLiteral("Deckrun_Duplex_%1"), QStringLiteral("Deckrun_Jam_%1")};
enum Queue { OneSided, Duplex, Jam };

struct Row {
    const char *name;
    Queue queue;
    const char *options;
    const char *lpoptions; // the user's own defaults for the queue
    int status;
    const char *found; // on standard error or in the run log, each between "|"
    friend void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }
};

class Printing : public testing::TestWithParam<Row> {
protected:
    static QString queue(Queue q) { return Queues[q].arg(QCoreApplication::applicationPid()); }
    static void SetUpTestSuite()
    {
        if (printerUnderTest().isEmpty())
            return;
        s_dir = new QTemporaryDir;
        const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                        QFile::ReadOther | QFile::ExeOther;
        QFile::setPermissions(s_dir->path(), open); // CUPS runs the filter as a user of its own
        QFile jam(s_dir->filePath(QStringLiteral("jam"))), pdf(PdfPpd),
            ppd(s_dir->filePath(QStringLiteral("jam.ppd")));
        if (jam.open(QIODevice::WriteOnly))
            jam.write("#!/bin/sh\necho 'STATE: +media-jam-error' >&2\necho 'ERROR: Paper jam' "
                      ">&2\nexit 1\n");
        jam.setPermissions(open);
        if (pdf.open(QIODevice::ReadOnly) && ppd.open(QIODevice::WriteOnly))
            ppd.write(pdf.readAll() +
                      "*cupsFilter2: \"application/pdf application/vnd.cups-pdf 0 " +
                      jam.fileName().toUtf8() + "\"\n");
        ppd.close();
        const QString device = QStringLiteral("cups-pdf:/") + printerUnderTest().remove('_');
        const QStringList made[] = {{"-P", PdfPpd},
                                    {"-m", "drv:///sample.drv/generic.ppd", "-o", "Option1=True"},
                                    {"-P", ppd.fileName()}};
        s_made = true;
        for (const Queue q : {OneSided, Duplex, Jam})
            s_made =
                s_made && run("lpadmin", QStringList{"-p", queue(q), "-E", "-v", device} + made[q]);
        writeFlatDeck(s_dir->filePath(token() + ".fodp"), 2);
    }
    static void TearDownTestSuite()
    {
        for (const Queue q : {OneSided, Duplex, Jam}) {
            run("cancel", {"-a", queue(q)});
            run("lpadmin", {"-x", queue(q)});
        }
        removeTestPdfs(token());
        delete s_dir;
    }
    void SetUp() override
    {
        if (!s_made)
            GTEST_SKIP() << "no test printer, or its queues could not be made (lpadmin needs root)";
    }
    static QString token()
    {
        return QStringLiteral("answers%1").arg(QCoreApplication::applicationPid());
    }

    static inline QTemporaryDir *s_dir = nullptr;
    static inline bool s_made = false;
};

const Row Rows[] = {
    {"TwoSidedRefused", OneSided, "--sides long-edge", "", 2,
     "cannot print --sides long-edge: it supports one-sided; nothing was printed."},
    // Each side a row, as the job carried it: kills a side sent by another's name.
    {"OneSided", Duplex, "--sides one --wait", "", 0, R"("sides":"one"|"outcome":"completed")"},
    {"LongEdge", Duplex, "--sides long-edge --wait", "", 0,
     R"("sides":"long-edge"|"outcome":"completed")"},
    {"ShortEdge", Duplex, "--sides short-edge --wait", "", 0,
     R"("sides":"short-edge"|"outcome":"completed")"},
    // The user's defaults under what the run asks: its copies win.
    {"UsersOwnDefaults", Duplex, "--copies 3", "print-color-mode=monochrome copies=2", 0,
     R"("color":"gray"|"copies":3)"},
    {"JammedPrinter", Jam, "--wait", "", 1,
     R"(stopped at the printer: |"outcome":"stopped"|(media-jam-error))"},
};

} // namespace

TEST_P(Printing, AsThePrinterAnswers)
{
    const Row &row = GetParam();
    QTemporaryDir home; // never the user's own lpoptions, settings or run log
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
        env.insert(QLatin1String(name), home.path());
    QDir(home.path()).mkpath(QStringLiteral(".cups"));
    QFile lpoptions(home.filePath(QStringLiteral(".cups/lpoptions")));
    ASSERT_TRUE(lpoptions.open(QIODevice::WriteOnly));
    lpoptions.write("Dest " + queue(row.queue).toUtf8() + ' ' + row.lpoptions + '\n');
    lpoptions.close();
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(DECKRUN_PROGRAM_DIR "/deckrun"),
                  QStringList{"--print", "--fast", "--printer", queue(row.queue)} +
                      QString::fromLatin1(row.options).split(' ') +
                      QStringList{s_dir->filePath(token() + ".fodp")});
    ASSERT_TRUE(program.waitForFinished(120000));
    QFile log(home.filePath(QStringLiteral("Orvanta/Deckrun/run-log.jsonl")));
    const QString said = QString::fromUtf8(program.readAllStandardError() +
                                           (log.open(QIODevice::ReadOnly) ? log.readAll() : ""));
    EXPECT_EQ(program.exitCode(), row.status) << said.toStdString();
    for (const QString &text : QString::fromUtf8(row.found).split('|'))
        EXPECT_TRUE(said.contains(text)) << text.toStdString() << " not in " << said.toStdString();
}
INSTANTIATE_TEST_SUITE_P(RealPrinters, Printing, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<Row> &row) {
                             return std::string(row.param.name);
                         });
