// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/UnoOutline.h"

#include "platform/uno/OfficeInstance.h"

#include <QFile>
#include <QUrl>

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace deckrun::uno {

namespace {

/** A slide as its outline shows it: its number, title and body paragraphs with their levels. */
struct SlideOutline {
    long number = 0;
    QString title;
    std::vector<std::pair<int, QString>> body;
};

bool isShape(const Reference<css::uno::XInterface> &shape, const char *service)
{
    const Reference<css::lang::XServiceInfo> info(shape, UNO_QUERY);
    return info.is() && info->supportsService(OUString::createFromAscii(service));
}

/** The paragraphs of a text shape with their outline levels (0 the first). */
std::vector<std::pair<int, QString>> paragraphsOf(const Reference<css::uno::XInterface> &shape)
{
    std::vector<std::pair<int, QString>> found;
    const Reference<css::container::XEnumerationAccess> text(shape, UNO_QUERY);
    if (!text.is())
        return found;
    const Reference<css::container::XEnumeration> paragraphs = text->createEnumeration();
    while (paragraphs->hasMoreElements()) {
        const Reference<css::text::XTextRange> paragraph(paragraphs->nextElement(), UNO_QUERY);
        if (!paragraph.is())
            continue;
        sal_Int16 level = 0;
        if (const Reference<css::beans::XPropertySet> p(paragraph, UNO_QUERY); p.is())
            p->getPropertyValue("NumberingLevel") >>= level;
        const QString said = qs(paragraph->getString()).trimmed();
        if (!said.isEmpty())
            found.emplace_back(std::max<int>(level, 0), said);
    }
    return found;
}

/** The outline of the slides of `document` that `wanted` takes (by number, from 1). */
template <typename Wanted>
std::vector<SlideOutline> readOutline(const Reference<css::lang::XComponent> &document,
                                      Wanted wanted)
{
    std::vector<SlideOutline> slides;
    const Reference<css::drawing::XDrawPagesSupplier> pages(document, UNO_QUERY_THROW);
    const Reference<css::container::XIndexAccess> all(pages->getDrawPages(), UNO_QUERY_THROW);
    for (sal_Int32 k = 0; k < all->getCount(); ++k) {
        const Reference<css::container::XIndexAccess> shapes(all->getByIndex(k), UNO_QUERY);
        bool shown = true;
        if (const Reference<css::beans::XPropertySet> p(shapes, UNO_QUERY); p.is())
            p->getPropertyValue("Visible") >>= shown;
        if (!shapes.is() || !wanted(k + 1, shown))
            continue;
        SlideOutline slide{k + 1, {}, {}};
        // The title and body placeholders, as PowerPoint's outline shows them;
        // a slide made of text boxes alone has its first for a title.
        std::vector<std::vector<std::pair<int, QString>>> boxes;
        for (sal_Int32 s = 0; s < shapes->getCount(); ++s) {
            const Reference<css::uno::XInterface> shape(shapes->getByIndex(s), UNO_QUERY);
            if (isShape(shape, "com.sun.star.presentation.TitleTextShape")) {
                for (const auto &[level, said] : paragraphsOf(shape))
                    slide.title += (slide.title.isEmpty() ? QString() : QStringLiteral(" ")) + said;
            } else if (isShape(shape, "com.sun.star.presentation.OutlinerShape") ||
                       isShape(shape, "com.sun.star.presentation.SubtitleShape")) {
                for (auto &paragraph : paragraphsOf(shape))
                    slide.body.push_back(std::move(paragraph));
            } else if (auto text = paragraphsOf(shape); !text.empty()) {
                boxes.push_back(std::move(text));
            }
        }
        if (slide.title.isEmpty() && slide.body.empty() && !boxes.empty()) {
            for (const auto &[level, said] : boxes.front())
                slide.title += (slide.title.isEmpty() ? QString() : QStringLiteral(" ")) + said;
            for (std::size_t b = 1; b < boxes.size(); ++b)
                slide.body.insert(slide.body.end(), boxes[b].begin(), boxes[b].end());
        }
        slides.push_back(std::move(slide));
    }
    return slides;
}

/** `text` for XML: its markup characters escaped, control characters left out. */
QByteArray xmlText(const QString &text)
{
    QString kept;
    for (const QChar c : text)
        if (c.unicode() >= 0x20 || c == QLatin1Char('\t'))
            kept += c;
    return kept.toHtmlEscaped().toUtf8();
}

// The outline's type: titles 14 pt bold, body text 11 pt, in Liberation Sans.
constexpr double TitleSize = 14, BodySize = 11, Margin = 56.69; // 2 cm
constexpr double LineHeight = 1.17, CharWidth = 0.55;           // of the type's size, generously
constexpr double TitleSpace = 14, BodySpace = 3;
/** A body paragraph's indent by level: 1.2 cm, and 0.8 cm more a level. */
double indentOf(int level)
{
    return 34 + 22.7 * level;
}

/** The height a paragraph of `text` takes in `width` points at `size`, and `space` after it. */
double heightOf(const QString &text, double size, double width, double space)
{
    const double perLine = std::max(1.0, std::floor(width / (size * CharWidth)));
    return std::ceil(std::max<qsizetype>(text.size(), 1) / perLine) * size * LineHeight + space;
}

/** One paragraph of the outline: its style and text, and the height it takes. */
struct Line {
    QByteArray style, xml;
    double height;
};

/**
 * The outline as a flat drawing on `paper`, a page a sheet: titles bold,
 * body text indented by level. A drawing's text does not flow from page to
 * page, so the paragraphs are put on pages by their estimated heights.
 */
QByteArray outlineDocument(const std::vector<SlideOutline> &slides, const Paper &paper)
{
    const double width = paper.width - 2 * Margin, height = paper.height - 2 * Margin;
    std::vector<std::vector<Line>> pages(1);
    double used = 0;
    const auto put = [&](Line line, double keepWith) {
        if (used > 0 && used + line.height + keepWith > height)
            pages.emplace_back(), used = 0;
        used += line.height;
        pages.back().push_back(std::move(line));
    };
    for (const SlideOutline &slide : slides) {
        const QString title = QString::number(slide.number) + QStringLiteral("  ") + slide.title;
        const double first = slide.body.empty()
                                 ? 0
                                 : heightOf(slide.body[0].second, BodySize,
                                            width - indentOf(slide.body[0].first), BodySpace);
        put(Line{"T", QByteArray::number(slide.number) + "<text:tab/>" + xmlText(slide.title),
                 heightOf(title, TitleSize, width, TitleSpace)},
            first);
        for (const auto &[level, said] : slide.body) {
            const int l = std::min(level, 8);
            put(Line{"B" + QByteArray::number(l), xmlText(said),
                     heightOf(said, BodySize, width - indentOf(l), BodySpace)},
                0);
        }
    }
    const auto pt = [](double points) { return QByteArray::number(points, 'f', 2) + "pt"; };
    QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document "
        "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
        "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
        "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
        "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
        "office:version=\"1.2\" office:mimetype=\"application/vnd.oasis.opendocument.graphics\">"
        "<office:automatic-styles><style:page-layout style:name=\"P\"><style:page-layout-"
        "properties fo:margin-top=\"0pt\" fo:margin-bottom=\"0pt\" fo:margin-left=\"0pt\" "
        "fo:margin-right=\"0pt\" fo:page-width=\"" +
        pt(paper.width) + "\" fo:page-height=\"" + pt(paper.height) +
        "\"/></style:page-layout><style:style style:name=\"dp\" style:family=\"drawing-page\">"
        "<style:drawing-page-properties draw:fill=\"none\"/></style:style><style:style "
        "style:name=\"gr\" style:family=\"graphic\"><style:graphic-properties draw:fill=\"none\" "
        "draw:stroke=\"none\" draw:auto-grow-height=\"false\" "
        "draw:textarea-vertical-align=\"top\" fo:padding-top=\"0pt\" fo:padding-bottom=\"0pt\" "
        "fo:padding-left=\"0pt\" fo:padding-right=\"0pt\"/></style:style><style:style "
        "style:name=\"T\" style:family=\"paragraph\"><style:paragraph-properties "
        "fo:margin-top=\"" +
        pt(TitleSpace - 4) + "\" fo:margin-bottom=\"4pt\"/><style:text-properties " +
        "fo:font-family=\"Liberation Sans\" fo:font-size=\"" + pt(TitleSize) +
        "\" fo:font-weight=\"bold\"/></style:style>";
    for (int level = 0; level < 9; ++level)
        xml += "<style:style style:name=\"B" + QByteArray::number(level) +
               "\" style:family=\"paragraph\"><style:paragraph-properties fo:margin-left=\"" +
               pt(indentOf(level)) + "\" fo:margin-bottom=\"" + pt(BodySpace) +
               "\"/><style:text-properties fo:font-family=\"Liberation Sans\" fo:font-size=\"" +
               pt(BodySize) + "\"/></style:style>";
    xml += "</office:automatic-styles><office:master-styles><style:master-page style:name=\"M\" "
           "style:page-layout-name=\"P\" draw:style-name=\"dp\"/></office:master-styles>"
           "<office:body><office:drawing>";
    for (const std::vector<Line> &page : pages) {
        xml += "<draw:page draw:master-page-name=\"M\"><draw:frame draw:style-name=\"gr\" "
               "svg:x=\"" +
               pt(Margin) + "\" svg:y=\"" + pt(Margin) + "\" svg:width=\"" + pt(width) +
               "\" svg:height=\"" + pt(height) + "\"><draw:text-box>";
        for (const Line &line : page)
            xml += "<text:p text:style-name=\"" + line.style + "\">" + line.xml + "</text:p>";
        xml += "</draw:text-box></draw:frame></draw:page>";
    }
    return xml + "</office:drawing></office:body></office:document>";
}

} // namespace

void exportOutline(OfficeInstance &o, const Reference<css::lang::XComponent> &document,
                   const QString &file, const QString &pdf, const PrintSettings &settings,
                   const Paper &paper, const QString &folder)
{
    const auto ranges = settings.slides ? slideRangesOf(*settings.slides) : std::nullopt;
    const bool hiddenToo = settings.hiddenSlides.value_or(false);
    const QString doing = QStringLiteral("printing \"%1\"").arg(file);
    const std::vector<SlideOutline> slides =
        o.call(OfficeCall::Print, "print", doing, [document, ranges, hiddenToo] {
            return readOutline(document, [&](long number, bool shown) {
                bool inRange = !ranges;
                for (const auto &[first, last] : ranges.value_or(std::vector<SlideRange>{}))
                    inRange = inRange || (number >= first && number <= last);
                return inRange && (shown || hiddenToo);
            });
        });
    const QString text = folder + QStringLiteral("/outline.fodg");
    QFile out(text);
    if (!out.open(QIODevice::NewOnly) || !out.write(outlineDocument(slides, paper)) || !out.flush())
        throw Failure(QStringLiteral("no room for the outline: %1").arg(out.errorString()));
    out.close();
    const bool laidOut = o.call(
        OfficeCall::Print, "print", doing,
        [desktop = o.desktop, in = ou(QUrl::fromLocalFile(text).toString()),
         to = ou(QUrl::fromLocalFile(pdf).toString())] {
            const Reference<css::frame::XComponentLoader> loader(desktop, UNO_QUERY_THROW);
            const Reference<css::lang::XComponent> outline = loader->loadComponentFromURL(
                in, "_blank", 0,
                sequence({property("Hidden", css::uno::Any(true)),
                          property("ReadOnly", css::uno::Any(true)),
                          property("MacroExecutionMode",
                                   css::uno::Any(css::document::MacroExecMode::NEVER_EXECUTE))}));
            if (!outline.is())
                return false;
            const Reference<css::frame::XStorable> storable(outline, UNO_QUERY_THROW);
            storable->storeToURL(
                to, sequence({property("FilterName", css::uno::Any(OUString("draw_pdf_Export")))}));
            if (const Reference<css::util::XCloseable> closeable(outline, UNO_QUERY);
                closeable.is())
                closeable->close(true);
            else
                outline->dispose();
            return true;
        });
    if (!laidOut)
        throw Failure(
            QStringLiteral("%1 could not lay out the outline of \"%2\".").arg(Product, file));
}

} // namespace deckrun::uno
