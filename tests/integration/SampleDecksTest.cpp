// SPDX-License-Identifier: GPL-3.0-or-later
// The bundled sample decks are real presentations: LibreOffice opens each one
// and renders one page per slide.

#include "support/SampleDeck.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using deckrun::test::pdfPages;

TEST(SampleDecks, EachOpensAsAPresentationWithItsSlides)
{
    const QDir samples(QStringLiteral(DECKRUN_PROGRAM_DIR "/Samples"));
    const struct {
        const char *file;
        int slides;
    } decks[] = {{"Quarterly Review.pptx", 3},
                 {"Team Onboarding.ppt", 2},
                 {"Product Roadmap.odp", 4},
                 {"Safety Briefing.pptx", 2}};

    QTemporaryDir work;
    QStringList args = {
        QStringLiteral("-env:UserInstallation=") +
            QUrl::fromLocalFile(work.filePath(QStringLiteral("profile"))).toString(),
        QStringLiteral("--headless"),
        QStringLiteral("--norestore"),
        QStringLiteral("--convert-to"),
        QStringLiteral("pdf"),
        QStringLiteral("--outdir"),
        work.path()};
    for (const auto &d : decks) {
        ASSERT_TRUE(samples.exists(QLatin1String(d.file))) << d.file;
        args << samples.filePath(QLatin1String(d.file));
    }
    QProcess office;
    office.setProcessChannelMode(QProcess::MergedChannels);
    office.start(QStringLiteral("soffice"), args);
    ASSERT_TRUE(office.waitForFinished(180000)) << "LibreOffice did not finish converting";

    for (const auto &d : decks) {
        const QString stem = QString::fromLatin1(d.file).section(QLatin1Char('.'), 0, 0);
        EXPECT_EQ(pdfPages(work.filePath(stem + QStringLiteral(".pdf"))), d.slides) << d.file;
    }
}
