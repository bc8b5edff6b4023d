// SPDX-License-Identifier: GPL-3.0-or-later
// The print settings a deck keeps in its file, read from packages the test
// makes, damaged ones included, and from the sample decks as they ship.

#ifdef DECKRUN_HAS_UNO

#include "platform/uno/DeckPrintSettings.h"
#include "platform/uno/ZipEntry.h"
#include "support/TempTree.h"
#include "support/ZipWriter.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <string>

using namespace deckrun;
using deckrun::test::ZipItem;
using L = PrintLayout;
using C = PrintColor;

namespace {
const QByteArray transitional = "http://schemas.openxmlformats.org/presentationml/2006/main";
const QByteArray strict = "http://purl.oclc.org/ooxml/presentationml/main";

PrintSettings ps(std::optional<L> layout, std::optional<C> color, std::optional<bool> hidden,
                 std::optional<bool> frame, std::optional<bool> fit)
{
    PrintSettings s;
    s.layout = layout;
    s.color = color;
    s.hiddenSlides = hidden;
    s.frameSlides = frame;
    s.fitToPaper = fit;
    return s;
}

/** A package whose presProps (its last entry) holds `inner`; the prefix is never "p". */
QList<ZipItem> pptx(const QByteArray &inner, bool deflate = false,
                    const QByteArray &ns = transitional, const QByteArray &part = "ppt/presProps.xml")
{
    return {{"ppt/presentation.xml", "<x/>"},
            {part, "<?xml version=\"1.0\"?><q:presentationPr xmlns:q=\"" + ns + "\"><q:showPr/>" +
                       inner + "</q:presentationPr>",
             deflate}};
}

/** Configuration items, as settings.xml holds them for the document and for its views. */
QList<ZipItem> odp(const QList<std::pair<const char *, const char *>> &items,
                   const QByteArray &viewItems = {})
{
    QByteArray xml = "<office:document-settings "
                     "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                     "xmlns:config=\"urn:oasis:names:tc:opendocument:xmlns:config:1.0\">"
                     "<office:settings><config:config-item-set config:name=\"ooo:view-settings\">" +
                     viewItems +
                     "</config:config-item-set>"
                     "<config:config-item-set config:name=\"ooo:configuration-settings\">";
    for (const auto &[name, value] : items)
        xml += QByteArray("<config:config-item config:name=\"") + name + "\">" + value +
               "</config:config-item>";
    xml += "</config:config-item-set></office:settings></office:document-settings>";
    return {{"mimetype", "application/vnd.oasis.opendocument.presentation"},
            {"settings.xml", xml, true}};
}

const QByteArray grayHandouts = R"(<x:prnPr xmlns:x=")" + transitional +
                                R"(" prnWhat="handouts3" clrMode="gray"/>)";
const PrintSettings grayHandoutsRead = ps(L::Handouts3, C::Gray, false, false, false);

quint32 le32At(const QByteArray &zip, qsizetype at)
{
    return qFromLittleEndian<quint32>(zip.constData() + at);
}
void put32(QByteArray &zip, qsizetype at, quint32 value)
{
    qToLittleEndian(value, zip.data() + at);
}
/** The directory record of the last entry, and the end record. */
qsizetype lastRecord(const QByteArray &zip)
{
    return zip.lastIndexOf("PK\x01\x02");
}
qsizetype endRecord(const QByteArray &zip)
{
    return zip.size() - 22;
}

struct Row {
    const char *name;
    QString file; // its suffix picks the reader
    QList<ZipItem> items;
    PrintSettings expected;
    void (*damage)(QByteArray &zip) = nullptr;
    qsizetype paddedTo = 0; // the last entry, deflated, filled with blanks to this size
};
} // namespace

class DeckPrintSettingsTest : public testing::TestWithParam<Row> {};

TEST_P(DeckPrintSettingsTest, ReadsWhatTheFileSays)
{
    Row row = GetParam();
    if (row.paddedTo)
        row.items.last().data.append(row.paddedTo - row.items.last().data.size(), ' ');
    QByteArray zip = row.items.isEmpty() ? QByteArray(grayHandouts) : test::makeZip(row.items);
    if (row.damage)
        row.damage(zip);
    test::TempTree tree;
    EXPECT_EQ(uno::deckPrintSettings(tree.file(row.file, zip)), row.expected);
}

static const auto big = uno::zipEntryLimit;

