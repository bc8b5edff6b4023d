// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small presentations made on the spot for the tests and benchmarks that drive
// the real office: a flat XML presentation, converted to .pptx by LibreOffice
// itself on a throwaway profile of the caller's choosing; and what those tests
// look at afterwards: the office processes left and the printed pages.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <stdexcept>

namespace deckrun::test {

/**
 * Writes a flat presentation with `slides` slides, of which slide `hidden`
 * (1-based; 0: none) is hidden; returns its path, empty when it could not.
 */
inline QString writeFlatDeck(const QString &path, int slides, int hidden = 0)
{
    QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
        "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
        "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
        "xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\" "
        "office:version=\"1.2\" "
        "office:mimetype=\"application/vnd.oasis.opendocument.presentation\">\n";
    if (hidden > 0)
        xml += "<office:automatic-styles><style:style style:name=\"hidden\" "
               "style:family=\"drawing-page\"><style:drawing-page-properties "
               "presentation:visibility=\"hidden\"/></style:style></office:automatic-styles>\n";
    xml += "<office:body><office:presentation>\n";
    for (int i = 1; i <= slides; ++i)
        xml += "<draw:page draw:name=\"Slide " + QByteArray::number(i) + "\"" +
               (i == hidden ? QByteArray(" draw:style-name=\"hidden\"") : QByteArray()) +
               "><draw:frame svg:x=\"2cm\" svg:y=\"2cm\" svg:width=\"20cm\" svg:height=\"3cm\">"
               "<draw:text-box><text:p>Slide " +
               QByteArray::number(i) + "</text:p></draw:text-box></draw:frame></draw:page>\n";
    xml += "</office:presentation></office:body>\n</office:document>\n";
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(xml) != xml.size())
        return QString();
    return path;
}

/**
 * Converts `source` to `format` ("pptx") in its own folder with the office on
 * the throwaway profile `profileDir`; returns the new file's path, empty on failure.
 */
/**
 * Runs LibreOffice's own command line on the throwaway profile `profileDir`
 * with `arguments`; true when it finished in time with exit code 0.
 */
inline bool runSoffice(const QString &profileDir, const QStringList &arguments)
{
    QProcess soffice;
    soffice.setStandardOutputFile(QProcess::nullDevice());
    soffice.setStandardErrorFile(QProcess::nullDevice());
    soffice.start(QStringLiteral("/usr/lib/libreoffice/program/soffice"),
                  QStringList{QStringLiteral("-env:UserInstallation=") +
                                  QUrl::fromLocalFile(profileDir).toString(QUrl::FullyEncoded),
                              QStringLiteral("--headless"), QStringLiteral("--norestore")} +
                      arguments);
    if (!soffice.waitForFinished(120000)) {
        soffice.kill();
        soffice.waitForFinished();
        return false;
    }
    return soffice.exitStatus() == QProcess::NormalExit && soffice.exitCode() == 0;
}

/**
 * Converts `source` to `format` ("pptx") in its own folder with the office on
 * the throwaway profile `profileDir`; returns the new file's path, empty on failure.
 */
inline QString convertDeck(const QString &source, const QString &format, const QString &profileDir)
{
    const QFileInfo info(source);
    if (!runSoffice(profileDir, {QStringLiteral("--convert-to"), format, QStringLiteral("--outdir"),
                                 info.absolutePath(), info.absoluteFilePath()}))
        return QString();
    const QString out = info.absolutePath() + QLatin1Char('/') + info.completeBaseName() +
                        QLatin1Char('.') + format;
    return QFileInfo::exists(out) ? out : QString();
}

/** Seconds LibreOffice's own `--pt` takes to print `deck` on `printer`; throws when it fails. */
inline double timedSofficePrint(const QString &profileDir, const QString &deck,
                                const QString &printer)
{
    QElapsedTimer clock;
    clock.start();
    if (!runSoffice(profileDir, {QStringLiteral("--pt"), printer, deck}))
        throw std::runtime_error("soffice --pt did not print " + deck.toStdString());
    return clock.nsecsElapsed() / 1e9;
}

/** Office processes whose command line names `needle` (a test's own profile folder). */
inline QStringList officeProcesses(const QString &needle)
{
    QProcess pgrep;
    pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-a"), QStringLiteral("-f"), needle});
    pgrep.waitForFinished(10000);
    QStringList found;
    for (const QString &line :
         QString::fromLocal8Bit(pgrep.readAllStandardOutput()).split(QLatin1Char('\n')))
        if (!line.trimmed().isEmpty())
            found << line;
    return found;
}

/** The page count `pdfinfo` reads from a PDF; -1 when it cannot. */
inline int pdfPages(const QString &pdf)
{
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {pdf});
    info.waitForFinished(10000);
    for (const QString &line :
         QString::fromLocal8Bit(info.readAllStandardOutput()).split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("Pages:")))
            return line.mid(6).trimmed().toInt();
    return -1;
}

} // namespace deckrun::test
