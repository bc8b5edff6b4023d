// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/PrintSettingsText.h"

#include <QRegularExpression>

#include <array>
#include <utility>

namespace deckrun {

namespace {

constexpr std::array<std::pair<PrintLayout, const char *>, 9> Layouts{{
    {PrintLayout::Slides, "slides"},
    {PrintLayout::Handouts1, "handouts-1"},
    {PrintLayout::Handouts2, "handouts-2"},
    {PrintLayout::Handouts3, "handouts-3"},
    {PrintLayout::Handouts4, "handouts-4"},
    {PrintLayout::Handouts6, "handouts-6"},
    {PrintLayout::Handouts9, "handouts-9"},
    {PrintLayout::Notes, "notes"},
    {PrintLayout::Outline, "outline"},
}};
constexpr std::array<std::pair<PrintColor, const char *>, 3> Colors{{
    {PrintColor::Colour, "color"},
    {PrintColor::Gray, "gray"},
    {PrintColor::BlackAndWhite, "bw"},
}};
constexpr std::array<std::pair<PrintSides, const char *>, 3> Sides{{
    {PrintSides::OneSided, "one"},
    {PrintSides::LongEdge, "long-edge"},
    {PrintSides::ShortEdge, "short-edge"},
}};

template <typename Table, typename Value> QString nameIn(const Table &table, Value value)
{
    for (const auto &[v, name] : table)
        if (v == value)
            return QLatin1String(name);
    return {};
}

template <typename Table>
auto valueIn(const Table &table, const QString &name) -> std::optional<decltype(table[0].first)>
{
    for (const auto &[v, n] : table)
        if (name == QLatin1String(n))
            return v;
    return std::nullopt;
}

QByteArray jsonText(const QString &text)
{
    // The names and ranges here hold no quote, backslash or control character.
    return '"' + text.toUtf8() + '"';
}

QByteArray jsonBool(bool value)
{
    return value ? "true" : "false";
}

} // namespace

QString layoutName(PrintLayout layout)
{
    return nameIn(Layouts, layout);
}

std::optional<PrintLayout> layoutNamed(const QString &name)
{
    return valueIn(Layouts, name);
}

QStringList layoutNames()
{
    QStringList names;
    for (const auto &entry : Layouts)
        names << QLatin1String(entry.second);
    return names;
}

QString colorName(PrintColor color)
{
    return nameIn(Colors, color);
}

std::optional<PrintColor> colorNamed(const QString &name)
{
    return valueIn(Colors, name);
}

QString sidesName(PrintSides sides)
{
    return nameIn(Sides, sides);
}

std::optional<PrintSides> sidesNamed(const QString &name)
{
    return valueIn(Sides, name);
}

bool isSlideRange(const QString &range)
{
    static const QRegularExpression part(
        QStringLiteral("^([1-9][0-9]{0,5})(?:-([1-9][0-9]{0,5}))?$"));
    if (range.isEmpty())
        return false;
    for (const QString &piece : range.split(QLatin1Char(','))) {
        const QRegularExpressionMatch m = part.match(piece);
        if (!m.hasMatch())
            return false;
        if (m.hasCaptured(2) && m.captured(2).toInt() < m.captured(1).toInt())
            return false;
    }
    return true;
}

QByteArray settingsJson(const PrintSettings &s)
{
    QByteArrayList fields;
    if (s.layout)
        fields << "\"layout\":" + jsonText(layoutName(*s.layout));
    if (s.color)
        fields << "\"color\":" + jsonText(colorName(*s.color));
    if (s.hiddenSlides)
        fields << "\"hidden-slides\":" + jsonBool(*s.hiddenSlides);
    if (s.frameSlides)
        fields << "\"frame\":" + jsonBool(*s.frameSlides);
    if (s.fitToPaper)
        fields << "\"fit\":" + jsonBool(*s.fitToPaper);
    if (s.copies)
        fields << "\"copies\":" + QByteArray::number(*s.copies);
    if (s.collate)
        fields << "\"collate\":" + jsonBool(*s.collate);
    if (s.sides)
        fields << "\"sides\":" + jsonText(sidesName(*s.sides));
    if (s.slides)
        fields << "\"slides\":" + jsonText(*s.slides);
    return '{' + fields.join(',') + '}';
}

} // namespace deckrun
