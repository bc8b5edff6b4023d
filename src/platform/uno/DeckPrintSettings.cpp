// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/DeckPrintSettings.h"

#include "platform/Logging.h"
#include "platform/uno/ZipEntry.h"

#include <QFileInfo>
#include <QHash>
#include <QLatin1String>
#include <QXmlStreamReader>

#include <cstddef>
#include <new>
#include <optional>
#include <utility>

namespace deckrun::uno {

namespace {

// Elements are told by their namespace, never by the prefix a file happens to use.
const QLatin1String presentationMl("http://schemas.openxmlformats.org/presentationml/2006/main");
/** The same vocabulary as saved in Strict Open XML. */
const QLatin1String presentationMlStrict("http://purl.oclc.org/ooxml/presentationml/main");
const QLatin1String odfOffice("urn:oasis:names:tc:opendocument:xmlns:office:1.0");
const QLatin1String odfConfig("urn:oasis:names:tc:opendocument:xmlns:config:1.0");

/** The values of p:prnPr's prnWhat and clrMode, as PowerPoint writes them. */
const std::pair<QLatin1String, PrintLayout> printWhat[] = {
    {QLatin1String("slides"), PrintLayout::Slides},
    {QLatin1String("handouts1"), PrintLayout::Handouts1},
    {QLatin1String("handouts2"), PrintLayout::Handouts2},
    {QLatin1String("handouts3"), PrintLayout::Handouts3},
    {QLatin1String("handouts4"), PrintLayout::Handouts4},
    {QLatin1String("handouts6"), PrintLayout::Handouts6},
    {QLatin1String("handouts9"), PrintLayout::Handouts9},
    {QLatin1String("notes"), PrintLayout::Notes},
    {QLatin1String("outline"), PrintLayout::Outline},
};
const std::pair<QLatin1String, PrintColor> colourModes[] = {
    {QLatin1String("clr"), PrintColor::Colour},
    {QLatin1String("gray"), PrintColor::Gray},
    {QLatin1String("bw"), PrintColor::BlackAndWhite},
};
/** LibreOffice's PrintQuality, 0 to 2, in order (its print dialog's "Color" choices). */
const PrintColor printQualities[] = {PrintColor::Colour, PrintColor::Gray,
                                     PrintColor::BlackAndWhite};

enum class DeckFormat { PresentationMl, OpenDocument, Other };

DeckFormat formatOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const char *pml : {"pptx", "pptm", "ppsx", "ppsm", "potx", "potm"})
        if (suffix == QLatin1String(pml))
            return DeckFormat::PresentationMl;
    if (suffix == QLatin1String("odp"))
        return DeckFormat::OpenDocument;
    return DeckFormat::Other;
}

/** What a file says that Deckrun does not understand: logged, and the setting left unset. */
void notUnderstood(const QString &path, const QString &what, QStringView value)
{
    qCDebug(lcOffice) << "print settings of" << path << ":" << what << "=" << value
                      << "not understood, left unset";
}

template <typename T, std::size_t N>
std::optional<T> lookUp(const std::pair<QLatin1String, T> (&table)[N], QStringView text)
{
    for (const auto &[name, value] : table)
        if (text == name)
            return value;
    return std::nullopt;
}

/** xsd:boolean: "true", "false", "1", "0", blanks around allowed (OpenDocument writes the words).
 */
std::optional<bool> xsdBoolean(QStringView text)
{
    text = text.trimmed();
    if (text == u"true" || text == u"1")
        return true;
    if (text == u"false" || text == u"0")
        return false;
    return std::nullopt;
}

bool isElement(const QXmlStreamReader &reader, QLatin1String ns, QLatin1String name)
{
    return reader.namespaceUri() == ns && reader.name() == name;
}

/** Moves to the next child of the current element that `wanted` accepts, skipping the others. */
template <typename Wanted> bool enterChild(QXmlStreamReader &reader, Wanted wanted)
{
    while (reader.readNextStartElement()) {
        if (wanted(reader))
            return true;
        reader.skipCurrentElement();
    }
    return false;
}

