// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up sequence of the main window. Every step runs under the error
// report with the step number the report quotes; a failing step is reported
// and start-up goes on with the next one, so the window always opens unless
// the presentation application is missing.

#include "core/common/ErrorReport.h"
#include "core/queue/QueueModel.h"
#include "gui/Form1.h"
#include "gui/Handlers.h"
#include "gui/PrintSettingsChoice.h"
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
    Platform &platform = m_platform;
    StepRunner steps(*platform.dialogs, FormLocation("Form_Load"));
    const QString sep(pathSeparator());

    steps.step(100, [&] { ApplySkinAndColours(*this); });

    QString cursorPath;
    // A failing presence test counts as passed: the cursor is loaded (and reported) anyway.
    const bool cursorPresent = steps.passes(102, [&] {
        cursorPath = platform.program->programFolder() + sep + QStringLiteral("HAND-M.CUR");
        return platform.files->fileIsPresent(cursorPath);
    });
    if (cursorPresent) {
        steps.step(104, [&] { setMouseIcon(LoadCursorFile(cursorPath)); });
    }

    // The home page on about one start in a hundred; never waited for.
    steps.step(106, [&] {
        const int draw = static_cast<int>(platform.events->randomNumber() * 100) + 1;
        if (draw == 7)
            platform.shell->openUrl(QUrl(QLatin1String(HomePage)));
    });

    steps.step(130, [&] {
        setWindowTitle(QLatin1String(ProductName));
        setWindowIcon(applicationIcon());
        platform.dialogs->setApplicationTitle(ApplicationTitle(QLatin1String(ProductName)));
    });
    steps.step(132, [&] { m_queue->setColumnHeader(QStringLiteral("PowerPoint File(s)")); });
    steps.step(134, [&] { ListView1->header()->resizeSection(0, twips(6500)); });
    steps.step(136, [&] { FillPrinterList(platform, *Combo1); });

    FillPauseList(*platform.settings, *Combo2, steps); // steps 140 and 144
    // Reads never fail: a stored value that does not read is as each deck says.
    setPrintSettings(storedPrintSettings(*platform.settings, *platform.office));
    steps.step(146, [&] { CheckPowerPointInstalled(platform); });
}

} // namespace deckrun
