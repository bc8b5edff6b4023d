// SPDX-License-Identifier: GPL-3.0-or-later
// A deck's own print settings, from packages made here (damaged ones too) and the samples.

#ifdef DECKRUN_HAS_UNO

#include "platform/uno/DeckPrintSettings.h"
#include "platform/uno/SlideChoice.h"
#include "platform/uno/ZipEntry.h"
#include "support/TempTree.h"
#include "support/ZipWriter.h"

#include <QtEndian>

#include <gtest/gtest.h>

using namespace deckrun;
using deckrun::test::ZipItem;
using L = PrintLayout;
using C = PrintColor;

namespace {
const QByteArray pmlNs = "http://schemas.openxmlformats.org/presentationml/2006/main";
const QByteArray strictNs = "http://purl.oclc.org/ooxml/presentationml/main";

/** Settings with these said, the rest unset. */
PrintSettings ps(std::optional<L> layout, std::optional<C> color = {},
                 std::optional<bool> hidden = {}, std::optional<bool> frame = {},
                 std::optional<bool> fit = {}, std::optional<HandoutOrder> order = {})
{
    return {layout, color, hidden, frame, fit, {}, {}, {}, {}, order};
}
/** As a p:prnPr is read: the schema's default for each attribute it leaves out. */
PrintSettings pml(L layout, C color = C::Colour, bool hidden = false, bool frame = false,
                  bool fit = false)
{
    return ps(layout, color, hidden, frame, fit);
}

/** A package whose presProps (its last entry) holds `inner`; the prefix is never "p". */
QList<ZipItem> pptx(const QByteArray &inner, bool deflate = false, const QByteArray &ns = pmlNs,
                    const QByteArray &part = "ppt/presProps.xml")
{
    return {{"ppt/presentation.xml", "<x/>"},
            {part,
             "<q:presentationPr xmlns:q=\"" + ns + "\"><q:showPr/>" + inner + "</q:presentationPr>",
             deflate}};
}
QList<ZipItem> prnPr(const char *attributes, const QByteArray &ns = pmlNs)
{
    return pptx(QByteArray("<q:prnPr ") + attributes + "/>", false, ns);
}

/** Configuration items from "Name=value Name=value". */
QByteArray configItems(const char *items)
{
    QByteArray xml;
    for (QByteArray item : QByteArray(items).split(' '))
        if (!item.isEmpty())
            xml += "<c:config-item c:name=\"" + item.replace("=", "\">") + "</c:config-item>";
    return xml;
}
/** settings.xml with `items` for the document and `viewItems` for its views. */
QList<ZipItem> odp(const char *items, const char *viewItems = "")
{
    const QByteArray xml =
        "<o:document-settings xmlns:o=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:c=\"urn:oasis:names:tc:opendocument:xmlns:config:1.0\"><o:settings>"
        "<c:config-item-set c:name=\"ooo:view-settings\">" +
        configItems(viewItems) +
        "</c:config-item-set><c:config-item-set c:name=\"ooo:configuration-settings\">" +
        configItems(items) + "</c:config-item-set></o:settings></o:document-settings>";
    return {{"mimetype", "application/vnd.oasis.opendocument.presentation"},
            {"settings.xml", xml, true}};
}

const QByteArray grayHandouts = R"(<q:prnPr prnWhat="handouts3" clrMode="gray"/>)";

/** The last entry's directory record ends beyond the directory; its checksum is wrong. */
void cutShort(QByteArray &zip)
{
    qToLittleEndian(quint16(9), zip.data() + zip.lastIndexOf("PK\x01\x02") + 32);
}
void wrongCrc(QByteArray &zip)
{
    zip[zip.lastIndexOf("PK\x01\x02") + 16] ^= 1;
}

struct Row {
    const char *name;
    QList<ZipItem> items;
    PrintSettings expected;
    QString file = "a.pptx"; // its suffix picks the reader
    void (*damage)(QByteArray &zip) = nullptr;
    qsizetype paddedTo = 0; // the last entry, deflated, filled with blanks to this size
};
} // namespace

