// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sheets/BlackAndWhite.h"

#include "platform/Logging.h"

// JSON first: the object handles name it, and some compilers want it whole.
#include <qpdf/JSON.hh>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace deckrun::sheets {

namespace {

std::string textOf(const std::shared_ptr<Buffer> &buffer)
{
    return std::string(reinterpret_cast<char const *>(buffer->getBuffer()), buffer->getSize());
}

/** What `pipeline` (a Pl_Buffer that was given everything) holds. */
std::string drawnBy(Pl_Buffer &pipeline)
{
    return textOf(pipeline.getBufferSharedPointer());
}

/**
 * The drawing of one content stream in black and white: every colour it sets
 * (and every shading it paints) is left out; a text object starts black, a
 * path starts with a white fill and a black stroke.
 */
class BlackAndWhiteFilter final : public QPDFObjectHandle::TokenFilter {
public:
    void handleToken(QPDFTokenizer::Token const &token) override
    {
        const auto type = token.getType();
        const std::string &value = token.getValue();
        if (type != QPDFTokenizer::tt_word || value == "true" || value == "false" ||
            value == "null") {
            m_operands.push_back(token); // operands, and the space between them
            return;
        }
        if (isColour(value)) {
            m_operands.clear();
            return;
        }
        const bool startsPath = value == "m" || value == "re";
        if (startsPath && !m_inPath)
            write(" 1 g 0 G ");
        m_inPath = (m_inPath || startsPath) && !endsPath(value);
        flush();
        writeToken(token);
        if (value == "BT")
            write(" 0 g 0 G ");
    }
    void handleEOF() override { flush(); }

private:
    static bool isColour(const std::string &op)
    {
        static const std::set<std::string> ops{"g",  "rg", "k",  "cs", "sc",  "scn", "G",
                                               "RG", "K",  "CS", "SC", "SCN", "sh"};
        return ops.count(op) != 0;
    }
    static bool endsPath(const std::string &op)
    {
        static const std::set<std::string> ops{"f", "F", "f*", "S", "s", "B", "B*", "b", "b*", "n"};
        return ops.count(op) != 0;
    }
    void flush()
    {
        for (const QPDFTokenizer::Token &t : m_operands)
            writeToken(t);
        m_operands.clear();
    }

    std::vector<QPDFTokenizer::Token> m_operands;
    bool m_inPath = false;
};

/** Components of a colour space that is turned gray: 3 (RGB), 4 (CMYK); 0 for others. */
int components(QPDFObjectHandle space)
{
    if (space.isName())
        return space.getName() == "/DeviceRGB" ? 3 : space.getName() == "/DeviceCMYK" ? 4 : 0;
    if (space.isArray() && space.getArrayNItems() == 2 && space.getArrayItem(0).isName() &&
        space.getArrayItem(0).getName() == "/ICCBased") {
        QPDFObjectHandle n = space.getArrayItem(1).getDict().getKey("/N");
        if (n.isInteger() && (n.getIntValue() == 3 || n.getIntValue() == 4))
            return static_cast<int>(n.getIntValue());
    }
    return 0;
}

/** Gray bytes of `count` colours of `n` components each (RGB or CMYK). */
std::string grayOf(const std::string &data, int n, std::size_t count)
{
    std::string gray(count, '\0');
    const auto at = [&](std::size_t k, std::size_t c) {
        return static_cast<unsigned char>(data[k * static_cast<std::size_t>(n) + c]);
    };
    for (std::size_t k = 0; k < count; ++k) {
        const double g = n == 3 ? 0.299 * at(k, 0) + 0.587 * at(k, 1) + 0.114 * at(k, 2)
                                : 255.0 - std::min(255.0, 0.3 * at(k, 0) + 0.59 * at(k, 1) +
                                                              0.11 * at(k, 2) + at(k, 3));
        gray[k] = static_cast<char>(std::lround(g));
    }
    return gray;
}

/** A picture in grayscale: 8 bits a component of RGB or CMYK, directly or through a palette. */
void grayPicture(QPDFObjectHandle image)
{
    QPDFObjectHandle dict = image.getDict();
    QPDFObjectHandle bits = dict.getKey("/BitsPerComponent");
    if (dict.getKey("/ImageMask").isBool() || !bits.isInteger() || bits.getIntValue() != 8 ||
        dict.hasKey("/Decode"))
        return;
    QPDFObjectHandle space = dict.getKey("/ColorSpace");
    if (space.isArray() && space.getArrayNItems() == 4 && space.getArrayItem(0).isName() &&
        space.getArrayItem(0).getName() == "/Indexed") {
        // A palette: its colours turned gray, the picture's bytes as they are.
        const int n = components(space.getArrayItem(1));
        QPDFObjectHandle lookup = space.getArrayItem(3);
        const std::string table =
            lookup.isStream() ? textOf(lookup.getStreamData(qpdf_dl_all)) : lookup.getStringValue();
        if (n == 0 || table.size() < static_cast<std::size_t>(n))
            return;
        space.setArrayItem(1, QPDFObjectHandle::newName("/DeviceGray"));
        space.setArrayItem(3, QPDFObjectHandle::newString(
                                  grayOf(table, n, table.size() / static_cast<std::size_t>(n))));
        return;
    }
    const int n = components(space);
    if (n == 0)
        return;
    std::string bytes;
    try {
        bytes = textOf(image.getStreamData(qpdf_dl_all));
    } catch (const std::exception &e) {
        qCDebug(lcOffice) << "a picture stays in colour:" << e.what();
        return;
    }
    image.replaceStreamData(grayOf(bytes, n, bytes.size() / static_cast<std::size_t>(n)),
                            QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceGray"));
}

/** The pictures and forms of `resources` in black and white, each once. */
void turnResources(QPDFObjectHandle resources, std::set<QPDFObjGen> &done)
{
    if (!resources.isDictionary())
        return;
    QPDFObjectHandle xobjects = resources.getKey("/XObject");
    if (!xobjects.isDictionary())
        return;
    for (const std::string &key : xobjects.getKeys()) {
        QPDFObjectHandle x = xobjects.getKey(key);
        if (!x.isStream() || !done.insert(x.getObjGen()).second)
            continue;
        QPDFObjectHandle subtype = x.getDict().getKey("/Subtype");
        if (subtype.isName() && subtype.getName() == "/Image") {
            grayPicture(x);
        } else if (subtype.isName() && subtype.getName() == "/Form") {
            BlackAndWhiteFilter filter;
            Pl_Buffer drawn("form");
            x.filterAsContents(&filter, &drawn);
            x.replaceStreamData(drawnBy(drawn), QPDFObjectHandle::newNull(),
                                QPDFObjectHandle::newNull());
            turnResources(x.getDict().getKey("/Resources"), done);
        }
    }
}

} // namespace

void turnBlackAndWhite(QPDF &pdf, QPDFPageObjectHelper &page)
{
    BlackAndWhiteFilter filter;
    Pl_Buffer drawn("page");
    page.filterContents(&filter, &drawn);
    page.getObjectHandle().replaceKey("/Contents",
                                      QPDFObjectHandle::newStream(&pdf, drawnBy(drawn)));
    std::set<QPDFObjGen> done;
    turnResources(page.getAttribute("/Resources", false), done);
}

} // namespace deckrun::sheets
