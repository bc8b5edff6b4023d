// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/Form1.h"

#include "core/queue/QueueModel.h"
#include "gui/Handlers.h"
#include "gui/JobReports.h"
#include "gui/PrintSettingsChoice.h"
#include "gui/PrintSettingsDialog.h"
#include "gui/ProgressBar.h"
#include "gui/QueueView.h"
#include "gui/Samples.h"
#include "gui/StackedButton.h"
#include "platform/Logging.h"
#include "platform/Platform.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <utility>
#include <vector>

namespace deckrun {

namespace {

constexpr int TwipsPerPixel = 15;

QFont controlFont()
{
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(9);
    f.setBold(true);
    return f;
}

QFont buttonFont()
{
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(11.25);
    f.setBold(true);
    return f;
}

void paintWhite(QWidget *w, QPalette::ColorRole role = QPalette::Window)
{
    QPalette p = w->palette();
    p.setColor(role, Qt::white);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

} // namespace

Form1::Form1(Platform &platform, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_platform(platform), m_jobReports(new JobReports(platform, this))
{
    setObjectName(QStringLiteral("Form1"));
    platform.dialogs->setOwnerWindow(this); // every dialog is modal to the window, centred on it
    setWindowTitle(QStringLiteral("Form1"));
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        m_scale = std::max(1.0, screen->logicalDotsPerInch() / 96.0);
    setFont(controlFont());
    paintWhite(this);
    setFixedSize(twips(8040), twips(7065));
    createControls();
    wireEvents();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

Form1::~Form1() = default;

int Form1::twips(int value) const
{
    return qRound(value * m_scale / TwipsPerPixel);
}

void Form1::place(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

void Form1::createControls()
{
    auto button = [](QPushButton *b, const char *name, QWidget *container) {
        b->setParent(container);
        b->setObjectName(QLatin1String(name));
        b->setFont(buttonFont());
        paintWhite(b, QPalette::Button);
        b->setAutoDefault(false);
        return b;
    };

    PushButton6 = button(new QPushButton(QStringLiteral("Help")), "PushButton6", this);
    place(PushButton6, 120, 120, 7800, 405);

    m_queue = new QueueModel(this);
    ListView1 = new QueueView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setModel(m_queue);
    ListView1->setToolTip(QStringLiteral(
        "Drag and drop files here. Double-click item to remove it. Move | line to right "
        "and out of window to reveal full names."));
    place(ListView1, 120, 630, 6840, 2535);

    PushButton4 =
        button(new StackedButton(QStringLiteral("Move Up"), StackedButton::arrowIcon(true)),
               "PushButton4", this);
    place(PushButton4, 7080, 630, 840, 1215);
    PushButton5 =
        button(new StackedButton(QStringLiteral("Move Down"), StackedButton::arrowIcon(false)),
               "PushButton5", this);
    place(PushButton5, 7080, 1950, 840, 1215);

    PushButton1 =
        button(new QPushButton(QStringLiteral("Add PowerPoint File(s)")), "PushButton1", this);
    place(PushButton1, 120, 3250, 3840, 405);
    PushButton2 =
        button(new QPushButton(QStringLiteral("Add All File(s) In Folder")), "PushButton2", this);
    place(PushButton2, 4080, 3250, 3840, 405);
    PushButton7 = button(new QPushButton(QStringLiteral("Clear List")), "PushButton7", this);
    place(PushButton7, 120, 3760, 3840, 405);
    PushButton8 =
        button(new QPushButton(QStringLiteral("Load Sample/Example Files")), "PushButton8", this);
    place(PushButton8, 4080, 3760, 3840, 405);

    Frame1 = new QGroupBox(QStringLiteral("Select Printer"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    paintWhite(Frame1);
    place(Frame1, 120, 4220, 7800, 820);
    Combo1 = new QComboBox(Frame1);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    place(Combo1, 240, 300, 5100, 345);
    // The print settings go with the printer: the button beside its selector,
    // as "?" sits beside the pause, and what they are in the frame's title row.
    PushButton10 =
        button(new QPushButton(QStringLiteral("Print settings\u2026")), "PushButton10", Frame1);
    place(PushButton10, 5460, 300, 2100, 345);
    Label1 = new QLabel(Frame1);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont plain = controlFont();
    plain.setBold(false); // news, not a heading beside the frame's title
    Label1->setFont(plain);
    Label1->setAlignment(Qt::AlignCenter);
    paintWhite(Label1);
    setPrintSettings({});

    Frame2 = new QGroupBox(QStringLiteral("Pause Option"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    paintWhite(Frame2);
    place(Frame2, 120, 5130, 7800, 840);
    Combo2 = new QComboBox(Frame2);
    Combo2->setObjectName(QStringLiteral("Combo2"));
    place(Combo2, 240, 300, 6720, 345);
    PushButton9 = button(new QPushButton(QStringLiteral("?")), "PushButton9", Frame2);
    place(PushButton9, 7080, 300, 480, 345);

    PushButton3 = button(new QPushButton(QStringLiteral("Start Printing")), "PushButton3", this);
    place(PushButton3, 120, 6045, 7800, 405);

    ProgressBar1 = new ProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setText(QStringLiteral("Progress Bar"));
    place(ProgressBar1, 120, 6555, 7800, 405);

    // What a screen reader hears: the list by its column, each selector by its
    // frame's caption, the "?" button by what it explains; the buttons by their
    // captions and the progress bar by its text (ProgressBar keeps that current).
    ListView1->setAccessibleName(QStringLiteral("PowerPoint File(s)"));
    Combo1->setAccessibleName(Frame1->title());
    Combo2->setAccessibleName(Frame2->title());
    PushButton9->setAccessibleName(QStringLiteral("Pause Option Help"));

    // The tab order of the control table; frames and the progress bar take no focus.
    const std::vector<std::pair<int, QWidget *>> order = {
        {0, ListView1},   {1, PushButton4},  {2, PushButton5},   {3, PushButton1},
        {4, PushButton2}, {5, Combo1},       {15, PushButton10}, {6, PushButton3},
        {7, PushButton6}, {10, PushButton7}, {11, PushButton8},  {13, Combo2},
        {14, PushButton9}};
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1].second, order[i].second);
}

namespace {
// Handlers without an error report of their own let nothing escape into Qt:
// the window stays usable and the rows stay as they were.
template <typename F> auto guarded(F handler)
{
    return [handler](auto &&...args) -> decltype(handler(args...), void()) {
        try {
            handler(std::forward<decltype(args)>(args)...);
        } catch (const std::exception &e) {
            qCWarning(lcApp) << "handler failed, window kept as it was:" << e.what();
        }
    };
}
} // namespace

void Form1::wireEvents()
{
    connect(PushButton1, &QPushButton::clicked, this,
            guarded([this] { PushButton1_Click(*this); }));
    connect(PushButton2, &QPushButton::clicked, this,
            guarded([this] { PushButton2_Click(*this); }));
    connect(PushButton3, &QPushButton::clicked, this,
            guarded([this] { PushButton3_Click(*this); }));
    connect(PushButton4, &QPushButton::clicked, this,
            guarded([this] { PushButton4_Click(*this); }));
    connect(PushButton5, &QPushButton::clicked, this,
            guarded([this] { PushButton5_Click(*this); }));
    connect(PushButton6, &QPushButton::clicked, this,
            guarded([this] { PushButton6_Click(*m_platform.dialogs); }));
    connect(PushButton7, &QPushButton::clicked, this,
            guarded([this] { PushButton7_Click(*this); }));
    connect(PushButton8, &QPushButton::clicked, this,
            guarded([this] { PushButton8_Click(m_platform, *m_queue); }));
    connect(PushButton9, &QPushButton::clicked, this,
            guarded([this] { PushButton9_Click(*m_platform.dialogs); }));
    connect(PushButton10, &QPushButton::clicked, this,
            guarded([this] { PushButton10_Click(*this); }));

    connect(Combo1, &QComboBox::currentIndexChanged, this,
            guarded([this] { Combo1_Click(*m_platform.settings, *Combo1); }));
    connect(Combo2, &QComboBox::currentIndexChanged, this,
            guarded([this] { Combo2_Click(*m_platform.settings, *Combo2); }));
    connect(Combo2, &QComboBox::editTextChanged, this,
            guarded([this] { Combo2_Change(*m_platform.settings, *Combo2); }));

    connect(ListView1, &QueueView::keyDown, this, guarded([this](int key, Qt::KeyboardModifiers m) {
                ListView1_KeyDown(*this, key, m);
            }));
    connect(ListView1, &QueueView::dblClick, this, guarded([this] { ListView1_DblClick(*this); }));
    connect(ListView1, &QueueView::itemClick, this,
            guarded([this](const QModelIndex &item) { ListView1_ItemClick(*this, item); }));
    connect(ListView1, &QueueView::mouseDown, this,
            guarded([this](Qt::MouseButton b) { ListView1_MouseDown(*this, b); }));
    connect(ListView1, &QueueView::mouseMove, this, guarded([this](const QPoint &pos, int screenY) {
                ListView1_MouseMove(*this, pos, screenY);
            }));
    connect(ListView1, &QueueView::mouseUp, this,
            guarded([this](Qt::MouseButton b) { ListView1_MouseUp(*this, b); }));
    connect(ListView1, &QueueView::oleDragOver, this,
            guarded([this](QDragMoveEvent *e) { ListView1_OLEDragOver(*this, e); }));
    connect(ListView1, &QueueView::oleDragDrop, this,
            guarded([this](QDropEvent *e) { ListView1_OLEDragDrop(*this, e); }));

    // Mouse-move handlers of the window, the frames and the buttons.
    setMouseTracking(true);
    for (QWidget *w : {static_cast<QWidget *>(Frame1), static_cast<QWidget *>(Frame2)}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
    for (QPushButton *b : {PushButton1, PushButton2, PushButton3, PushButton4, PushButton5,
                           PushButton6, PushButton7, PushButton8, PushButton9, PushButton10}) {
        b->setMouseTracking(true);
        b->installEventFilter(this);
    }
    installEventFilter(this);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) {
        // A move that a control ignores travels on to its container; only the
        // widget right under the pointer counts, or the window would undo the
        // hand a button has just set.
        auto *widget = qobject_cast<QWidget *>(watched);
        if (event->type() == QEvent::MouseMove && widget &&
            widget->childAt(static_cast<QMouseEvent *>(event)->position().toPoint()))
            return QWidget::eventFilter(watched, event);
        if (watched == this)
            Form_MouseMove(*this);
        else if (watched == Frame1)
            Frame1_MouseMove(*this);
        else if (watched == Frame2)
            Frame2_MouseMove(*this);
        else if (qobject_cast<QPushButton *>(watched))
            PushButton_MouseMove(*this);
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::setMousePointer(int value)
{
    m_mousePointer = value;
    applyPointer();
}

void Form1::setMouseIcon(const QCursor &cursor)
{
    m_mouseIcon = cursor;
    applyPointer();
}

QString Form1::printerName() const
{
    return Combo1->currentText();
}

QString Form1::pauseText() const
{
    return Combo2->currentText();
}

void Form1::setPrintSettings(const PrintSettings &settings)
{
    m_printSettings = settings;
    const QString summary = printSettingsSummary(settings);
    // The whole line for the pointer and the screen reader, where the label shows less.
    Label1->setToolTip(summary);
    Label1->setAccessibleName(summary);
    placeSummary();
}

void Form1::placeSummary()
{
    const QFontMetrics fm(Label1->font());
    const int pad = twips(45);
    const int right = twips(7560); // the right edge of the controls below
    const int titleEnd =
        twips(240) + QFontMetrics(Frame1->font()).horizontalAdvance(Frame1->title());
    const int room = right - titleEnd - twips(240) - 2 * pad;
    const QString shown = fm.elidedText(Label1->toolTip(), Qt::ElideRight, room);
    Label1->setText(shown);
    // As wide as its text: the frame's border stays drawn beside it.
    const int width = fm.horizontalAdvance(shown) + 2 * pad;
    Label1->setGeometry(right - width, 0, width, fm.height() + 1);
}

void Form1::showBusy(bool busy)
{
    setMousePointer(busy ? pointer::Busy : pointer::Default);
}

void Form1::showPercent(int percent)
{
    ProgressBar1->setValue(percent);
}

void Form1::showText(const QString &text)
{
    ProgressBar1->setText(text);
}

void Form1::fileEnded(const FileOutcome &outcome)
{
    m_jobReports->follow(outcome);
}

void Form1::applyPointer()
{
    switch (m_mousePointer) {
    case pointer::Busy:
        setCursor(Qt::WaitCursor);
        break;
    case pointer::Custom:
        setCursor(m_mouseIcon ? *m_mouseIcon : QCursor(Qt::ArrowCursor));
        break;
    default:
        setCursor(Qt::ArrowCursor);
        break;
    }
}

void Form1::closeEvent(QCloseEvent *event)
{
    // Form_Unload: nothing is saved at exit, every choice was stored when made.
    event->accept();
    m_platform.program->endNow();
}

} // namespace deckrun
