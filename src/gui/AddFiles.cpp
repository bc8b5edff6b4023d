// SPDX-License-Identifier: GPL-3.0-or-later
// Adding files by the file-open dialog ("Add PowerPoint File(s)") and by
// dropping files and folders on the queue list.

#include "gui/AddFiles.h"

#include "core/common/ErrorReport.h"
#include "core/queue/FolderWalk.h"
#include "core/queue/Paths.h"
#include "core/queue/QueueModel.h"
#include "gui/QueueHandlers.h"
#include "platform/Logging.h"
#include "platform/Platform.h"

#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace deckrun {

namespace {

QStringList droppedPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls())
        if (url.isLocalFile())
            paths << QDir::toNativeSeparators(url.toLocalFile()); // Qt gives "/" on Windows too
    return paths;
}

/**
 * `paths` as a box that fits the screen lists them: the first few, a long
 * one shortened in its middle, then how many more there are.
 */
QString listed(const QStringList &paths)
{
    constexpr qsizetype Lines = 12;
    constexpr qsizetype Width = 100;
    QStringList lines;
    for (const QString &path : paths.mid(0, Lines))
        lines << (path.size() <= Width
                      ? path
                      : path.left(Width / 2 - 1) + QChar(0x2026) + path.right(Width / 2));
    if (paths.size() > Lines)
        lines << QStringLiteral("... and %1 more (standard error names them all).")
                     .arg(paths.size() - Lines);
    return lines.join(QLatin1Char('\r'));
}

} // namespace

void PushButton1_Click(QueueWindow &window)
{
    Platform &platform = window.platform();
    StepRunner steps(*platform.dialogs, FormLocation("PushButton1_Click"));

    FileDialogRequest request;
    steps.step(104, [&] { request.fileName = QString(); });
    steps.step(106, [&] {
        request.flags = 2621953;
    }); // read-only box, multi-select, Explorer style, long names
    steps.step(108, [&] {
        request.title = QStringLiteral("Add File(s) - Hold Ctrl to select multiple files");
    });
    steps.step(110, [&] {
        request.filter = QStringLiteral("PowerPoint Files (*.p*)|*.p*|All Files (*.*)|*.*|");
    });

    FileDialogResult chosen;
    bool tooMany = false;
    steps.step(112, [&] {
        try {
            chosen = platform.dialogs->openFiles(request);
        } catch (const Failure &failure) {
            if (failure.code() != code::FileNameBufferTooSmall)
                throw;
            tooMany = true;
        }
    });
    if (tooMany) {
        platform.dialogs->messageBox(
            QStringLiteral("You've selected too many files to add.") + QStringLiteral("\r\r") +
                QStringLiteral("Please try adding via the \"Add All\" button."),
            QString(), Buttons::Ok, Icon::None);
        return;
    }
    if (steps.test(114, [&] { return chosen.folder.isEmpty() && chosen.names.isEmpty(); }))
        return;

    // The dialog's answer as its parts: the folder first when several were chosen.
    QStringList parts;
    steps.step(116, [&] {
        if (!chosen.folder.isEmpty())
            parts << chosen.folder;
        parts << chosen.names;
    });
    // One file, or several from different folders (no common folder): each
    // full path goes in exactly as the dialog gave it.
    if (steps.passes(118, [&] { return parts.size() == 1 || chosen.folder.isEmpty(); })) {
        for (const QString &full : std::as_const(parts)) {
            QString path;
            steps.step(120, [&] { path = full; });
            steps.step(122, [&] { window.queue().append(path); });
        }
        return;
    }
    if (steps.test(124, [&] { return parts.size() < 2; }))
        return;
    for (qsizetype j = 1; j < parts.size(); ++j) {
        QString path;
        steps.step(136, [&] { path = parts.at(0) + pathSeparator() + parts.at(j); });
        steps.step(138, [&] { path = NormalizePath(path); }); // a root folder gives one separator
        steps.step(140, [&] { window.queue().append(path); });
    }
}

void ListView1_OLEDragOver(QueueWindow &, QDragMoveEvent *event)
{
    // Only a list of local files or folders can be dropped here.
    if (droppedPaths(event->mimeData()).isEmpty()) {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
}

namespace {

void addItems(QueueWindow &window, const QStringList &items, StepRunner &steps)
{
    Platform &platform = window.platform();
    for (const QString &item : items) {
        bool folder = false;
        steps.step(102, [&] { folder = platform.files->IsFolder(item); });
        if (folder)
            AddFolderTree(window, item, QStringLiteral("*.*"),
                          steps); // each folder walked on its own
        else
            steps.step(106, [&] { window.queue().append(item); }); // exactly as dropped
    }
}
} // namespace

void ListView1_OLEDragDrop(QueueWindow &window, QDropEvent *event)
{
    // The drop has no numbered steps of its own; its failures are reported
    // under its own name and the drop goes on with the next item.
    StepRunner steps(*window.platform().dialogs, DropLocation());
    QStringList items;
    steps.step(100, [&] { items = droppedPaths(event->mimeData()); });
    addItems(window, items, steps);
}

void AddDroppedItems(QueueWindow &window, const QStringList &items)
{
    StepRunner steps(*window.platform().dialogs, DropLocation());
    addItems(window, items, steps);
}

void openCommandLinePaths(QueueWindow &window, const QStringList &paths)
{
    Platform &platform = window.platform();
    QStringList present, missing;
    for (const QString &path : paths)
        (platform.files->fileIsPresent(path) ? present : missing) << path;

    AddDroppedItems(window, present);
    const QStringList &rows = window.queue().rows();
    for (qsizetype i = 0; i < rows.size(); ++i)
        qCDebug(lcCommandLine).noquote() << "queued" << i + 1 << rows.at(i);

    if (!missing.isEmpty()) {
        for (const QString &path : std::as_const(missing))
            std::fprintf(stderr, "deckrun: not found, not queued: %s\n", qUtf8Printable(path));
        const QString text =
            missing.size() == 1
                ? QStringLiteral(
                      "This file or folder could not be found, so it was not added to the queue:")
                : QStringLiteral("These files or folders could not be found, so they were not "
                                 "added to the queue:");
        try {
            platform.dialogs->messageBox(text + QStringLiteral("\r\r") + listed(missing), QString(),
                                         Buttons::Ok, Icon::Warning);
        } catch (const std::exception &e) {
            // the message could not be shown; standard error has it
            qCDebug(lcApp) << "the missing paths' message could not be shown:" << e.what();
        }
    }
}

} // namespace deckrun
