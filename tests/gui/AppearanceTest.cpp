// SPDX-License-Identifier: GPL-3.0-or-later
// The window's look: skin and colours, the pointers over the controls, the
// hand cursor file and the title of message boxes without one of their own.

#include "gui/Form1.h"
#include "gui/Handlers.h"
#include "gui/ProgressBar.h"
#include "gui/QueueView.h"
#include "platform/qt/QtServices.h"
#include "support/FakePlatform.h"
#include "support/TempTree.h"

#include <QApplication>
#include <QComboBox>
#include <QEnterEvent>
#include <QFile>
#include <QGroupBox>
#include <QImageReader>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <gtest/gtest.h>

using namespace deckrun;
using namespace deckrun::test;

namespace {

// The desktop's button face for these tests: the classic grey, which no
// built-in style palette uses.
const QColor DesktopButtonFace(0xd4, 0xd0, 0xc8);

QColor buttonFace()
{
    return DesktopButtonFace;
}

/** Gives the application the desktop palette of the tests while it lives. */
class DesktopPalette {
public:
    DesktopPalette() : m_saved(QApplication::palette())
    {
        QPalette desktop = m_saved;
        desktop.setColor(QPalette::Button, DesktopButtonFace);
        QApplication::setPalette(desktop);
    }
    ~DesktopPalette() { QApplication::setPalette(m_saved); }
    DesktopPalette(const DesktopPalette &) = delete;
    DesktopPalette &operator=(const DesktopPalette &) = delete;

private:
    QPalette m_saved;
};

QColor background(const QWidget *w)
{
    return w->palette().color(QPalette::Window);
}

QByteArray shippedSkin()
{
    QFile f(QStringLiteral(DECKRUN_SOURCE_DIR "/dist/x/o.cjs"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

enum class Skin { Absent, Shipped, Folder, Empty, Binary, Unparsable, OtherName };

struct SkinCase {
    const char *name;
    Skin skin;
    bool painted;  // window and frames take the button-face colour
    bool applied;  // the style sheet is on the window
    bool reported; // step 100 is reported
    friend void PrintTo(const SkinCase &row, std::ostream *os) { *os << row.name; }
};

void lay(TempTree &program, Skin skin)
{
    switch (skin) {
    case Skin::Absent:
        break;
    case Skin::Shipped:
        program.file(QStringLiteral("x/o.cjs"), shippedSkin());
        break;
    case Skin::Folder:
        program.folder(QStringLiteral("x/o.cjs"));
        break;
    case Skin::Empty:
        program.file(QStringLiteral("x/o.cjs"), " \n");
        break;
    case Skin::Binary: {
        static const char png[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe"; // its bytes, no more
        program.file(QStringLiteral("x/o.cjs"), QByteArray(png, sizeof png - 1));
        break;
    }
    case Skin::Unparsable:
        program.file(QStringLiteral("x/o.cjs"),
                     "QPushButton { color: red; } }}} {{ QLabel { color:");
        break;
    case Skin::OtherName:
        program.file(QStringLiteral("x/o.cjs.bak"), shippedSkin());
        program.file(QStringLiteral("o.cjs"), shippedSkin());
        break;
    }
}

class SkinAndColours : public testing::TestWithParam<SkinCase> {};

// Rows go by their name in test listings; each prints as its name, never as bytes.
constexpr auto RowName = [](const auto &row) { return std::string(row.param.name); };

} // namespace

TEST_P(SkinAndColours, PaintsAndSkinsOnlyWithAUsableSkinFile)
{
    const SkinCase c = GetParam();
    ASSERT_FALSE(shippedSkin().isEmpty());
    const DesktopPalette desktop;
    TempTree program;
    lay(program, c.skin);
    FakePlatform fake;
    fake.program->folder = program.path();
    Form1 form(fake.platform);
    form.Form_Load();

    const QColor expected = c.painted ? buttonFace() : QColor(Qt::white);
    EXPECT_EQ(background(&form), expected);
    EXPECT_EQ(background(form.Frame1), expected);
    EXPECT_EQ(background(form.Frame2), expected);
    // The buttons keep their own white face under the skin's colours.
    EXPECT_EQ(form.PushButton1->palette().color(QPalette::Button), QColor(Qt::white));
    EXPECT_EQ(form.styleSheet().isEmpty(), !c.applied);

    const auto reports = fake.dialogs->reports();
    ASSERT_EQ(reports.size(), c.reported ? 1u : 0u);
    if (c.reported) {
        EXPECT_TRUE(reports[0].text.contains(
            QStringLiteral("in Tamberlin2021/08/31.Form1.Form_Load at line 100\r\r")));
    }
    // Start-up went on either way.
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Deckrun"));
    EXPECT_EQ(form.Combo2->currentIndex(), 5);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SkinAndColours,
    testing::Values(SkinCase{"Absent", Skin::Absent, false, false, false},
                    SkinCase{"Shipped", Skin::Shipped, true, true, false},
                    SkinCase{"FolderOfThatName", Skin::Folder, false, false, false},
                    SkinCase{"OnlyOtherNames", Skin::OtherName, false, false, false},
                    SkinCase{"Empty", Skin::Empty, true, false, true},
                    SkinCase{"Binary", Skin::Binary, true, false, true},
                    SkinCase{"Unparsable", Skin::Unparsable, true, false, true}),
    RowName);

TEST(SkinAndColours, ShippedSkinLeavesEveryCaptionRoom)
{
    // The skin draws its own frames and padding; the fixed layout must still
    // hold each caption in one line (two for the tall arrow buttons).
    TempTree program;
    lay(program, Skin::Shipped);
    FakePlatform fake;
    fake.program->folder = program.path();
    Form1 form(fake.platform);
    form.Form_Load();
    form.show();
    QCoreApplication::processEvents();
    for (QPushButton *b : form.findChildren<QPushButton *>()) {
        const QFontMetrics fm(b->font());
        const bool tall = b == form.PushButton4 || b == form.PushButton5;
        if (!tall) {
            EXPECT_LE(fm.horizontalAdvance(b->text()) + 10, b->width()) << b->text().toStdString();
            EXPECT_LE(fm.height() + 2, b->height()) << b->text().toStdString();
        }
    }
    for (QGroupBox *frame : {form.Frame1, form.Frame2}) {
        const QFontMetrics fm(frame->font());
        // The title stands above the selector inside the frame.
        EXPECT_LE(fm.height(), frame->findChild<QComboBox *>()->y() + 2)
            << frame->title().toStdString();
    }
}

// ---------------------------------------------------------------- pointers

namespace {

void hover(QWidget *w)
{
    const QPointF local(w->width() / 2.0, w->height() / 2.0);
    const QPointF global = w->mapToGlobal(local);
    QEnterEvent enter(local, local, global);
    QApplication::sendEvent(w, &enter);
    QMouseEvent move(QEvent::MouseMove, local, local, global, Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(w, &move);
}

struct LoadedForm {
    LoadedForm()
    {
        fake.program->folder = QStringLiteral(DECKRUN_PROGRAM_DIR); // with our HAND-M.CUR
        form.Form_Load();
    }
    FakePlatform fake;
    Form1 form{fake.platform};

    std::vector<QWidget *> buttons()
    {
        return {form.PushButton1, form.PushButton2, form.PushButton3,
                form.PushButton4, form.PushButton5, form.PushButton6,
                form.PushButton7, form.PushButton8, form.PushButton9};
    }
    std::vector<QWidget *> background() { return {form.Frame1, form.Frame2, &form}; }
};

} // namespace

TEST(Pointers, HandOverEveryButtonArrowOverBackgroundAndFrames)
{
    LoadedForm f;
    ASSERT_TRUE(f.form.hasMouseIcon());
    for (QWidget *button : f.buttons()) {
        for (QWidget *elsewhere : f.background()) {
            hover(button);
            EXPECT_EQ(f.form.mousePointer(), pointer::Custom) << button->objectName().toStdString();
            // The button shows the window's pointer: the hand picture.
            EXPECT_EQ(button->cursor().shape(), Qt::BitmapCursor)
                << button->objectName().toStdString();
            hover(elsewhere);
            EXPECT_EQ(f.form.mousePointer(), pointer::Default)
                << elsewhere->objectName().toStdString();
            EXPECT_EQ(button->cursor().shape(), Qt::ArrowCursor);
            EXPECT_EQ(elsewhere->cursor().shape(), Qt::ArrowCursor);
        }
    }
}

TEST(Pointers, HourglassStaysWhileBusy)
{
    LoadedForm f;
    f.form.setMousePointer(pointer::Busy);
    std::vector<QWidget *> all = f.buttons();
    for (QWidget *w : f.background())
        all.push_back(w);
    for (QWidget *w : all) {
        hover(w);
        EXPECT_EQ(f.form.mousePointer(), pointer::Busy) << w->objectName().toStdString();
        EXPECT_EQ(w->cursor().shape(), Qt::WaitCursor) << w->objectName().toStdString();
    }
    f.form.setMousePointer(pointer::Default);
    hover(f.form.PushButton3);
    EXPECT_EQ(f.form.mousePointer(), pointer::Custom);
}

TEST(Pointers, SelectorsAndProgressBarKeepTheLastPointer)
{
    LoadedForm f;
    for (QWidget *w : {static_cast<QWidget *>(f.form.Combo1), static_cast<QWidget *>(f.form.Combo2),
                       static_cast<QWidget *>(f.form.ProgressBar1)}) {
        hover(f.form.PushButton1);
        hover(w);
        EXPECT_EQ(f.form.mousePointer(), pointer::Custom) << w->objectName().toStdString();
    }
}

TEST(Pointers, NoControlHidesTheWindowPointer)
{
    // Every control shows the window's pointer; one with a cursor of its own
    // would hide the hand or the hourglass.
    LoadedForm f;
    f.form.show();
    QCoreApplication::processEvents();
    for (QWidget *w : f.form.findChildren<QWidget *>())
        EXPECT_FALSE(w->testAttribute(Qt::WA_SetCursor))
            << w->metaObject()->className() << " " << w->objectName().toStdString();
}

TEST(Pointers, WithoutTheCursorFileTheHandIsAnArrow)
{
    TempTree program;
    FakePlatform fake;
    fake.program->folder = program.path();
    Form1 form(fake.platform);
    form.Form_Load();
    hover(form.PushButton1);
    EXPECT_EQ(form.mousePointer(), pointer::Custom);
    EXPECT_EQ(form.PushButton1->cursor().shape(), Qt::ArrowCursor);
}

// ---------------------------------------------------------------- cursor files

namespace {
struct CursorFileCase {
    const char *name;
    const char *file;
    QByteArray format;
    friend void PrintTo(const CursorFileCase &row, std::ostream *os) { *os << row.name; }
};
class ShippedPointer : public testing::TestWithParam<CursorFileCase> {};

struct BadCursorCase {
    const char *name;
    QByteArray content;
    friend void PrintTo(const BadCursorCase &row, std::ostream *os) { *os << row.name; }
};
class BadCursorFile : public testing::TestWithParam<BadCursorCase> {};
} // namespace

TEST_P(ShippedPointer, IsARealWindowsFile)
{
    const CursorFileCase &c = GetParam();
    QImageReader reader(QStringLiteral(DECKRUN_PROGRAM_DIR "/") + QLatin1String(c.file));
    reader.setAutoDetectImageFormat(false);
    reader.setFormat(c.format);
    const QImage image = reader.read();
    ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();
    EXPECT_EQ(image.size(), QSize(32, 32));
    EXPECT_TRUE(image.hasAlphaChannel());
}

INSTANTIATE_TEST_SUITE_P(CursorFiles, ShippedPointer,
                         testing::Values(CursorFileCase{"Hand", "HAND-M.CUR", "cur"},
                                         CursorFileCase{"Drag", "drag.ico", "ico"}),
                         [](const testing::TestParamInfo<CursorFileCase> &row) {
                             return std::string(row.param.name);
                         });

TEST(CursorFiles, TheShippedHandPointsWithItsFingertip)
{
    const QCursor hand = LoadCursorFile(QStringLiteral(DECKRUN_PROGRAM_DIR "/HAND-M.CUR"));
    EXPECT_EQ(hand.shape(), Qt::BitmapCursor);
    EXPECT_EQ(hand.pixmap().size(), QSize(32, 32));
    // The hotspot is the fingertip: an outline pixel on the top row.
    const QImage picture = hand.pixmap().toImage();
    EXPECT_EQ(hand.hotSpot().y(), 0);
    EXPECT_EQ(qAlpha(picture.pixel(hand.hotSpot())), 255);
    EXPECT_GT(hand.hotSpot().x(), 0);
}

TEST(CursorFiles, PicturesOfOtherFormatsPointWithTheirCorner)
{
    TempTree dir;
    QImage png(24, 24, QImage::Format_ARGB32);
    png.fill(Qt::black);
    ASSERT_TRUE(png.save(dir.at(QStringLiteral("HAND-M.CUR")), "PNG"));
    const QCursor cursor = LoadCursorFile(dir.at(QStringLiteral("HAND-M.CUR")));
    EXPECT_EQ(cursor.hotSpot(), QPoint(0, 0));
    EXPECT_EQ(cursor.pixmap().size(), QSize(24, 24));
}

TEST_P(BadCursorFile, FailsWith481)
{
    TempTree dir;
    const QString path = dir.file(QStringLiteral("bad.cur"), GetParam().content);
    try {
        LoadCursorFile(path);
        ADD_FAILURE() << "read " << GetParam().content.toHex().toStdString();
    } catch (const Failure &failure) {
        EXPECT_EQ(failure.code(), 481);
    }
}

INSTANTIATE_TEST_SUITE_P(
    CursorFiles, BadCursorFile,
    testing::Values(BadCursorCase{"Empty", QByteArray()},
                    BadCursorCase{"NotAPicture", QByteArray("not a picture")},
                    BadCursorCase{"HeaderAlone", QByteArray("\0\0\2\0\1\0 \0\0\0\1\0\1\0", 14)}),
    RowName);

// ---------------------------------------------------------------- title

TEST(ApplicationTitleShown, MessageBoxesWithoutTitleCarryIt)
{
    struct Case {
        QString given;
        QString shown;
    };
    QtDialogs dialogs;
    dialogs.setApplicationTitle(ApplicationTitle(QStringLiteral("Deckrun")));
    for (const Case &c :
         {Case{QString(), QStringLiteral("Deckrun")},
          Case{QStringLiteral("Application Error"), QStringLiteral("Application Error")}}) {
        QString seen;
        QTimer closer;
        closer.setInterval(5);
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                seen = box->windowTitle();
                box->accept();
            }
        });
        closer.start();
        dialogs.messageBox(QStringLiteral("text"), c.given, Buttons::Ok, Icon::None);
        closer.stop();
        EXPECT_EQ(seen, c.shown);
    }
}
