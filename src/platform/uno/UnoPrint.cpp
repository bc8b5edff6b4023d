// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/UnoPrint.h"

#include "platform/Logging.h"
#include "platform/uno/DeckPrintSettings.h"
#include "platform/uno/OfficeInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/frame/XStorable.hpp>

namespace deckrun::uno {

namespace {

/** The number-up a handout layout prints with: 3 a page has no number-up of its own, 4 is next. */
int numberUp(PrintLayout layout)
{
    const int perSheet = slidesPerSheet(layout);
    return perSheet == 3 ? 4 : perSheet;
}

QString sidesOption(PrintSides sides)
{
    switch (sides) {
    case PrintSides::LongEdge:
        return QStringLiteral("two-sided-long-edge");
    case PrintSides::ShortEdge:
        return QStringLiteral("two-sided-short-edge");
    case PrintSides::OneSided:
        break;
    }
    return QStringLiteral("one-sided");
}

/** Whether any slide of `document` shows (a deck of hidden slides alone prints nothing). */
bool anySlideShows(const Reference<css::lang::XComponent> &document)
{
    const Reference<css::drawing::XDrawPagesSupplier> pages(document, UNO_QUERY);
    if (!pages.is())
        return true;
    const Reference<css::container::XIndexAccess> slides(pages->getDrawPages(), UNO_QUERY_THROW);
    const sal_Int32 count = slides->getCount();
    for (sal_Int32 k = 0; k < count; ++k) {
        const Reference<css::beans::XPropertySet> slide(slides->getByIndex(k), UNO_QUERY);
        bool shown = true;
        if (slide.is())
            slide->getPropertyValue("Visible") >>= shown;
        if (shown)
            return true;
    }
    return count == 0;
}

/** The office renders `document` into the PDF `pdf`; false when every slide is hidden. */
bool exportPdf(OfficeInstance &o, const Reference<css::lang::XComponent> &document,
               const QString &file, const QString &pdf, const PrintSettings &settings)
{
    const bool hiddenToo = settings.hiddenSlides.value_or(false);
    return o.call(OfficeCall::Print, "print", QStringLiteral("printing \"%1\"").arg(file),
                  [document, hiddenToo, url = ou(QUrl::fromLocalFile(pdf).toString()),
                   filterData = pdfExportFilterData(settings)]() {
                      if (!hiddenToo && !anySlideShows(document))
                          return false;
                      const Reference<css::frame::XStorable> storable(document, UNO_QUERY_THROW);
                      storable->storeToURL(
                          url, sequence({property("FilterName",
                                                  css::uno::Any(OUString("impress_pdf_Export"))),
                                         property("FilterData", css::uno::Any(filterData))}));
                      return true;
                  });
}

} // namespace

JobOptions jobOptions(const PrintSettings &s)
{
    JobOptions options;
    if (s.copies)
        options << qMakePair(QStringLiteral("copies"), QString::number(*s.copies));
    if (s.collate)
        options << qMakePair(QStringLiteral("collate"),
                             *s.collate ? QStringLiteral("true") : QStringLiteral("false"));
    if (s.sides)
        options << qMakePair(QStringLiteral("sides"), sidesOption(*s.sides));
    // Black and white goes as grayscale too: the printer makes its own black of it.
    if (s.color && *s.color != PrintColor::Colour)
        options << qMakePair(QStringLiteral("print-color-mode"), QStringLiteral("monochrome"));
    const int up = s.layout ? numberUp(*s.layout) : 1;
    if (up > 1) {
        options << qMakePair(QStringLiteral("number-up"), QString::number(up))
                << qMakePair(QStringLiteral("number-up-layout"), QStringLiteral("lrtb"));
    }
    if (s.frameSlides.value_or(false))
        options << qMakePair(QStringLiteral("page-border"), QStringLiteral("single"));
    if (s.fitToPaper.value_or(false))
        options << qMakePair(QStringLiteral("fit-to-page"), QStringLiteral("true"));
    return options;
}

css::uno::Sequence<css::beans::PropertyValue> pdfExportFilterData(const PrintSettings &s)
{
    std::vector<css::beans::PropertyValue> data;
    const bool notes = s.layout == PrintLayout::Notes;
    data.push_back(property("ExportNotesPages", css::uno::Any(notes)));
    data.push_back(property("ExportOnlyNotesPages", css::uno::Any(notes)));
    data.push_back(property("ExportHiddenSlides", css::uno::Any(s.hiddenSlides.value_or(false))));
    if (s.slides)
        data.push_back(property("PageRange", css::uno::Any(ou(QString::fromStdString(*s.slides)))));
    return css::uno::Sequence<css::beans::PropertyValue>(data.data(),
                                                         static_cast<sal_Int32>(data.size()));
}

PrintedJob printDocument(OfficeInstance &o, const Reference<css::lang::XComponent> &document,
                         const QString &file, const PrintSettings &asked, const QString &jobName)
{
    if (o.printRefusal)
        throw Failure(QStringLiteral("\"%1\" was not printed: %2").arg(file, *o.printRefusal));
    if (!o.spooler)
        throw Failure(QStringLiteral("there is no print service to take the job."));
    // The deck's own saved settings, with what the run asks for over them.
    PrintSettings settings = deckPrintSettings(o.documentPath).overriddenBy(asked);
    if (settings.layout == PrintLayout::Outline) {
        // Only a deck can ask for it (a run is refused the outline before it
        // begins): its slides print, and the run log says so.
        qCDebug(lcOffice) << "the office cannot print the outline alone; the slides of" << file
                          << "print instead";
        settings.layout = PrintLayout::Slides;
    }
    // A folder of the job's own: the office writes the PDF, the print service reads it.
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/deckrun-print-XXXXXX"));
    if (!folder.isValid())
        throw Failure(QStringLiteral("no room for the print job: %1").arg(folder.errorString()));
    const QString pdf = folder.filePath(QStringLiteral("job.pdf"));
    QElapsedTimer clock;
    clock.start();
    if (!exportPdf(o, document, file, pdf, settings))
        throw Failure(QStringLiteral("%1 could not print \"%2\": every slide in it is hidden.")
                          .arg(Product, file));
    const qint64 exported = clock.nsecsElapsed();
    try {
        const int job = o.spooler->submit(o.printer, pdf, jobName, jobOptions(settings));
        qCDebug(lcOffice).noquote()
            << QStringLiteral("print seconds: export %1 submit %2 %3")
                   .arg(secondsText(double(exported) / 1e9),
                        secondsText(double(clock.nsecsElapsed() - exported) / 1e9), file);
        return PrintedJob{job, settings};
    } catch (const Failure &refused) {
        if (!o.spooler->acceptsJobs(o.printer))
            throw Failure(QStringLiteral("%1 could not print \"%2\": the printer \"%3\" refused "
                                         "the job.")
                              .arg(Product, file, o.printer));
        throw Failure(QStringLiteral("%1 could not print \"%2\" on the printer \"%3\": %4")
                          .arg(Product, file, o.printer, refused.description()));
    }
}

} // namespace deckrun::uno
