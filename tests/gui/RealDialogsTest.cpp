// SPDX-License-Identifier: GPL-3.0-or-later
// The real Qt dialogs behind the dialog seam: each is opened through
// QtDialogs as the program opens it, found on the screen, filled in and
// accepted the way a user would.

#include "core/common/ErrorReport.h"
#include "core/queue/QueueModel.h"
#include "gui/Form1.h"
#include "platform/qt/QtServices.h"
#include "support/FakePlatform.h"
#include "support/TempTree.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace deckrun;
using namespace deckrun::test;

namespace {

/** Acts on the first visible dialog of type D as soon as it shows. */
template <typename D> class WhenShown {
public:
    explicit WhenShown(std::function<void(D *)> act) : m_act(std::move(act))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *dialog = qobject_cast<D *>(w);
                if (dialog && dialog->isVisible()) {
                    m_timer.stop();
                    m_seen = true;
                    m_act(dialog);
                    return;
                }
            }
        });
        m_timer.start();
    }
    bool seen() const { return m_seen; }

private:
    std::function<void(D *)> m_act;
    QTimer m_timer;
    bool m_seen = false;
};

bool waitFor(const std::function<bool()> &condition)
{
    QDeadlineTimer deadline(5000);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

/** The names the dialog lists in its current folder. */
QStringList listed(QFileDialog *dialog)
{
    auto *model = dialog->findChild<QFileSystemModel *>();
    if (!model)
        return {};
    const QModelIndex folder = model->index(dialog->directory().absolutePath());
    QStringList names;
    for (int i = 0; i < model->rowCount(folder); ++i)
        names << model->fileName(model->index(i, 0, folder));
    names.sort();
    return names;
}

/** Presses the dialog's "Open" button, as the user does after typing. */
void clickOpen(QFileDialog *dialog)
{
    QPushButton *open = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
                            ->button(QDialogButtonBox::Open);
    if (!open->isEnabled()) {
        ADD_FAILURE() << "\"Open\" stays disabled for "
                      << dialog->findChild<QLineEdit *>()->text().toStdString();
        dialog->reject();
        return;
    }
    QTest::mouseClick(open, Qt::LeftButton);
}

/** The program's window with the real dialogs in place of the scripted ones. */
struct WindowWithRealDialogs {
    WindowWithRealDialogs()
    {
        fake.platform.dialogs = std::make_unique<QtDialogs>();
        fake.dialogs = nullptr; // gone with the swap
        form = std::make_unique<Form1>(fake.platform);
        form->Form_Load();
        form->show();
        QCoreApplication::processEvents();
    }
    Dialogs &dialogs() { return *fake.platform.dialogs; }

    FakePlatform fake;
    std::unique_ptr<Form1> form;
};

// R/a.ppt, R/b.ppt, R/c.pptx, R/README, R/B/b.ppt
void buildDecks(TempTree &tree)
{
    for (const char *f : {"R/a.ppt", "R/b.ppt", "R/c.pptx", "R/README", "R/B/b.ppt"})
        tree.file(QString::fromLatin1(f));
}

} // namespace

namespace {
struct PickCase {
    const char *name;
    const char *typed; // in the dialog's name box, the folder R open; nullptr: clicked
    QStringList rows;  // below R
    friend void PrintTo(const PickCase &row, std::ostream *os) { *os << row.name; }
};
class PickedFiles : public testing::TestWithParam<PickCase> {};
} // namespace

TEST_P(PickedFiles, AreQueuedEachWithItsOwnPath)
{
    const PickCase &c = GetParam();
    TempTree tree;
    buildDecks(tree);
    const QString folder = tree.at(QStringLiteral("R"));
    WindowWithRealDialogs w;
    QWidget *parent = nullptr;
    WhenShown<QFileDialog> pick([&](QFileDialog *dialog) {
        parent = dialog->parentWidget();
        dialog->setDirectory(folder);
        waitFor([&] { return listed(dialog).contains(QStringLiteral("a.ppt")); });
        if (c.typed) {
            // Typed key by key, as the dialog's completion sees a user type.
            QLineEdit *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            name->setFocus();
            QTest::keyClicks(name, QString::fromUtf8(c.typed));
        } else {
            auto *list = dialog->findChild<QListView *>(QStringLiteral("listView"));
            auto *model = dialog->findChild<QFileSystemModel *>();
            Qt::KeyboardModifiers held = Qt::NoModifier;
            for (const QString &row : c.rows) {
                const QRect place = list->visualRect(model->index(folder + row));
                QTest::mouseClick(list->viewport(), Qt::LeftButton, held, place.center());
                held = Qt::ControlModifier;
            }
        }
        clickOpen(dialog);
    });
    w.form->PushButton1->click();
    ASSERT_TRUE(pick.seen());
    EXPECT_EQ(parent, w.form.get());
    QStringList expected;
    for (const QString &row : c.rows)
        expected << folder + row;
    EXPECT_EQ(w.form->queue().rows().join(QLatin1Char('|')).toStdString(),
              expected.join(QLatin1Char('|')).toStdString());
}

INSTANTIATE_TEST_SUITE_P(RealFileDialog, PickedFiles,
                         testing::Values(
                             // Two folders: never R/b.ppt, the other file of that name.
                             PickCase{"TwoFolders", R"("a.ppt" "B/b.ppt")", {"/a.ppt", "/B/b.ppt"}},
                             PickCase{"OneFolder", R"("c.pptx" "a.ppt")", {"/c.pptx", "/a.ppt"}},
                             PickCase{"OneFile", R"(B/b.ppt)", {"/B/b.ppt"}},
                             // Picked with the mouse in the list, Ctrl held for the second.
                             PickCase{"ClickedInTheList", nullptr, {"/c.pptx", "/a.ppt"}}),
                         [](const testing::TestParamInfo<PickCase> &row) {
                             return std::string(row.param.name);
                         });

