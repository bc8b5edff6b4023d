// SPDX-License-Identifier: GPL-3.0-or-later
// "Add All File(s) In Folder" and the folder walker behind it. The walk lists
// folders in level order (the start folder, every folder one level below, two
// levels below, ...), then lists each folder's files and appends the ones
// that qualify. It pumps window events as it goes, so the window stays alive
// during a long walk.

#include "core/queue/FolderWalk.h"

#include "core/common/ErrorReport.h"
#include "core/common/SettingsKeys.h"
#include "core/queue/Paths.h"
#include "core/queue/QueueModel.h"
#include "core/queue/QueueTarget.h"
#include "platform/CodePage.h"
#include "platform/Logging.h"
#include "platform/Platform.h"

#include <QHash>
#include <QSet>
#include <QStringBuilder>

#include <map>
#include <utility>

namespace deckrun {

namespace {

constexpr int LengthLimit = 260;       // paths and names must stay below it
constexpr int HiddenSystemFolder = 22; // folder + hidden + system
constexpr int HiddenSystemLinkFolder = 1046;
constexpr int HiddenArchiveFile = 34; // hidden + archive: lock files and the like

const QString WalkerLocation =
    QStringLiteral("in Marrowfield2021/08/31.AddFolder.GetSubDirectories2016 ");

/** What one walk remembers across its levels. */
struct Walk {
    Platform &platform;
    // Every real folder walked so far, with the path it was walked by: a link
    // back up the tree, or two links to the same folder, lead to a folder
    // already walked and end there.
    std::map<std::pair<std::uint64_t, std::uint64_t>, QString> walked;
    // Folders that passed the folder and attribute tests a moment ago, when
    // their level was walked: the closing pass takes them without asking the
    // file system again.
    QSet<QString> qualified;
    // When set, every folder read also gathers its files matching the
    // pattern, so that adding a tree reads each folder once.
    const QString *pattern = nullptr;
    QHash<QString, QStringList> files;
    qsizetype fileCount = 0; // of all lists in `files`
    // Told of what the walk leaves out; none in the window, which logs it.
    const LeftOutSink *leftOut = nullptr;
};

void leaveOut(const Walk &walk, const QString &path, const QString &why)
{
    qCDebug(lcWalk).noquote() << "left out:" << path << "-" << why;
    if (walk.leftOut && *walk.leftOut)
        (*walk.leftOut)(path, why);
}

const QString GoneText = QStringLiteral("it was gone by the time it was read");

// Records `folder` as walked; false (and said) when it was walked before, or
// when it could not be told which folder it is (it vanished).
bool firstVisit(Walk &walk, const std::optional<FolderIdentity> &identity, const QString &folder)
{
    if (!identity) {
        leaveOut(walk, folder, GoneText);
        return false;
    }
    const auto [at, inserted] =
        walk.walked.try_emplace({identity->device, identity->inode}, folder);
    if (!inserted)
        leaveOut(walk, folder,
                 QStringLiteral("it leads to a folder walked already, as %1").arg(at->second));
    return inserted;
}

// The sub-folders of a folder that is not searched, as its path is too long.
void leaveOutBelow(const Walk &walk, const QString &folder)
{
    try {
        for (const SubFolder &sub : walk.platform.files->subFolders(folder))
            leaveOut(walk,
                     folder % (sub.undecodable.isEmpty() ? sub.name : sub.undecodable) %
                         pathSeparator(),
                     QStringLiteral("the folder above it has a path of %1 characters or more, "
                                    "and is not searched")
                         .arg(LengthLimit));
    } catch (const Failure &failure) {
        leaveOut(walk, folder, QStringLiteral("it cannot be read: ") + failure.description());
    }
}

// Why a sub-folder's name keeps it out of the walk; empty when it does not.
QString refusedName(const SubFolder &sub)
{
    const QString &name = sub.name;
    if (!sub.undecodable.isEmpty())
        return QStringLiteral("its name is not valid UTF-8 text");
    if (name.size() >= LengthLimit)
        return QStringLiteral("its name has %1 characters or more").arg(LengthLimit);
    if (HasUnsafeChars(name) || name.contains(QLatin1Char('?')))
        return QStringLiteral("its name holds a control character or \"?\"");
    return QString();
}

// Root folders are always searched; others unless hidden and system together.
bool qualifies(FileSystem &files, const QString &folder)
{
    if (files.isRootFolder(folder))
        return true;
    const int value = files.attributes(folder);
    return value != HiddenSystemFolder && value != HiddenSystemLinkFolder;
}

void removeFirst(QStringList &folders, const QString &folder)
{
    const qsizetype at = folders.indexOf(folder);
    if (at >= 0)
        folders.removeAt(at);
}

// Names beginning with "~" (lock files and the like) are not queued; `at` is
// where the name begins in the row.
bool isLockFile(const QString &row, qsizetype at)
{
    return row.size() > at && row.at(at) == QLatin1Char('~');
}

void report(Platform &p, const std::exception &e, int step)
{
    ShowErrorReport(*p.dialogs, QString::fromLocal8Bit(e.what()), WalkerLocation, step);
}

// Returns how many folders the closing pass appended to `folders`.
qsizetype walkLevel(Walk &walk, QStringList &folders, bool recurse)
{
    Platform &p = walk.platform;
    FileSystem &files = *p.files;
    const QString sep(pathSeparator());
    QStringList found; // the folders one level below, in their parents' order

    // The list itself may lose entries below; walk what it held on entry.
    const QStringList entries = folders;
    for (const QString &v : entries) {
        int step = 108;
        try {
            if (!files.IsFolder(v)) {
                leaveOut(walk, v, GoneText);
                continue;
            }
            step = 110;
            if (v.size() >= LengthLimit) {
                // Its own files are still listed; what lies below it is not.
                if (walk.leftOut && *walk.leftOut)
                    leaveOutBelow(walk, v);
                continue;
            }
            step = 112;
            p.events->pumpEvents();
            step = 116;
            if (!qualifies(files, v))
                continue;
            walk.qualified.insert(v);
            // Adding files reads the folder first and tells from the read
            // which real folder it was (below), one look fewer per folder.
            if (!walk.pattern && !firstVisit(walk, files.folderIdentity(v), v)) {
                // Vanished since the look above, or already walked by another path.
                removeFirst(folders, v);
                continue;
            }
        } catch (const Failure &failure) {
            // The folder went away between two looks: skipped like an unreadable one.
            qCDebug(lcWalk) << "skipped, gone since listed:" << v << failure.description();
            leaveOut(walk, v, GoneText);
            removeFirst(folders, v);
            continue;
        } catch (const std::exception &e) {
            report(p, e, step);
            continue;
        }

        std::vector<SubFolder> subFolders;
        FolderListing partial;
        try {
            if (walk.pattern) {
                // The files come as rows: the folder's path (cleaned once, as a
                // name holds no separator) before each name.
                const QString prefix = NormalizePath(v);
                FolderListing listing =
                    files.readFolder(v, *walk.pattern, HiddenArchiveFile, &partial, prefix);
                if (!firstVisit(walk, listing.identity, v)) {
                    // Already walked by another path: nothing of it counts twice.
                    removeFirst(folders, v);
                    continue;
                }
                for (const LeftOut &out : listing.leftOut)
                    leaveOut(walk, out.path, out.reason);
                subFolders = std::move(listing.subFolders);
                // Lock files ("~" names) stay out, looked at while the rows are
                // fresh in the cache.
                listing.files.removeIf(
                    [&prefix](const QString &row) { return isLockFile(row, prefix.size()); });
                walk.fileCount += listing.files.size();
                walk.files.emplace(v, std::move(listing.files));
            } else {
                subFolders = files.subFolders(v, &partial.subFolders);
            }
        } catch (const Failure &failure) {
            // Unreadable (70) or gone (76): no files are listed for it. What
            // was read before the failure is still walked.
            if (walk.pattern && partial.identity && !firstVisit(walk, partial.identity, v)) {
                removeFirst(folders, v);
                continue;
            }
            leaveOut(walk, v,
                     failure.code() == code::PathNotFound ? GoneText
                     : failure.code() == code::PermissionDenied
                         ? QStringLiteral("it cannot be read: permission denied")
                         : QStringLiteral("it cannot be read: ") + failure.description());
            for (const LeftOut &out : partial.leftOut)
                leaveOut(walk, out.path, out.reason);
            subFolders = std::move(partial.subFolders);
            if (failure.code() == code::PermissionDenied || failure.code() == code::PathNotFound)
                removeFirst(folders, v);
        }
        for (const SubFolder &sub : subFolders) {
            p.events->pumpEvents();
            const QString &name = sub.name;
            if (name == QLatin1String(".") || name == QLatin1String(".."))
                continue;
            if (const QString why = refusedName(sub); !why.isEmpty()) {
                leaveOut(walk, v % (sub.undecodable.isEmpty() ? name : sub.undecodable) % sep, why);
                continue;
            }
            found.append(v % name % sep);
        }
    }

    qsizetype deeper = 0;
    if (recurse && !found.isEmpty())
        deeper = walkLevel(walk, found, true);

    // The closing pass: this level's folders that still qualify, then
    // everything below them, which the deeper passes have examined already.
    const qsizetype own = found.size() - deeper;
    qsizetype appended = 0;
    for (qsizetype i = 0; i < found.size(); ++i) {
        const QString &w = found.at(i);
        if (i >= own) {
            folders.append(w);
            ++appended;
            continue;
        }
        try {
            if (walk.qualified.contains(w)) {
                p.events->pumpEvents();
            } else {
                if (!files.IsFolder(w))
                    continue;
                p.events->pumpEvents();
                if (!qualifies(files, w))
                    continue;
            }
            folders.append(w);
            ++appended;
        } catch (const Failure &failure) {
            // gone since it was listed
            qCDebug(lcWalk) << "not walked, gone since listed:" << w << failure.description();
            leaveOut(walk, w, GoneText);
        } catch (const std::exception &e) {
            report(p, e, 156);
        }
    }
    return appended;
}

} // namespace

void GetSubDirectories2016(Platform &platform, QStringList &folders, bool recurse)
{
    Walk walk{platform, {}, {}, nullptr, {}, 0, nullptr};
    walkLevel(walk, folders, recurse);
}

QStringList GetFilesInFolder(FileSystem &files, const QString &folder, const QString &pattern)
{
    QString base = folder;
    if (!base.endsWith(pathSeparator()))
        base += pathSeparator();
    return files.listExistingFiles(base, pattern);
}

bool IsExistingFile(FileSystem &files, const QString &path)
{
    try {
        return files.isExistingFile(path);
    } catch (const std::exception &e) {
        qCDebug(lcQueue) << "taken as no file:" << path << e.what();
        return false;
    }
}

bool HasUnsafeChars(const QString &name)
{
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = name.at(i);
        char32_t code = c.unicode();
        if (c.isHighSurrogate() && i + 1 < n && name.at(i + 1).isLowSurrogate()) {
            code = QChar::surrogateToUcs4(c, name.at(i + 1));
            ++i;
        } else if (c.isSurrogate()) {
            return true; // half a character: no code page holds it
        }
        // The character's code in the system's own character set (on Windows
        // its single-byte code page, "?" for a character the page lacks).
        const unsigned inSystem = systemCharacterCode(code);
        if (inSystem < 32 || (inSystem >= 127 && inSystem <= 159) || inSystem == 63)
            return true;
    }
    return false;
}