/** `value` read by `parse` into `setting`; unset, and logged, where it is not understood. */
template <typename T, typename Parse>
void take(std::optional<T> &setting, const QString &path, const QString &what, QStringView value,
          Parse parse)
{
    setting = parse(value);
    if (!setting)
        notUnderstood(path, what, value);
}

/** Reads to the end: a part that is not well-formed XML says nothing, whatever came before the
 * fault. */
bool wellFormed(QXmlStreamReader &reader, const QString &path)
{
    while (!reader.atEnd())
        reader.readNext();
    if (reader.hasError())
        qCDebug(lcOffice) << "print settings of" << path << ": not read," << reader.errorString();
    return !reader.hasError();
}

/** p:prnPr: each attribute it has, the schema's default for each it leaves out. */
PrintSettings fromPrintProperties(const QXmlStreamAttributes &attributes, const QString &path)
{
    // What PowerPoint prints with when prnPr leaves an attribute out.
    PrintSettings settings;
    settings.layout = PrintLayout::Slides;
    settings.color = PrintColor::Colour;
    settings.hiddenSlides = settings.frameSlides = settings.fitToPaper = false;
    const auto inTable = [](const auto &table) {
        return [&table](QStringView text) { return lookUp(table, text); };
    };
    for (const QXmlStreamAttribute &attribute : attributes) {
        if (!attribute.namespaceUri().isEmpty())
            continue;
        const QString name = attribute.name().toString();
        const QStringView value = attribute.value();
        if (name == u"prnWhat")
            take(settings.layout, path, name, value, inTable(printWhat));
        else if (name == u"clrMode")
            take(settings.color, path, name, value, inTable(colourModes));
        else if (name == u"hiddenSlides")
            take(settings.hiddenSlides, path, name, value, xsdBoolean);
        else if (name == u"frameSlides")
            take(settings.frameSlides, path, name, value, xsdBoolean);
        else if (name == u"scaleToFitPaper")
            take(settings.fitToPaper, path, name, value, xsdBoolean);
    }
    return settings;
}

/** ppt/presProps.xml: p:presentationPr, holding p:prnPr once the deck was given print settings. */
PrintSettings fromPresentationProperties(const QByteArray &xml, const QString &path)
{
    const auto isPresentationMl = [](const QXmlStreamReader &reader) {
        return reader.namespaceUri() == presentationMl ||
               reader.namespaceUri() == presentationMlStrict;
    };
    QXmlStreamReader reader(xml);
    if (!reader.readNextStartElement() || !isPresentationMl(reader) ||
        reader.name() != u"presentationPr") {
        qCDebug(lcOffice) << "print settings of" << path << ": presProps.xml is not"
                          << "presentation properties" << reader.errorString();
        return {};
    }
    const bool found = enterChild(reader, [&](const QXmlStreamReader &child) {
        return isPresentationMl(child) && child.name() == u"prnPr";
    });
    const PrintSettings settings =
        found ? fromPrintProperties(reader.attributes(), path) : PrintSettings{};
    return wellFormed(reader, path) ? settings : PrintSettings{};
}

/**
 * The document's configuration items (config:config-item in the set
 * "ooo:configuration-settings"), name to text; the views' own items are not
 * the document's and are left out.
 */
QHash<QString, QString> configurationItems(const QByteArray &xml, const QString &path)
{
    QHash<QString, QString> items;
    QXmlStreamReader reader(xml);
    const auto configName = [](const QXmlStreamReader &element) {
        return element.attributes().value(odfConfig, QLatin1String("name")).toString();
    };
    const bool found =
        reader.readNextStartElement() &&
        isElement(reader, odfOffice, QLatin1String("document-settings")) &&
        enterChild(reader,
                   [](const QXmlStreamReader &element) {
                       return isElement(element, odfOffice, QLatin1String("settings"));
                   }) &&
        enterChild(reader, [&](const QXmlStreamReader &element) {
            return isElement(element, odfConfig, QLatin1String("config-item-set")) &&
                   configName(element) == u"ooo:configuration-settings";
        });
    while (found && reader.readNextStartElement()) {
        if (!isElement(reader, odfConfig, QLatin1String("config-item"))) {
            reader.skipCurrentElement();
            continue;
        }
        const QString name = configName(reader);
        items.insert(name, reader.readElementText());
    }
    return wellFormed(reader, path) ? items : QHash<QString, QString>();
}

