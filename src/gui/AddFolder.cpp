// SPDX-License-Identifier: GPL-3.0-or-later
// "Add All File(s) In Folder": asks for an extension and a folder, then
// walks the folder tree into the queue (core/queue/FolderWalk.h).

#include "core/common/ErrorReport.h"
#include "core/common/SettingsKeys.h"
#include "core/queue/FolderWalk.h"
#include "gui/QueueHandlers.h"
#include "platform/Platform.h"

namespace deckrun {

namespace {

/** The prompt of the extension question. */
QString ExtensionPrompt()
{
    return QStringLiteral("Enter file extension to load:") + QStringLiteral("\r\r") +
           QStringLiteral("(* for all files, txt for all txt files, doc for all doc files, etc.)");
}

} // namespace

void PushButton2_Click(QueueWindow &window)
{
    Platform &platform = window.platform();
    StepRunner steps(*platform.dialogs, AddFolderLocation());

    QString answer;
    steps.step(100, [&] {
        const QString stored = readSetting(*platform.settings, setting::Extension);
        answer = platform.dialogs->inputBox(ExtensionPrompt(), QString(), stored);
        if (!answer.isEmpty())
            writeSetting(*platform.settings, setting::Extension,
                         answer); // kept even if the browser is cancelled
    });
    if (steps.test(102, [&] { return answer.isEmpty(); }))
        return;

    QString folder;
    steps.step(104, [&] {
        const QString last = readSetting(*platform.settings, setting::LastFolder);
        folder = platform.dialogs->browseForFolder(QStringLiteral("Please select folder:"), last);
    });
    if (steps.test(106, [&] { return folder.isEmpty(); }))
        return;

    steps.step(112, [&] { window.setMousePointer(pointer::Busy); });
    // The answer goes in exactly as typed: "*" lists every file, ".ppt" finds "..ppt" names only.
    AddFolderTree(window, folder, QStringLiteral("*.") + answer, steps);
    steps.step(136, [&] { window.setMousePointer(pointer::Default); });
}

} // namespace deckrun
