// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/UnoPrint.h"

#include "platform/Logging.h"
#include "platform/sheets/Sheets.h"
#include "platform/uno/DeckPrintSettings.h"
#include "platform/uno/OfficeInstance.h"
#include "platform/uno/SlideChoice.h"
#include "platform/uno/UnoOutline.h"

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

/** Whether each slide of `document` shows (false: hidden), in order. */
std::vector<bool> slidesShown(const Reference<css::lang::XComponent> &document)
{
    std::vector<bool> shown;
    const Reference<css::drawing::XDrawPagesSupplier> pages(document, UNO_QUERY);
    if (!pages.is())
        return shown;
    const Reference<css::container::XIndexAccess> slides(pages->getDrawPages(), UNO_QUERY_THROW);
    const sal_Int32 count = slides->getCount();
    for (sal_Int32 k = 0; k < count; ++k) {
        const Reference<css::beans::XPropertySet> slide(slides->getByIndex(k), UNO_QUERY);
        bool visible = true;
        if (slide.is())
            slide->getPropertyValue("Visible") >>= visible;
        shown.push_back(visible);
    }
    return shown;
}

/** The office renders `document`'s pages as `settings` say into the PDF `pdf`. */
void exportPdf(OfficeInstance &o, const Reference<css::lang::XComponent> &document,
               const QString &file, const QString &pdf, const PrintSettings &settings)
{
    o.call(OfficeCall::Print, "print", QStringLiteral("printing \"%1\"").arg(file),
           [document, url = ou(QUrl::fromLocalFile(pdf).toString()),
            filterData = pdfExportFilterData(settings)]() {
               const Reference<css::frame::XStorable> storable(document, UNO_QUERY_THROW);
               storable->storeToURL(
                   url,
                   sequence({property("FilterName", css::uno::Any(OUString("impress_pdf_Export"))),
                             property("FilterData", css::uno::Any(filterData))}));
               return true;
           });
}

/** The sheets `settings` ask for, on `paper`. */
sheets::SheetRequest sheetRequest(const PrintSettings &settings, const Paper &paper)
{
    return sheets::SheetRequest{.layout = settings.layout.value_or(PrintLayout::Slides),
                                .order = settings.handoutOrder.value_or(HandoutOrder::Horizontal),
                                .frame = settings.frameSlides.value_or(false),
                                .fit = settings.fitToPaper.value_or(false),
                                .blackAndWhite = settings.color == PrintColor::BlackAndWhite,
                                .paper = paper};
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
        options << qMakePair(QStringLiteral("sides"),
                             QString::fromStdString(setting::Sides.ipp(*s.sides)));
    // Black and white sheets are made so already; their pictures are gray.
    // Colour is not asked for: the printer's and the user's default holds.
    if (s.color && *s.color != PrintColor::Colour)
        options << qMakePair(QStringLiteral("print-color-mode"),
                             QString::fromStdString(setting::Colors.ipp(*s.color)));
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
    PrintedJob printed;
    const bool hiddenToo = settings.hiddenSlides.value_or(false);
    const SlideChoice slides =
        chooseSlides(settings.slides,
                     o.call(OfficeCall::Print, "print", QStringLiteral("printing \"%1\"").arg(file),
                            [document] { return slidesShown(document); }),
                     hiddenToo, file);
    if (!slides.refusal.isEmpty())
        throw Failure(slides.refusal);
    if (!slides.range.empty())
        settings.slides = slides.range;
    printed.notice = slides.notice;

    // A folder of the job's own: the office writes the pages, Deckrun the
    // sheets, the print service reads them.
    const std::unique_ptr<QTemporaryDir> folder = o.jobFolder();
    if (!folder->isValid())
        throw Failure(QStringLiteral("no room for the print job: %1").arg(folder->errorString()));
    const QString pages = folder->filePath(QStringLiteral("pages.pdf"));
    const QString sheets = folder->filePath(QStringLiteral("job.pdf"));
    QElapsedTimer clock;
    clock.start();
    const Paper paper = o.spooler->paper(o.printer);
    if (settings.layout == PrintLayout::Outline)
        exportOutline(o, document, file, pages, settings, paper, folder->path());
    else
        exportPdf(o, document, file, pages, settings);
    const qint64 exported = clock.nsecsElapsed();
    sheets::makeSheets(pages, sheets, sheetRequest(settings, paper));
    const qint64 made = clock.nsecsElapsed();
    try {
        printed.jobId = o.spooler->submit(o.printer, sheets, jobName, jobOptions(settings));
        qCDebug(lcOffice).noquote()
            << QStringLiteral("print seconds: export %1 sheets %2 submit %3 %4")
                   .arg(secondsText(double(exported) / 1e9),
                        secondsText(double(made - exported) / 1e9),
                        secondsText(double(clock.nsecsElapsed() - made) / 1e9), file);
        printed.settings = settings;
        return printed;
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
