// SPDX-License-Identifier: GPL-3.0-or-later
// "Load Sample/Example Files": the sample presentations that lie in the
// "Samples" folder beside the program, queued from where they lie.

#include "gui/Samples.h"

#include "core/common/ErrorReport.h"
#include "core/queue/FolderWalk.h"
#include "core/queue/QueueModel.h"
#include "platform/Platform.h"

namespace deckrun {

void LoadSampleFiles(Platform &platform, QueueModel &queue)
{
    const QString sep(pathSeparator());
    const QString sampleFolder =
        platform.program->programFolder() + sep + QStringLiteral("Samples");

    // Every file, hidden ones and "~" names too; the paths go in as formed.
    for (const QString &name :
         GetFilesInFolder(*platform.files, sampleFolder, QStringLiteral("*.*"))) {
        const QString path = sampleFolder + sep + name;
        if (platform.files->fileIsPresent(path) && !ListContains(queue, path))
            queue.append(path);
    }

    const Answer answer = platform.dialogs->messageBox(
        QStringLiteral("Would you like this software to open the folder where these sample files "
                       "are stored (so that you can view them before working with them)?"),
        QString(), Buttons::YesNo, Icon::None);
    if (answer == Answer::Yes)
        platform.shell->openFolder(sampleFolder);
}

void PushButton8_Click(Platform &platform, QueueModel &queue)
{
    StepRunner steps(*platform.dialogs, FormLocation("PushButton8_Click"));
    steps.step(100, [&] { LoadSampleFiles(platform, queue); });
}

} // namespace deckrun
