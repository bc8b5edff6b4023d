// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The main window. Form1 owns the controls under their given names, lays
// them out from the control table and forwards every event to the handler of
// its subsystem (queue/, printing/, samples/, app/). The subsystems reach the
// window only through the small interfaces it implements (QueueWindow,
// PrintWindow); it keeps the window pointer and IsPrinting.

#include "gui/PrintingHandlers.h"
#include "gui/QueueHandlers.h"

#include <QCursor>
#include <QWidget>

#include <optional>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QProgressBar;

namespace deckrun {

struct Platform;
class QueueModel;
class QueueView;
class ProgressBar;
class JobReports;

class Form1 final : public QWidget, public QueueWindow, public PrintWindow {
    Q_OBJECT

public:
    explicit Form1(Platform &platform, QWidget *parent = nullptr);
    ~Form1() override;

    Platform &platform() override { return m_platform; }

    // The controls, by their given names.
    QPushButton *PushButton1 = nullptr;
    QPushButton *PushButton2 = nullptr;
    QPushButton *PushButton3 = nullptr;
    QPushButton *PushButton4 = nullptr;
    QPushButton *PushButton5 = nullptr;
    QPushButton *PushButton6 = nullptr;
    QPushButton *PushButton7 = nullptr;
    QPushButton *PushButton8 = nullptr;
    QPushButton *PushButton9 = nullptr;
    QPushButton *PushButton10 = nullptr; // "Print settings…", beside the printer
    QueueView *ListView1 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QComboBox *Combo1 = nullptr;
    QComboBox *Combo2 = nullptr;
    ProgressBar *ProgressBar1 = nullptr;
    QLabel *Label1 = nullptr; // the print settings in one line, over the printer

    QueueModel &queue() override { return *m_queue; }
    QueueView &queueList() override { return *ListView1; }

    /** The window pointer: 0 arrow, 11 hourglass (busy), 99 the custom icon. */
    int mousePointer() const override { return m_mousePointer; }
    void setMousePointer(int value) override;
    /** The custom pointer shown for value 99 (the hand cursor once loaded). */
    void setMouseIcon(const QCursor &cursor);
    bool hasMouseIcon() const { return m_mouseIcon.has_value(); }

    bool IsPrinting = false;
    bool &printingFlag() override { return IsPrinting; }

    // What a print run reads and shows: the selectors and the progress bar.
    QString printerName() const override;
    QString pauseText() const override;
    PrintSettings printSettings() const override { return m_printSettings; }
    /** Takes the print settings "Start Printing" uses, and shows them in Label1. */
    void setPrintSettings(const PrintSettings &settings);
    void showBusy(bool busy) override;
    void showPercent(int percent) override;
    void showText(const QString &text) override;
    /** A printed file's job is followed while the window is open. */
    void fileEnded(const FileOutcome &outcome) override;
    /** What became of the jobs printed, asked now (a timer asks every few seconds). */
    JobReports &jobReports() { return *m_jobReports; }

    /** Runs the start-up sequence; the caller shows the window afterwards. */
    void Form_Load();
    /** Pixels for a length in twips, at this screen's DPI. */
    int twips(int value) const;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void place(QWidget *w, int left, int top, int width, int height);
    void wireEvents();
    void applyPointer();
    /** Label1 as wide as its text, right-aligned in the title row of Frame1. */
    void placeSummary();

    Platform &m_platform;
    QueueModel *m_queue = nullptr;
    JobReports *m_jobReports = nullptr;
    int m_mousePointer = pointer::Default;
    std::optional<QCursor> m_mouseIcon;
    double m_scale = 1.0;
    PrintSettings m_printSettings;
};

} // namespace deckrun
