// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader hears: every control of the window has a name that
// says what it is, read through Qt's accessibility interface.

#include "gui/Form1.h"
#include "gui/ProgressBar.h"
#include "gui/QueueView.h"
#include "support/FakePlatform.h"

#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {

QAccessibleInterface *accessible(QObject *object)
{
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(object);
    EXPECT_NE(a, nullptr) << object->objectName().toStdString();
    return a;
}

/**
 * What a screen reader announces a control by: its name; for a drop-down list
 * whose name is its current choice (Qt on Linux), the control that labels it
 * (AT-SPI's "labelled by", here the frame around it).
 */
QString spokenName(QAccessibleInterface *a)
{
    const QString name = a->text(QAccessible::Name);
    if (a->role() != QAccessible::ComboBox || name != a->text(QAccessible::Value))
        return name;
    const auto labels = a->relations(QAccessible::Label);
    return labels.isEmpty() || !labels.first().first
               ? QString()
               : labels.first().first->text(QAccessible::Name);
}

} // namespace

TEST(Accessibility, EveryControlSaysWhatItIs)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    form.Form_Load();
    form.show();
    struct Case {
        QWidget *control;
        QAccessible::Role role;
        const char *name;
    };
    const Case cases[] = {
        {form.ListView1, QAccessible::Tree, "PowerPoint File(s)"},
        {form.Combo1, QAccessible::ComboBox, "Select Printer"},
        {form.Combo2, QAccessible::ComboBox, "Pause Option"},
        {form.ProgressBar1, QAccessible::ProgressBar, "Progress Bar"},
        {form.Frame1, QAccessible::Grouping, "Select Printer"},
        {form.Frame2, QAccessible::Grouping, "Pause Option"},
        {form.PushButton1, QAccessible::Button, "Add PowerPoint File(s)"},
        {form.PushButton2, QAccessible::Button, "Add All File(s) In Folder"},
        {form.PushButton3, QAccessible::Button, "Start Printing"},
        {form.PushButton4, QAccessible::Button, "Move Up"},
        {form.PushButton5, QAccessible::Button, "Move Down"},
        {form.PushButton6, QAccessible::Button, "Help"},
        {form.PushButton7, QAccessible::Button, "Clear List"},
        {form.PushButton8, QAccessible::Button, "Load Sample/Example Files"},
        {form.PushButton9, QAccessible::Button, "Pause Option Help"},
        {form.PushButton10, QAccessible::Button, "Print settings\u2026"},
        {form.Label1, QAccessible::StaticText, "Print settings: as each deck says"},
    };
    for (const Case &c : cases) {
        QAccessibleInterface *a = accessible(c.control);
        ASSERT_NE(a, nullptr);
        const std::string label = c.control->objectName().toStdString();
        EXPECT_EQ(a->role(), c.role) << label;
        EXPECT_EQ(spokenName(a), QString::fromUtf8(c.name)) << label;
        EXPECT_EQ(c.control->accessibleName().isEmpty() ? a->text(QAccessible::Name)
                                                        : c.control->accessibleName(),
                  QString::fromUtf8(c.name))
            << label;
    }
    // A selector's value is its choice; the name stays what the selector is.
    EXPECT_EQ(accessible(form.Combo2)->text(QAccessible::Value), QStringLiteral("5 seconds"));

    // Every control of the window is among the cases: none is left nameless.
    QAccessibleInterface *window = accessible(&form);
    EXPECT_EQ(window->text(QAccessible::Name), QStringLiteral("Deckrun"));
    std::function<void(QAccessibleInterface *)> visit = [&](QAccessibleInterface *a) {
        for (int i = 0; i < a->childCount(); ++i) {
            QAccessibleInterface *child = a->child(i);
            auto *w = child ? qobject_cast<QWidget *>(child->object()) : nullptr;
            if (!w || w->objectName().isEmpty())
                continue; // rows, header cells and a selector's own drop-down list
            EXPECT_FALSE(spokenName(child).isEmpty()) << w->objectName().toStdString();
            visit(child);
        }
    };
    visit(window);
}

// The progress bar's name follows its text through a print run.
TEST(Accessibility, ProgressBarIsNamedByItsText)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    form.show();
    for (const QString &text :
         {QStringLiteral("Processing: Quarterly Review.pptx"), QStringLiteral("100% of 3 <done>"),
          QStringLiteral("Progress Bar")}) {
        form.ProgressBar1->setText(text);
        EXPECT_EQ(accessible(form.ProgressBar1)->text(QAccessible::Name), text);
    }
}