// A comment names the fault in the reader a row catches, where the row's name does not.
TEST(DeckPrintSettings, ReadsWhatTheFileSays)
{
    const qsizetype big = uno::zipEntryLimit;
    const Row rows[] = {
        Row{"PrnPrAbsent", pptx(""), {}}, // defaults where the deck says nothing
        Row{"PrnPrEmpty", pptx("<q:prnPr/>"), pml(L::Slides)}, // attributes left out left unset
        Row{"Handouts1Bw", prnPr(R"(prnWhat="handouts1" clrMode="bw")"),
            pml(L::Handouts1, C::BlackAndWhite)}, // an entry of the value tables wrong
        Row{"Handouts2", prnPr(R"(prnWhat="handouts2")"), pml(L::Handouts2)},
        Row{"Handouts3Gray", pptx(grayHandouts), pml(L::Handouts3, C::Gray)},
        Row{"Handouts4Strict", prnPr(R"(prnWhat="handouts4")", strictNs), pml(L::Handouts4)},
        Row{"Handouts6", prnPr(R"(prnWhat="handouts6")"), pml(L::Handouts6), "a.potx"},
        Row{"Handouts9", prnPr(R"(prnWhat="handouts9")"), pml(L::Handouts9), "a.pptm"},
        Row{"NotesDeflated", pptx(R"(<q:prnPr prnWhat="notes"/>)", true), pml(L::Notes), "a.ppsx"},
        Row{"OutlineUpperCase",
            pptx(R"(<q:prnPr prnWhat="outline"/>)", false, pmlNs, "PPT/PRESPROPS.XML"),
            pml(L::Outline), "A.PPSM"}, // suffix or part name told case-sensitively
        Row{"BooleanWords",
            prnPr(R"(hiddenSlides="true" frameSlides="false" scaleToFitPaper="true")"),
            pml(L::Slides, C::Colour, true, false, true)}, // attributes crossed
        Row{"BooleanDigits", prnPr(R"(hiddenSlides="0" frameSlides="1" scaleToFitPaper=" 1 ")"),
            pml(L::Slides, C::Colour, false, true, true)}, // one spelling only
        Row{"NotUnderstood", prnPr(R"(prnWhat="all" clrMode="sepia" hiddenSlides="yes")"),
            ps({}, {}, {}, false, false)}, // a default in place of a value not understood
        Row{"NotWellFormed", pptx(grayHandouts + "<q:x>"), {}}, // what came before a fault taken
        Row{"OtherNamespace", prnPr("", "urn:x"), {}},          // the namespace not looked at
        Row{"BinaryFormat", pptx(grayHandouts), {}, "a.ppt"},   // the kind told by the contents
        Row{"OdpHandouts",
            odp("IsPrintDrawing=true IsPrintHandout=true SlidesPerHandout=4 PrintQuality=1 "
                "IsPrintHiddenPages=false IsPrintFitPage=true"),
            ps(L::Handouts4, C::Gray, false, {}, true), "a.odp"}, // slides first; items crossed
        Row{"OdpFiveAHandout", odp("IsPrintHandout=true SlidesPerHandout=5"), ps(L::Handouts6),
            "a.odp"}, // the tie going to 4
        Row{"OdpEightAHandout", odp("IsPrintHandout=true SlidesPerHandout=8"), ps(L::Handouts9),
            "a.odp"},
        Row{"OdpVertical", odp("IsPrintHandout=true HandoutsHorizontal=false"),
            ps(L::Handouts6, {}, {}, {}, {}, HandoutOrder::Vertical),
            "a.odp"}, // the order read the wrong way round, or not at all
        Row{"OdpNotesBw",
            odp("IsPrintDrawing=true IsPrintNotes=true PrintQuality=2 IsPrintHiddenPages=true"),
            ps(L::Notes, C::BlackAndWhite, true), "a.odp"},
        // Slides before the outline, defaults filled in, or a quality out of range taken.
        Row{"OdpOnlyWhatItSays", odp("IsPrintDrawing=true IsPrintOutline=true PrintQuality=3"),
            ps(L::Outline), "a.odp"},
        Row{"OdpViewItems", odp("", "IsPrintNotes=true"), {}, "a.odp"}, // items of any set taken
        Row{"NotAZip", {}, {}},
        Row{"DirectoryCutShort", pptx(grayHandouts), {}, "a.pptx", cutShort},
        Row{"CrcWrong", pptx(grayHandouts), {}, "a.pptx", wrongCrc},
        // The first or the last one taken, or names told case-sensitively.
        Row{"NameTwice",
            pptx(grayHandouts) + pptx("<q:prnPr/>", false, pmlNs, "PPT/presProps.xml").mid(1),
            {}},
        Row{"AtTheLimit", pptx(grayHandouts, true), pml(L::Handouts3, C::Gray), "a.pptx", {}, big},
        Row{"OverTheLimit", pptx(grayHandouts, true), {}, "a.pptx", {}, big + 1},
        Row{"FarBeyondTheLimit", pptx(grayHandouts, true), {}, "a.pptx", {}, 16 * big},
    };
    for (Row row : rows) {
        SCOPED_TRACE(row.name);
        if (row.paddedTo)
            row.items.last().data.append(row.paddedTo - row.items.last().data.size(), ' ');
        QByteArray zip = row.items.isEmpty() ? grayHandouts : test::makeZip(row.items);
        if (row.damage)
            row.damage(zip);
        EXPECT_EQ(uno::deckPrintSettings(test::TempTree().file(row.file, zip)), row.expected);
    }
}

