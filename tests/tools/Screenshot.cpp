// SPDX-License-Identifier: GPL-3.0-or-later
// Saves a picture of the main window for the documentation, built from the
// test doubles so no presentation application or printer is needed.
//
//     deckrun_screenshot OUT.png [--skin] [--busy] [--hand]
//
// --skin  lays the shipped skin beside the program, as an install does
// --busy  shows the window in the middle of a print run
// --hand  draws the hand pointer over "Add PowerPoint File(s)" (screen grabs
//         leave the pointer out)
// --watch keeps the window open for ten seconds and prints, at every change,
//         the window pointer and the cursor of the widget under the mouse
//         (to check the pointers with a real mouse or xdotool)

#include "core/queue/QueueModel.h"
#include "gui/Form1.h"
#include "gui/Handlers.h"
#include "gui/ProgressBar.h"
#include "gui/QueueView.h"
#include "support/FakePlatform.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

using namespace deckrun;

namespace {

bool copyBeside(const QString &name, const QString &folder)
{
    const QString from = QStringLiteral(DECKRUN_PROGRAM_DIR "/") + name;
    const QString to = folder + QLatin1Char('/') + name;
    QDir().mkpath(QFileInfo(to).path());
    return QFile::copy(from, to);
}

void settle()
{
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty() || args.first().startsWith(QLatin1String("--"))) {
        std::fputs("usage: deckrun_screenshot OUT.png [--skin] [--busy] [--hand]\n", stderr);
        return 2;
    }
    const QString out = args.first();
    const bool skin = args.contains(QStringLiteral("--skin"));
    const bool busy = args.contains(QStringLiteral("--busy"));
    const bool hand = args.contains(QStringLiteral("--hand"));
    const bool watch = args.contains(QStringLiteral("--watch"));

    QTemporaryDir program;
    if (!program.isValid() || !copyBeside(QStringLiteral("HAND-M.CUR"), program.path()) ||
        (skin && !(copyBeside(QStringLiteral("x/o.cjs"), program.path()) &&
                   copyBeside(QStringLiteral("x/down.png"), program.path())))) {
        std::fputs("the files beside the program are missing; build the deckrun_dist target\n",
                   stderr);
        return 1;
    }

    test::FakePlatform fake;
    fake.program->folder = program.path();
    fake.printers->names = {QStringLiteral("Office Laser (2nd floor)"), QStringLiteral("PDF")};
    fake.printers->defaultName = QStringLiteral("Office Laser (2nd floor)");
    Form1 form(fake.platform);
    form.Form_Load();
    if (form.Combo1->count() == 0) { // until the printer list fills itself
        form.Combo1->addItems(fake.printers->names);
        form.Combo1->setCurrentIndex(0);
    }

    const QString home = QStringLiteral("/home/maria/Presentations/");
    for (const char *name : {"2024 Q3 Quarterly Review.pptx", "Board Meeting - Budget.ppt",
                             "Onboarding/Welcome to the Team.pptx", "Onboarding/Safety Basics.pptx",
                             "Product Roadmap 2025.odp"})
        form.queue().append(home + QString::fromUtf8(name));

    if (busy) {
        form.setMousePointer(pointer::Busy);
        form.IsPrinting = true;
        form.ProgressBar1->setValue(40);
        form.ProgressBar1->setText(QStringLiteral("Processing: Board Meeting - Budget.ppt"));
        form.ListView1->selectionModel()->setCurrentIndex(form.queue().index(1, 0),
                                                          QItemSelectionModel::ClearAndSelect);
    }

    form.show();
    settle();
    if (watch) {
        std::printf("window at %d %d\n", form.geometry().x(), form.geometry().y());
        std::fflush(stdout);
        QString last;
        for (int i = 0; i < 200; ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(50);
            const QWidget *under = QApplication::widgetAt(QCursor::pos());
            const QString now = QStringLiteral("pointer %1 over %2 cursor shape %3")
                                    .arg(form.mousePointer())
                                    .arg(under ? under->objectName() + QLatin1Char('/') +
                                                     QLatin1String(under->metaObject()->className())
                                               : QStringLiteral("-"))
                                    .arg(under ? int(under->cursor().shape()) : -1);
            if (now != last)
                std::printf("%s\n", qPrintable(last = now));
            std::fflush(stdout);
        }
    }
    QImage shot = form.grab().toImage();

    if (hand) {
        const QCursor cursor = LoadCursorFile(program.filePath(QStringLiteral("HAND-M.CUR")));
        const QPoint tip = form.PushButton1->geometry().center() + QPoint(100, 4);
        QPainter p(&shot);
        p.drawPixmap(tip - cursor.hotSpot(), cursor.pixmap());
    }

    if (!shot.save(out)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
        return 1;
    }
    return 0;
}