QString AddFolderLocation()
{
    return FormLocation("PushButton2_Click");
}

QString DropLocation()
{
    return FormLocation("ListView1_OLEDragDrop");
}

void AddFolderTree(QueueTarget &target, const QString &folder, const QString &pattern,
                   StepRunner &steps, const LeftOutSink &leftOut)
{
    Platform &p = target.platform();
    const QString sep(pathSeparator());
    QStringList folders;
    // A drive root comes with its backslash ("C:\"): it is not doubled.
    steps.step(114, [&] { folders = QStringList{folder.endsWith(sep) ? folder : folder + sep}; });
    // The walk gathers each folder's files as it reads the folder; a folder
    // it did not read (one that is not searched) is listed on its own below.
    Walk walk{p, {}, {}, &pattern, {}, 0, &leftOut};
    steps.step(116, [&] { walkLevel(walk, folders, true); });
    // No events run in this loop, so the rows of every folder can go into the
    // queue in one change at the end; should a step fail, the rows so far go
    // in first, so that its report shows the queue as far as it got.
    QStringList pending;
    pending.reserve(walk.fileCount);
    auto appendPending = [&] {
        if (!pending.isEmpty())
            steps.step(132, [&] { target.queue().append(std::move(pending)); });
        pending = QStringList();
    };
    for (const QString &listed : std::as_const(folders)) {
        QString entry;
        steps.step(120, [&] { entry = listed.chopped(1); });
        // A name holds no separator, so cleaning the folder part once cleans
        // every row: NormalizePath(entry + sep + name) is prefix + name.
        const QString prefix = NormalizePath(entry + sep);
        // The listing yields only names that open as existing files and whose
        // attribute value is not 34, so it can skip looking at most files.
        QStringList rows;
        steps.step(122, [&] {
            try {
                const auto gathered = walk.files.find(listed);
                if (gathered != walk.files.end()) {
                    rows = std::move(gathered.value()); // prefix + name, lock files out
                    walk.files.erase(gathered);
                } else {
                    rows = p.files->listExistingFiles(entry, pattern, HiddenArchiveFile);
                    rows.removeIf([](const QString &name) { return isLockFile(name, 0); });
                    for (QString &name : rows)
                        name.prepend(prefix);
                }
            } catch (...) {
                appendPending();
                throw;
            }
        });
        pending.append(std::move(rows));
    }
    appendPending();
}

void AddFolderTree(QueueTarget &target, const QString &folder, const QString &pattern)
{
    StepRunner r(*target.platform().dialogs, DropLocation());
    AddFolderTree(target, folder, pattern, r);
}

} // namespace deckrun
