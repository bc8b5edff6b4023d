// SPDX-License-Identifier: GPL-3.0-or-later
// The print settings the window asks for: chosen in the dialog, kept across a
// restart, printed with, and only what this system prints offered or read back.

#include "core/queue/QueueModel.h"
#include "gui/Form1.h"
#include "gui/PrintSettingsChoice.h"
#include "gui/PrintSettingsDialog.h"
#include "support/FakePlatform.h"
#include "support/TempTree.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {

/** As here and on Windows: no outline, no two-sided printing. */
QString refusedHere(const PrintSettings &s)
{
    return s.layout == PrintLayout::Outline || s.sides ? QStringLiteral("refused") : QString();
}

/** "Print settings…" pressed: the newest dialog (a closed one waits for its deletion). */
PrintSettingsDialog *openDialog(Form1 &form)
{
    form.PushButton10->click();
    const auto dialogs = form.findChildren<PrintSettingsDialog *>();
    return dialogs.value(dialogs.size() - 1, nullptr);
}

/** The dialog's control that a screen reader calls `name`. */
template <typename W> W *control(QDialog *dialog, const char *name)
{
    for (W *w : dialog->findChildren<W *>())
        if (w->accessibleName() == QLatin1String(name))
            return w;
    return nullptr;
}

QPushButton *button(QDialog *dialog, QDialogButtonBox::StandardButton which)
{
    return dialog->findChild<QDialogButtonBox *>()->button(which);
}

} // namespace

TEST(PrintSettingsWindow, ChosenInTheDialogKeptAfterARestartAndPrinted)
{
    const QString chosen = QStringLiteral("Print settings: layout handouts-6, color gray");
    FakePlatform fake;
    {
        Form1 form(fake.platform);
        form.Form_Load();
        PrintSettingsDialog *dialog = openDialog(form);
        ASSERT_NE(dialog, nullptr);
        for (const auto &[name, value] : {std::pair{"Color", "gray"}, {"Layout", "handouts-6"}}) {
            auto *box = control<QComboBox>(dialog, name);
            ASSERT_NE(box, nullptr) << name;
            box->setCurrentIndex(box->findData(QLatin1String(value)));
        }
        button(dialog, QDialogButtonBox::Ok)->click();
        EXPECT_EQ(form.Label1->accessibleName(), chosen);
    }

    Form1 again(fake.platform);
    again.Form_Load();
    EXPECT_EQ(again.Label1->accessibleName(), chosen);
    PrintSettingsDialog *dialog = openDialog(again);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(control<QComboBox>(dialog, "Layout")->currentData(), QStringLiteral("handouts-6"));
    button(dialog, QDialogButtonBox::Cancel)->click();

    TempTree decks;
    again.queue().append(decks.file(QStringLiteral("Quarterly Review.pptx")));
    fake.office->shutdown(); // start-up's look for it left the simulated application running
    again.PushButton3->click();
    ASSERT_EQ(fake.office->printed().size(), 1);
    EXPECT_EQ(printSettingsSummary(fake.office->lastAsked()), chosen);

    // Back to each deck's own: stored empty, so a later start asks for nothing.
    dialog = openDialog(again);
    button(dialog, QDialogButtonBox::Reset)->click();
    button(dialog, QDialogButtonBox::Ok)->click();
    EXPECT_EQ(fake.settings->values.value(QStringLiteral("PrintLayout"), QStringLiteral("?")),
              QString());
}

TEST(PrintSettingsWindow, OnlyWhatThisSystemPrintsIsOfferedOrReadBack)
{
    FakePlatform fake;
    fake.office->refuses = refusedHere;
    // Stored: a value that reads, one that does not, one this system does not print.
    for (const auto &[key, value] :
         {std::pair{"PrintHiddenSlides", "no"}, {"PrintColor", "grey"}, {"PrintLayout", "outline"}})
        fake.settings->values.insert(QLatin1String(key), QLatin1String(value));
    Form1 form(fake.platform);
    form.Form_Load();
    EXPECT_EQ(form.Label1->accessibleName(), QStringLiteral("Print settings: hidden-slides no"));

    PrintSettingsDialog *dialog = openDialog(form);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(control<QComboBox>(dialog, "Layout")->findData(QStringLiteral("outline")), -1);
    EXPECT_EQ(control<QWidget>(dialog, "Sides"), nullptr);
    // Slides that do not read cannot be kept.
    QLineEdit *slides = control<QLineEdit>(dialog, "Slides");
    slides->setText(QStringLiteral("3-1"));
    EXPECT_FALSE(button(dialog, QDialogButtonBox::Ok)->isEnabled());
    slides->setText(QStringLiteral("1-3, 5"));
    EXPECT_TRUE(button(dialog, QDialogButtonBox::Ok)->isEnabled());
}
