// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up sequence of the main window. Every step runs under the error
// report with the step number the report quotes; a failing step is reported
// and start-up goes on with the next one, so the window always opens unless
// the presentation application is missing.

#include "core/common/ErrorReport.h"
#include "core/queue/QueueModel.h"
#include "gui/Form1.h"
#include "gui/Handlers.h"
#include "gui/QueueView.h"
#include "platform/Failure.h"
#include "platform/Platform.h"

#include <QComboBox>
#include <QHeaderView>

namespace deckrun {

namespace {
constexpr auto ProductName = "Deckrun";
constexpr auto HomePage = DECKRUN_HOME_PAGE; // the build option of that name
} // namespace

void Form1::Form_Load()
{
    Platform &p = m_platform;
    StepRunner r(*p.dialogs, FormLocation("Form_Load"));
    const QString sep(pathSeparator());

    r.step(100, [&] { ApplySkinAndColours(*this); });

    QString cursorPath;
    // A failing presence test counts as passed: the cursor is loaded (and reported) anyway.
    const bool cursorPresent = r.passes(102, [&] {
        cursorPath = p.program->programFolder() + sep + QStringLiteral("HAND-M.CUR");
        return p.files->fileIsPresent(cursorPath);
    });
    if (cursorPresent) {
        r.step(104, [&] { setMouseIcon(LoadCursorFile(cursorPath)); });
    }

    // The home page on about one start in a hundred; never waited for.
    r.step(106, [&] {
        const int draw = static_cast<int>(p.events->randomNumber() * 100) + 1;
        if (draw == 7)
            p.shell->openUrl(QUrl(QLatin1String(HomePage)));
    });

    r.step(130, [&] {
        setWindowTitle(QLatin1String(ProductName));
        setWindowIcon(applicationIcon());
        p.dialogs->setApplicationTitle(ApplicationTitle(QLatin1String(ProductName)));
    });
    r.step(132, [&] { m_queue->setColumnHeader(QStringLiteral("PowerPoint File(s)")); });
    r.step(134, [&] { ListView1->header()->resizeSection(0, twips(6500)); });
    r.step(136, [&] { FillPrinterList(p, *Combo1); });

    FillPauseList(*p.settings, *Combo2, r); // steps 140 and 144
    r.step(146, [&] { CheckPowerPointInstalled(p); });
}

} // namespace deckrun
