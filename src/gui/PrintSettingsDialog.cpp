// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/PrintSettingsDialog.h"

#include "gui/Form1.h"
#include "gui/PrintSettingsChoice.h"
#include "platform/Logging.h"
#include "platform/Platform.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <utility>

namespace deckrun {

namespace {

const QString DeckSays = QStringLiteral("As each deck says");

/** A value the dialog offers: how it is shown, and its text as the command line writes it. */
struct Choice {
    QString caption;
    QString text;
};

template <typename E, std::size_t N> std::vector<Choice> choicesOf(const setting::Names<E, N> &c)
{
    std::vector<Choice> choices;
    for (const setting::Name<E> &n : c.names)
        choices.push_back({QString::fromUtf8(n.caption), QString::fromLatin1(n.text)});
    return choices;
}

std::vector<Choice> choicesOf(const setting::YesNo &codec)
{
    return {{QStringLiteral("Yes"), QString::fromStdString(codec.text(true))},
            {QStringLiteral("No"), QString::fromStdString(codec.text(false))}};
}

SettingField choiceField(const std::vector<Choice> &choices)
{
    auto *box = new QComboBox;
    box->addItem(DeckSays, QString());
    for (const Choice &c : choices)
        box->addItem(c.caption, c.text);
    return {box,
            [box] { return box->currentData().toString(); },
            [box](const QString &text) { box->setCurrentIndex(std::max(0, box->findData(text))); },
            {}};
}

/** A value typed in (copies, slides), empty for the deck's own; the codec says what it takes. */
SettingField typedField(const std::string &takes)
{
    auto *edit = new QLineEdit;
    edit->setPlaceholderText(DeckSays);
    const QString said = QString::fromStdString(takes);
    edit->setToolTip(said.left(1).toUpper() + said.mid(1));
    // "1-3, 5" as typed reads as "1-3,5".
    return {edit,
            [edit] { return edit->text().remove(QLatin1Char(' ')); },
            [edit](const QString &text) { edit->setText(text); },
            {}};
}

/** The row's control with the values the application prints; none when it prints none of them. */
template <typename Row>
std::optional<SettingField> fieldFor(const Row &row, const PresentationAutomation &office)
{
    const auto prints = [&](const QString &text) { return printsValue(office, row, text); };
    std::optional<SettingField> field;
    // A number or slides are typed; one of a few values is chosen.
    if constexpr (!requires { choicesOf(row.codec); }) {
        if (prints(QStringLiteral("1")))
            field = typedField(row.codec.takes());
    } else {
        std::vector<Choice> printed;
        for (const Choice &c : choicesOf(row.codec))
            if (prints(c.text))
                printed.push_back(c);
        if (!printed.empty())
            field = choiceField(printed);
    }
    if (field)
        field->take = [row](PrintSettings &s, const QString &text) {
            return setSettingText(row, s, text);
        };
    return field;
}

} // namespace

PrintSettingsDialog::PrintSettingsDialog(const PrintSettings &current,
                                         const PresentationAutomation &office, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("PrintSettingsDialog"));
    setWindowTitle(QStringLiteral("Print Settings"));
    auto *layout = new QVBoxLayout(this);
    auto *note = new QLabel(QStringLiteral(
        "\"Start Printing\" prints every deck with these,\nover what the deck says."));
    layout->addWidget(note);
    addFields(current, office);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                         QDialogButtonBox::Reset);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    QPushButton *reset = buttons->button(QDialogButtonBox::Reset);
    reset->setText(QStringLiteral("All as each deck says"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(reset, &QPushButton::clicked, this, [this] {
        for (const SettingField &f : m_fields)
            f.setText(QString());
    });
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // The window's letters, not bold: a form of ten rows reads easier plain.
    // Each control takes them itself: under the window's skin a control
    // keeps the application's font instead of the dialog's.
    QFont plain = parent ? parent->font() : font();
    plain.setBold(false);
    setFont(plain);
    // As tall as the window's selectors, also where the skin pads nothing.
    const int height = QFontMetrics(plain).height() + 8;
    for (QWidget *w : findChildren<QWidget *>()) {
        w->setFont(plain);
        if (qobject_cast<QComboBox *>(w) || qobject_cast<QPushButton *>(w) ||
            (qobject_cast<QLineEdit *>(w) && w->parent() == this))
            w->setMinimumHeight(height);
    }
}

void PrintSettingsDialog::addFields(const PrintSettings &current,
                                    const PresentationAutomation &office)
{
    auto *form = new QFormLayout;
    static_cast<QVBoxLayout *>(layout())->addLayout(form);
    forEachPrintSetting([&](const auto &row) {
        std::optional<SettingField> field = fieldFor(row, office);
        if (!field)
            return; // nothing of it prints here
        const QString caption = QString::fromUtf8(row.caption);
        field->control->setObjectName(QLatin1String(row.name));
        field->control->setAccessibleName(caption);
        field->setText(settingText(row, current));
        form->addRow(caption + QLatin1Char(':'), field->control);
        if (auto *edit = qobject_cast<QLineEdit *>(field->control))
            connect(edit, &QLineEdit::textChanged, this, &PrintSettingsDialog::checkValues);
        m_fields.push_back(std::move(*field));
    });
}

void PrintSettingsDialog::checkValues()
{
    PrintSettings scratch;
    bool readable = true;
    for (const SettingField &f : m_fields)
        readable = f.take(scratch, f.text()) && readable;
    m_ok->setEnabled(readable);
}

PrintSettings PrintSettingsDialog::chosen() const
{
    PrintSettings settings;
    for (const SettingField &f : m_fields)
        f.take(settings, f.text());
    return settings;
}

void PushButton10_Click(Form1 &form)
{
    Platform &platform = form.platform();
    auto *dialog = new PrintSettingsDialog(form.printSettings(), *platform.office, &form);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::accepted, &form, [&form, &platform, dialog] {
        form.setPrintSettings(dialog->chosen());
        // The choice holds for this session even where the store refuses it.
        try {
            storePrintSettings(*platform.settings, dialog->chosen());
        } catch (const std::exception &e) {
            qCWarning(lcApp) << "print settings not stored:" << e.what();
        }
    });
    dialog->open();
}

} // namespace deckrun