/**
 * Handouts of `count` slides a page, to the nearest layout there is (1, 2, 3,
 * 4, 6 or 9): 5 lies halfway and becomes 6, as LibreOffice prints every count
 * it has no layout for; 7 becomes 6 and 8 becomes 9. A count LibreOffice
 * refuses (outside 1 to 9), or none, is its default, 6.
 */
PrintLayout handoutLayout(int count)
{
    switch (count) {
    case 1:
        return PrintLayout::Handouts1;
    case 2:
        return PrintLayout::Handouts2;
    case 3:
        return PrintLayout::Handouts3;
    case 4:
        return PrintLayout::Handouts4;
    case 8:
    case 9:
        return PrintLayout::Handouts9;
    default:
        return PrintLayout::Handouts6;
    }
}

/**
 * What LibreOffice prints on each sheet. It keeps one switch per kind (its
 * older print dialog printed several kinds in one job); a run prints one: the
 * first switched on of handouts, notes and the outline (the order of the
 * office's own print dialog), else the slides. Nothing when no switch is on.
 */
std::optional<PrintLayout> openDocumentLayout(const QHash<QString, QString> &items)
{
    const auto on = [&](const char *name) {
        return xsdBoolean(items.value(QLatin1String(name))).value_or(false);
    };
    if (on("IsPrintHandout")) // no count, or none that is a number, reads 0: the default
        return handoutLayout(items.value(QStringLiteral("SlidesPerHandout")).trimmed().toInt());
    if (on("IsPrintNotes"))
        return PrintLayout::Notes;
    if (on("IsPrintOutline"))
        return PrintLayout::Outline;
    if (on("IsPrintDrawing"))
        return PrintLayout::Slides;
    return std::nullopt;
}

/** settings.xml: what its configuration items say, each setting only where its item is there. */
PrintSettings fromOpenDocumentSettings(const QByteArray &xml, const QString &path)
{
    const QHash<QString, QString> items = configurationItems(xml, path);
    PrintSettings settings;
    settings.layout = openDocumentLayout(items);
    const auto item = [&](const char *name, auto &setting, auto parse) {
        const auto found = items.constFind(QLatin1String(name));
        if (found != items.constEnd())
            take(setting, path, QString::fromLatin1(name), *found, parse);
    };
    item("IsPrintHiddenPages", settings.hiddenSlides, xsdBoolean);
    item("IsPrintFitPage", settings.fitToPaper, xsdBoolean);
    item("HandoutsHorizontal", settings.handoutOrder,
         [](QStringView text) -> std::optional<HandoutOrder> {
             const std::optional<bool> across = xsdBoolean(text);
             if (!across)
                 return std::nullopt;
             return *across ? HandoutOrder::Horizontal : HandoutOrder::Vertical;
         });
    item("PrintQuality", settings.color, [](QStringView text) -> std::optional<PrintColor> {
        bool isNumber = false;
        const int quality = text.trimmed().toInt(&isNumber);
        if (!isNumber || quality < 0 || quality > 2)
            return std::nullopt;
        return printQualities[quality];
    });
    return settings;
}

} // namespace

PrintSettings deckPrintSettings(const QString &path)
{
    try {
        switch (formatOf(path)) {
        case DeckFormat::PresentationMl: {
            // Part names compare case-insensitively in a package (OPC).
            const std::optional<QByteArray> xml =
                zipEntry(path, QByteArrayLiteral("ppt/presProps.xml"), Qt::CaseInsensitive);
            return xml ? fromPresentationProperties(*xml, path) : PrintSettings{};
        }
        case DeckFormat::OpenDocument: {
            const std::optional<QByteArray> xml = zipEntry(path, QByteArrayLiteral("settings.xml"));
            return xml ? fromOpenDocumentSettings(*xml, path) : PrintSettings{};
        }
        case DeckFormat::Other:
            break;
        }
    } catch (const std::bad_alloc &) {
        qCDebug(lcOffice) << "print settings of" << path << ": out of memory";
    }
    return {};
}

} // namespace deckrun::uno