// Each row names, after it, the fault in the reader that makes it fail.
INSTANTIATE_TEST_SUITE_P(
    Decks, DeckPrintSettingsTest,
    testing::Values(
        Row{"PrnPrAbsent", "a.pptx", pptx(""), {}}, // defaults where the deck says nothing
        Row{"PrnPrEmpty", "a.pptx", pptx("<q:prnPr/>"), ps(L::Slides, C::Colour, false, false, false)},
        Row{"Handouts1Bw", "a.pptx", pptx(R"(<q:prnPr prnWhat="handouts1" clrMode="bw"/>)"),
            ps(L::Handouts1, C::BlackAndWhite, false, false, false)}, // a value table entry wrong
        Row{"Handouts2", "a.pptx", pptx(R"(<q:prnPr prnWhat="handouts2"/>)"),
            ps(L::Handouts2, C::Colour, false, false, false)},
        Row{"Handouts3Gray", "a.pptx", pptx(grayHandouts), grayHandoutsRead},
        Row{"Handouts4Strict", "a.pptx", pptx(R"(<q:prnPr prnWhat="handouts4"/>)", false, strict),
            ps(L::Handouts4, C::Colour, false, false, false)}, // Strict Open XML not read
        Row{"Handouts6", "a.potx", pptx(R"(<q:prnPr prnWhat="handouts6"/>)"),
            ps(L::Handouts6, C::Colour, false, false, false)},
        Row{"Handouts9", "a.pptm", pptx(R"(<q:prnPr prnWhat="handouts9"/>)"),
            ps(L::Handouts9, C::Colour, false, false, false)},
        Row{"NotesDeflated", "a.ppsx", pptx(R"(<q:prnPr prnWhat="notes"/>)", true),
            ps(L::Notes, C::Colour, false, false, false)}, // inflate wrong
        Row{"OutlineUpperCase", "A.PPSM",
            pptx(R"(<q:prnPr prnWhat="outline"/>)", false, transitional, "PPT/PRESPROPS.XML"),
            ps(L::Outline, C::Colour, false, false, false)}, // suffix or part name case-sensitive
        Row{"BooleanWords", "a.pptx",
            pptx(R"(<q:prnPr hiddenSlides="true" frameSlides="false" scaleToFitPaper="true"/>)"),
            ps(L::Slides, C::Colour, true, false, true)}, // attributes crossed
        Row{"BooleanDigits", "a.pptx",
            pptx(R"(<q:prnPr hiddenSlides="0" frameSlides="1" scaleToFitPaper=" 1 "/>)"),
            ps(L::Slides, C::Colour, false, true, true)}, // one spelling only
        Row{"NotUnderstood", "a.pptx",
            pptx(R"(<q:prnPr prnWhat="all" clrMode="sepia" hiddenSlides="yes"/>)"),
            ps({}, {}, {}, false, false)}, // a guess in place of an unknown value
        Row{"OtherNamespace", "a.pptx", pptx("<q:prnPr/>", false, "urn:x"), {}}, // local names only
        Row{"BinaryFormat", "a.ppt", pptx(grayHandouts), {}}, // the kind told by the contents
        Row{"OdpHandouts", "a.odp",
            odp({{"IsPrintDrawing", "true"}, {"IsPrintHandout", "true"}, {"SlidesPerHandout", "4"},
                 {"PrintQuality", "1"}, {"IsPrintHiddenPages", "false"}, {"IsPrintFitPage", "true"}}),
            ps(L::Handouts4, C::Gray, false, {}, true)}, // slides before handouts; items crossed
        Row{"OdpFiveAHandout", "a.odp", odp({{"IsPrintHandout", "true"}, {"SlidesPerHandout", "5"}}),
            ps(L::Handouts6, {}, {}, {}, {})}, // the tie goes to 4
        Row{"OdpEightAHandout", "a.odp", odp({{"IsPrintHandout", "true"}, {"SlidesPerHandout", "8"}}),
            ps(L::Handouts9, {}, {}, {}, {})}, // not the nearest
        Row{"OdpNotesBw", "a.odp",
            odp({{"IsPrintDrawing", "true"}, {"IsPrintNotes", "true"}, {"PrintQuality", "2"},
                 {"IsPrintHiddenPages", "true"}}),
            ps(L::Notes, C::BlackAndWhite, true, {}, {})},
        Row{"OdpOutline", "a.odp", odp({{"IsPrintDrawing", "false"}, {"IsPrintOutline", "true"}}),
            ps(L::Outline, {}, {}, {}, {})},
        Row{"OdpOnlyWhatItSays", "a.odp", odp({{"IsPrintDrawing", "true"}, {"PrintQuality", "3"}}),
            ps(L::Slides, {}, {}, {}, {})}, // defaults filled in; quality out of range taken
        Row{"OdpViewItems", "a.odp",
            odp({}, R"(<config:config-item config:name="IsPrintNotes">true</config:config-item>)"),
            {}}, // items of any set taken
        Row{"NotAZip", "a.pptx", {}, {}},
        Row{"DirectoryCutShort", "a.pptx", pptx(grayHandouts), {},
            [](QByteArray &z) { put32(z, endRecord(z) + 12, le32At(z, endRecord(z) + 12) - 9); }},
        Row{"CrcWrong", "a.pptx", pptx(grayHandouts), {},
            [](QByteArray &z) { put32(z, lastRecord(z) + 16, ~le32At(z, lastRecord(z) + 16)); }},
        Row{"NameTwice", "a.pptx",
            pptx(grayHandouts) + pptx("", false, transitional, "PPT/presProps.xml").mid(1), {}},
        Row{"AtTheLimit", "a.pptx", pptx(grayHandouts, true), grayHandoutsRead, nullptr, big},
        Row{"OverTheLimit", "a.pptx", pptx(grayHandouts, true), {}, nullptr, big + 1},
        Row{"FarBeyondTheLimit", "a.pptx", pptx(grayHandouts, true), {}, nullptr, 16 * big}),
    [](const testing::TestParamInfo<Row> &row) { return std::string(row.param.name); });

// The decks that ship, as they are: real packages (data descriptors, extra
// fields) read whole; the slideshow ones were saved without print settings.
TEST(DeckPrintSettings, ReadsTheSampleDecks)
{
    const QString samples = QStringLiteral(DECKRUN_SOURCE_DIR "/dist/Samples/");
    for (const char *deck : {"Quarterly Review.pptx", "Safety Briefing.pptx"}) {
        EXPECT_TRUE(uno::zipEntry(samples + deck, "ppt/presProps.xml")) << deck;
        EXPECT_TRUE(uno::deckPrintSettings(samples + deck).isEmpty()) << deck;
    }
    EXPECT_EQ(uno::deckPrintSettings(samples + "Product Roadmap.odp"),
              ps(L::Slides, C::Colour, true, {}, false));
    EXPECT_TRUE(uno::deckPrintSettings(samples + "Team Onboarding.ppt").isEmpty());
}

#endif // DECKRUN_HAS_UNO
