// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sheets/Sheets.h"

#include "platform/Failure.h"
#include "platform/sheets/BlackAndWhite.h"
#include "platform/sheets/SheetLayout.h"

// JSON first: the object handles name it, and some compilers want it whole.
#include <qpdf/JSON.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>

#include <exception>
#include <string>
#include <vector>

namespace deckrun::sheets {

namespace {

// Frames and ruled lines: thin, black.
constexpr double FrameWidth = 0.5;
constexpr double RuleWidth = 0.4;
constexpr double RuleGray = 0.45;

std::string number(double value)
{
    return QUtil::double_to_string(value, 2);
}

std::string frameAround(const Box &b)
{
    return "q 0 G " + number(FrameWidth) + " w " + number(b.x) + ' ' + number(b.y) + ' ' +
           number(b.width) + ' ' + number(b.height) + " re S Q\n";
}

std::string ruled(const std::vector<Rule> &rules)
{
    std::string content = "q " + number(RuleGray) + " G " + number(RuleWidth) + " w\n";
    for (const Rule &r : rules)
        content +=
            number(r.x1) + ' ' + number(r.y) + " m " + number(r.x2) + ' ' + number(r.y) + " l S\n";
    return content + "Q\n";
}

/** A page's width and height as it shows (its /Rotate taken into account). */
std::pair<double, double> shownSize(QPDFPageObjectHelper &page)
{
    const QPDFObjectHandle::Rectangle box = page.getTrimBox().getArrayAsRectangle();
    const double width = box.urx - box.llx, height = box.ury - box.lly;
    QPDFObjectHandle rotate = page.getAttribute("/Rotate", false);
    const bool quarter = rotate.isInteger() && (rotate.getIntValue() / 90) % 2 != 0;
    return quarter ? std::pair{height, width} : std::pair{width, height};
}

/** One new sheet of `out` showing `pages` (of `in`) as `request` says. */
void addSheet(QPDF &out, std::vector<QPDFPageObjectHelper> pages, const SheetRequest &request)
{
    const auto [width, height] = shownSize(pages.front());
    const SheetPlan plan =
        planSheet(request.layout, request.order, request.fit, request.paper, width, height);
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    QPDFObjectHandle sheet = out.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Page /MediaBox [0 0 " + number(plan.width) + ' ' + number(plan.height) +
        "] /Resources << /ProcSet [/PDF /Text /ImageB /ImageC /ImageI] >> >>"));
    sheet.getKey("/Resources").replaceKey("/XObject", xobjects);
    QPDFPageObjectHelper placing(sheet);
    std::string content;
    for (std::size_t k = 0; k < pages.size() && k < plan.slides.size(); ++k) {
        const Box &b = plan.slides[k];
        const std::string name = "/Slide" + std::to_string(k + 1);
        QPDFObjectHandle form = out.copyForeignObject(pages[k].getFormXObjectForPage());
        xobjects.replaceKey(name, form);
        content += placing.placeFormXObject(
            form, name, QPDFObjectHandle::Rectangle(b.x, b.y, b.right(), b.top()), true, true,
            true);
        if (request.frame && request.layout != PrintLayout::Notes &&
            request.layout != PrintLayout::Outline)
            content += frameAround(b);
    }
    if (!plan.rules.empty())
        content += ruled(plan.rules);
    sheet.replaceKey("/Contents", QPDFObjectHandle::newStream(&out, content));
    QPDFPageDocumentHelper(out).addPage(placing, false);
}

} // namespace

void makeSheets(const QString &pages, const QString &sheets, const SheetRequest &request)
{
    try {
        QPDF in;
        in.processFile(pages.toLocal8Bit().constData());
        std::vector<QPDFPageObjectHelper> all = QPDFPageDocumentHelper(in).getAllPages();
        if (request.blackAndWhite)
            for (QPDFPageObjectHelper &page : all)
                turnBlackAndWhite(in, page);
        QPDF out;
        out.emptyPDF();
        const std::size_t perSheet = static_cast<std::size_t>(slidesPerSheet(request.layout));
        for (std::size_t first = 0; first < all.size(); first += perSheet)
            addSheet(out,
                     std::vector<QPDFPageObjectHelper>(
                         all.begin() + static_cast<std::ptrdiff_t>(first),
                         all.begin() +
                             static_cast<std::ptrdiff_t>(std::min(all.size(), first + perSheet))),
                     request);
        QPDFWriter writer(out, sheets.toLocal8Bit().constData());
        writer.setStaticID(false);
        writer.write();
    } catch (const std::exception &e) {
        throw Failure(QStringLiteral("the sheets could not be made: %1")
                          .arg(QString::fromLocal8Bit(e.what())));
    }
}

} // namespace deckrun::sheets