TEST(RealFileDialog, AllFilesListsEveryName)
{
    TempTree tree;
    buildDecks(tree);
    const QString folder = tree.at(QStringLiteral("R"));
    QtDialogs dialogs;
    QStringList filters, pptListing, allListing;
    WhenShown<QFileDialog> browse([&](QFileDialog *dialog) {
        dialog->setDirectory(folder);
        auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        for (int i = 0; i < types->count(); ++i)
            filters << types->itemText(i);
        waitFor([&] { return listed(dialog).contains(QStringLiteral("a.ppt")); });
        pptListing = listed(dialog);
        // The user picks the second entry of the file-type list.
        types->setFocus();
        QTest::keyClick(types, Qt::Key_Down);
        waitFor([&] { return listed(dialog).contains(QStringLiteral("README")); });
        allListing = listed(dialog);
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
            ->setText(QStringLiteral("README"));
        clickOpen(dialog);
    });
    FileDialogRequest request;
    request.title = QStringLiteral("Add File(s) - Hold Ctrl to select multiple files");
    request.filter = QStringLiteral("PowerPoint Files (*.p*)|*.p*|All Files (*.*)|*.*|");
    const FileDialogResult result = dialogs.openFiles(request);
    ASSERT_TRUE(browse.seen());
    // The names read as given; the patterns are Qt's own matter.
    EXPECT_EQ(filters, (QStringList{"PowerPoint Files (*.p*)", "All Files (*.*)"}));
    EXPECT_EQ(pptListing, (QStringList{"B", "a.ppt", "b.ppt", "c.pptx"}));
    EXPECT_EQ(allListing, (QStringList{"B", "README", "a.ppt", "b.ppt", "c.pptx"}));
    EXPECT_EQ(result.names, QStringList{folder + QStringLiteral("/README")});
}

namespace {
// A report about a file whose name looks like markup.
const QString Report =
    ErrorReportText(QStringLiteral("Cannot open /home/u/<b>decks</b>/a.ppt"),
                    QStringLiteral("in Tamberlin2021/08/31.Form1.PushButton3_Click "), 120);
const QString Prompt = QStringLiteral("Enter file extension to load:\r\r(* for <i>all</i> files)");

struct OwnedCase {
    const char *name;
    void (*open)(Dialogs &);
    QString text; // the text shown, markup and all; empty: none to look at
    friend void PrintTo(const OwnedCase &row, std::ostream *os) { *os << row.name; }
};
class OwnedDialog : public testing::TestWithParam<OwnedCase> {};
} // namespace

TEST_P(OwnedDialog, IsPlainTextModalToTheWindowAndCentredOnIt)
{
    const OwnedCase &c = GetParam();
    ASSERT_EQ(QtDialogs::displayText(Report).count(QLatin1Char('\n')), 3);
    WindowWithRealDialogs w;
    // Away from the middle of the screen, where a dialog without an owner would stand.
    w.form->move(w.form->screen()->geometry().topLeft() + QPoint(200, 100));
    QCoreApplication::processEvents();
    QWidget *parent = nullptr;
    Qt::WindowModality modality = Qt::NonModal;
    QPoint centreOffset;
    QStringList texts;
    QList<Qt::TextFormat> formats;
    WhenShown<QDialog> close([&](QDialog *dialog) {
        parent = dialog->parentWidget();
        modality = dialog->windowModality();
        centreOffset = dialog->frameGeometry().center() - w.form->frameGeometry().center();
        for (QLabel *label : dialog->findChildren<QLabel *>()) {
            if (label->text().contains(QLatin1String("<"))) {
                texts << label->text();
                formats << label->textFormat();
            }
        }
        dialog->reject();
    });
    c.open(w.dialogs());
    ASSERT_TRUE(close.seen());
    EXPECT_EQ(parent, w.form.get());
    EXPECT_NE(modality, Qt::NonModal);
    EXPECT_LE(centreOffset.manhattanLength(), 2) << centreOffset.x() << "," << centreOffset.y();
    if (!c.text.isEmpty()) {
        // Shown byte for byte, line breaks and all, never as markup.
        EXPECT_EQ(texts, QStringList{c.text});
        EXPECT_EQ(formats, QList<Qt::TextFormat>{Qt::PlainText});
    }
}

INSTANTIATE_TEST_SUITE_P(
    RealDialogs, OwnedDialog,
    testing::Values(
        OwnedCase{"MessageBox",
                  [](Dialogs &d) {
                      d.messageBox(Report, QStringLiteral("Application Error"), Buttons::Ok,
                                   Icon::Warning);
                  },
                  QtDialogs::displayText(Report)},
        OwnedCase{"InputBox",
                  [](Dialogs &d) { d.inputBox(Prompt, QString(), QStringLiteral("ppt")); },
                  QtDialogs::displayText(Prompt)},
        OwnedCase{"FileDialog", [](Dialogs &d) { d.openFiles(FileDialogRequest{}); }, QString()},
        OwnedCase{"FolderBrowser",
                  [](Dialogs &d) {
                      d.browseForFolder(QStringLiteral("Please select folder:"), QString());
                  },
                  QString()}),
    [](const testing::TestParamInfo<OwnedCase> &row) { return std::string(row.param.name); });
