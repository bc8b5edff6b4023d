// SPDX-License-Identifier: GPL-3.0-or-later
// "Add All File(s) In Folder": asks for an extension and a folder, then
// walks the folder tree into the queue (core/queue/FolderWalk.h).

#include "core/common/ErrorReport.h"
#include "core/common/SettingsKeys.h"
#include "core/queue/FolderWalk.h"
#include "gui/QueueHandlers.h"
#include "platform/Platform.h"

namespace deckrun {

QString ExtensionPrompt()
{
    return QStringLiteral("Enter file extension to load:") + QStringLiteral("\r\r") +
           QStringLiteral("(* for all files, txt for all txt files, doc for all doc files, etc.)");
}

void PushButton2_Click(QueueWindow &window)
{
    Platform &p = window.platform();
    StepRunner r(*p.dialogs, AddFolderLocation());

    QString answer;
    r.step(100, [&] {
        const QString stored = readSetting(*p.settings, setting::Extension);
        answer = p.dialogs->inputBox(ExtensionPrompt(), QString(), stored);
        if (!answer.isEmpty())
            writeSetting(*p.settings, setting::Extension,
                         answer); // kept even if the browser is cancelled
    });
    if (r.test(102, [&] { return answer.isEmpty(); }))
        return;

    QString folder;
    r.step(104, [&] {
        const QString last = readSetting(*p.settings, setting::LastFolder);
        folder = p.dialogs->browseForFolder(QStringLiteral("Please select folder:"), last);
    });
    if (r.test(106, [&] { return folder.isEmpty(); }))
        return;

    r.step(112, [&] { window.setMousePointer(pointer::Busy); });
    // The answer goes in exactly as typed: "*" lists every file, ".ppt" finds "..ppt" names only.
    AddFolderTree(window, folder, QStringLiteral("*.") + answer, r);
    r.step(136, [&] { window.setMousePointer(pointer::Default); });
}

} // namespace deckrun
