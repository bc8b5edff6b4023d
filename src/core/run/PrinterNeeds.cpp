// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run/PrinterNeeds.h"

#include "core/run/PrintSettingsText.h"
#include "platform/Failure.h"
#include "platform/Logging.h"

namespace deckrun {

namespace {

/** The print service's keyword for `value` of the table's `names`. */
template <typename Names, typename Value> QString keyword(const Names &names, Value value)
{
    return QString::fromStdString(names.ipp(value));
}

QString sidesWords(PrintSides sides)
{
    switch (sides) {
    case PrintSides::LongEdge:
        return QStringLiteral("two-sided (long edge)");
    case PrintSides::ShortEdge:
        return QStringLiteral("two-sided (short edge)");
    case PrintSides::OneSided:
        break;
    }
    return QStringLiteral("one-sided");
}

QString colorWords(PrintColor color)
{
    switch (color) {
    case PrintColor::Gray:
        return QStringLiteral("grayscale");
    case PrintColor::BlackAndWhite:
        return QStringLiteral("black and white");
    case PrintColor::Colour:
        break;
    }
    return QStringLiteral("colour");
}

/** One setting the printer is asked for, by the print service's name for it. */
struct Need {
    const char *attribute;
    /** The value the settings ask, in the service's words; none when they ask nothing here. */
    std::optional<QString> (*asked)(const PrintSettings &settings);
    /** The option as the command line gives it, and the setting as a person names it. */
    QString (*option)(const PrintSettings &settings);
    QString (*setting)(const PrintSettings &settings);
    /** A value a job carried, into the settings. */
    void (*carry)(PrintSettings &settings, const QString &value);
};

const Need Needs[] = {
    {"sides",
     [](const PrintSettings &s) {
         return s.sides ? std::optional(keyword(setting::Sides, *s.sides)) : std::nullopt;
     },
     [](const PrintSettings &s) {
         return QStringLiteral("--sides ") + QString::fromStdString(setting::Sides.text(*s.sides));
     },
     [](const PrintSettings &s) { return sidesWords(*s.sides); },
     [](PrintSettings &s, const QString &value) {
         if (const auto sides = setting::Sides.fromIpp(value.toStdString()))
             s.sides = sides;
     }},
    // Grayscale and black and white both go as monochrome.
    {"print-color-mode",
     [](const PrintSettings &s) -> std::optional<QString> {
         if (!s.color)
             return std::nullopt;
         return keyword(setting::Colors, *s.color);
     },
     [](const PrintSettings &s) {
         return QStringLiteral("--color ") + QString::fromStdString(setting::Colors.text(*s.color));
     },
     [](const PrintSettings &s) { return colorWords(*s.color); },
     [](PrintSettings &s, const QString &value) {
         if (value == QLatin1String("color"))
             s.color = PrintColor::Colour;
         else if (value == QLatin1String("monochrome") && s.color != PrintColor::BlackAndWhite)
             s.color = PrintColor::Gray;
     }},
    {"copies",
     [](const PrintSettings &s) {
         return s.copies ? std::optional(QString::number(*s.copies)) : std::nullopt;
     },
     [](const PrintSettings &s) { return QStringLiteral("--copies %1").arg(*s.copies); },
     [](const PrintSettings &s) { return QStringLiteral("%1 copies").arg(*s.copies); },
     [](PrintSettings &s, const QString &value) {
         bool number = false;
         const int copies = value.toInt(&number);
         if (number && copies > 0)
             s.copies = copies;
     }},
};

} // namespace

std::optional<PrinterRefusal> printerRefusal(PrintSpooler &spooler, const QString &printer,
                                             const PrintSettings &asked)
{
    for (const Need &need : Needs) {
        const std::optional<QString> value = need.asked(asked);
        if (!value)
            continue;
        std::optional<QString> supported;
        try {
            supported = spooler.unsupported(printer, QLatin1String(need.attribute), *value);
        } catch (const Failure &f) {
            qCDebug(lcPrinter) << "the printer" << printer
                               << "cannot be described; its jobs say what is wrong:"
                               << f.description();
            return std::nullopt;
        }
        if (supported)
            return PrinterRefusal{printer, need.option(asked), need.setting(asked),
                                  supported->split(QLatin1Char(',')).join(QStringLiteral(", "))};
    }
    return std::nullopt;
}

QString refusalLine(const PrinterRefusal &refusal)
{
    return QStringLiteral("the printer \"%1\" cannot print %2: it supports %3; nothing was "
                          "printed.")
        .arg(refusal.printer, refusal.option, refusal.supported);
}

QString refusalMessage(const PrinterRefusal &refusal)
{
    return QStringLiteral("The printer \"%1\" cannot print %2: it supports %3.\r\rNothing was "
                          "printed.")
        .arg(refusal.printer, refusal.setting, refusal.supported);
}

PrintSettings carriedSettings(const PrintSettings &printed, const JobOptions &carried)
{
    PrintSettings settings = printed;
    for (const Need &need : Needs)
        for (const auto &[name, value] : carried)
            if (name == QLatin1String(need.attribute))
                need.carry(settings, value);
    return settings;
}

} // namespace deckrun