// A package cut short, or "PK" and no package, is refused before the office
// looks; a package with a comment, and what is no package at all, go to it.
TEST(ZipWithoutEnd, TellsAPackageWithoutItsEndRecord)
{
    const QByteArray zip = test::makeZip(pptx(grayHandouts));
    QByteArray commented = zip;
    commented[commented.size() - 2] = 3; // the end record's comment length
    commented += "abc";
    const struct {
        const char *name;
        QByteArray contents;
        bool withoutEnd;
    } rows[] = {
        {"Whole", zip, false},
        {"WithAComment", commented, false},
        {"CutShort", zip.left(zip.size() - 30), true},
        {"OnlyAHeader", QByteArray("PK\x03\x04 not a deck"), true},
        {"NotAZip", "plain text, not a presentation", false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(uno::zipWithoutEnd(test::TempTree().file("a.pptx", row.contents)),
                  row.withoutEnd);
    }
}

// The decks that ship, as they are: real packages (with data descriptors) read
// whole. The PresentationML ones keep no print settings.
TEST(DeckPrintSettings, ReadsTheSampleDecks)
{
    const QString samples = QStringLiteral(DECKRUN_SOURCE_DIR "/dist/Samples/");
    for (const char *deck : {"Quarterly Review.pptx", "Safety Briefing.pptx"})
        EXPECT_TRUE(uno::zipEntry(samples + deck, "ppt/presProps.xml")) << deck;
    EXPECT_EQ(uno::deckPrintSettings(samples + "Product Roadmap.odp"),
              ps(L::Slides, C::Colour, true, {}, false, HandoutOrder::Horizontal));
    EXPECT_TRUE(uno::deckPrintSettings(samples + "Team Onboarding.ppt").isEmpty());
}

// The slides a range asks for of a deck, before the office renders any: what
// is not there, or only hidden, said in plain words. The mutation each row
// kills, where its name does not say it.
TEST(SlideChoice, SaysWhatARangeLeavesOut)
{
    const std::vector<bool> three(3, true), fourthHidden{true, true, true, false, true},
        allHidden(2, false);
    const struct {
        const char *name;
        std::optional<std::string> asked;
        std::vector<bool> shown;
        bool hiddenToo;
        std::string range;
        QString refusal, notice;
    } rows[] = {
        {"Every", {}, three, false, "", "", ""},
        {"LastSlide", "3", three, false, "3", "", ""}, // the deck's end counted one off
        {"BeyondTheDeck", "9", three, false, "", "slides 9 are not in \"x.pptx\" (3 slides)", ""},
        {"PartlyBeyond", "2-9,12", three, false, "2-3", "",
         "slides 4-9,12 are not in \"x.pptx\" (3 slides); the others were printed."},
        {"OnlyHidden", "4", fourthHidden, false, "", "slide 4 of \"x.pptx\" is hidden", ""},
        {"HiddenAskedFor", "4", fourthHidden, true, "4", "", ""}, // hidden refused all the same
        {"HiddenAndShown", "4-5", fourthHidden, false, "4-5", "", ""}, // one hidden taken for all
        {"EveryOneHidden",
         {},
         allHidden,
         false,
         "",
         "LibreOffice Impress could not print \"x.pptx\": every slide in it is hidden.",
         ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const uno::SlideChoice choice =
            uno::chooseSlides(row.asked, row.shown, row.hiddenToo, QStringLiteral("x.pptx"));
        EXPECT_EQ(choice.range, row.range);
        EXPECT_EQ(choice.refusal, row.refusal);
        EXPECT_EQ(choice.notice, row.notice);
    }
}

#endif // DECKRUN_HAS_UNO
