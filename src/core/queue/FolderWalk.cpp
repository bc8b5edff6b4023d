// SPDX-License-Identifier: GPL-3.0-or-later
// "Add All File(s) In Folder" and the folder walker behind it. The walk lists
// folders in level order (the start folder, every folder one level below, two
// levels below, ...), then lists each folder's files and appends the ones
// that qualify. It pumps window events as it goes, so the window stays alive
// during a long walk.
//
// A level is walked in steps: the looks at each folder before it is read
// (searched, passesLooks), its read, the sub-folders it yields (takeSubFolders),
// the level below, and the closing pass (closeLevel). Adding a tree reads
// each folder once for its sub-folders and its files (walkTreeLevel);
// GetSubDirectories2016 reads the sub-folders alone (walkSubFolderLevel).

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
    // Told of what the walk leaves out; none in the window, which logs it.
    const LeftOutSink *leftOut = nullptr;
};

/** The walk that adds a tree: every folder read also gathers its files, so each is read once. */
struct TreeWalk : Walk {
    QString pattern;
    LinksFollowed links = LinksFollowed::Always;
    QHash<QString, QStringList> files; // the rows of each folder read, by the folder's path
    qsizetype fileCount = 0;           // of all lists in `files`
};

void leaveOut(const Walk &walk, const QString &path, const QString &why)
{
    qCDebug(lcWalk).noquote() << "left out:" << path << "-" << why;
    if (walk.leftOut && *walk.leftOut)
        (*walk.leftOut)(path, why);
}

void leaveOut(const Walk &walk, const std::vector<LeftOut> &passedOver)
{
    for (const LeftOut &out : passedOver)
        leaveOut(walk, out.path, out.reason);
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

// Steps 108 to 116, the looks at a folder before it is read: false when it is
// no folder now, when its path is too long to search below it (its own files
// are still listed), or when it is hidden and system. `step` follows them.
bool searched(Walk &walk, const QString &folder, int &step)
{
    FileSystem &files = *walk.platform.files;
    step = 108;
    if (!files.IsFolder(folder)) {
        leaveOut(walk, folder, GoneText);
        return false;
    }
    step = 110;
    if (folder.size() >= LengthLimit) {
        if (walk.leftOut && *walk.leftOut)
            leaveOutBelow(walk, folder);
        return false;
    }
    step = 112;
    walk.platform.events->pumpEvents();
    step = 116;
    if (!qualifies(files, folder))
        return false;
    walk.qualified.insert(folder);
    return true;
}

// Runs `looks` (searched(), and what else a walk asks before it reads the
// folder) under the walk's rules: a folder that went away between two looks
// is skipped like an unreadable one and dropped from `folders`; any other
// failure is reported at the step it came at. True when the folder is read.
template <typename Looks>
bool passesLooks(Walk &walk, QStringList &folders, const QString &folder, Looks &&looks)
{
    int step = 108;
    try {
        return looks(step);
    } catch (const Failure &failure) {
        qCDebug(lcWalk) << "skipped, gone since listed:" << folder << failure.description();
        leaveOut(walk, folder, GoneText);
        removeFirst(folders, folder);
        return false;
    } catch (const std::exception &e) {
        report(walk.platform, e, step);
        return false;
    }
}

// A folder whose read failed: nothing of its files is listed, and what was
// read before the failure is still walked. Unreadable (70) and gone (76)
// drop it from `folders`. Returns the sub-folders that were read.
std::vector<SubFolder> unreadFolder(Walk &walk, QStringList &folders, const QString &folder,
                                    const Failure &failure, FolderListing &partial)
{
    leaveOut(walk, folder,
             failure.code() == code::PathNotFound ? GoneText
             : failure.code() == code::PermissionDenied
                 ? QStringLiteral("it cannot be read: permission denied")
                 : QStringLiteral("it cannot be read: ") + failure.description());
    leaveOut(walk, partial.leftOut);
    if (failure.code() == code::PermissionDenied || failure.code() == code::PathNotFound)
        removeFirst(folders, folder);
    return std::move(partial.subFolders);
}

// Keeps a folder's rows for AddFolderTree. Lock files ("~" names) stay out,
// looked at while the rows are fresh in the cache; `nameAt` is where a name
// begins in its row.
void keepRows(TreeWalk &walk, const QString &folder, QStringList rows, qsizetype nameAt)
{
    rows.removeIf([nameAt](const QString &row) { return isLockFile(row, nameAt); });
    walk.fileCount += rows.size();
    walk.files.emplace(folder, std::move(rows));
}

// Reads a folder of a tree once, for its sub-folders and its files; returns
// the sub-folders, none when the folder was walked already by another path.
std::vector<SubFolder> readForTree(TreeWalk &walk, QStringList &folders, const QString &folder)
{
    FolderListing partial;
    try {
        // The files come as rows: the folder's path (cleaned once, as a name
        // holds no separator) before each name.
        const QString prefix = NormalizePath(folder);
        FolderListing listing = walk.platform.files->readFolder(
            folder, walk.pattern, HiddenArchiveFile, &partial, prefix, walk.links);
        if (!firstVisit(walk, listing.identity, folder)) {
            // Already walked by another path: nothing of it counts twice.
            removeFirst(folders, folder);
            return {};
        }
        leaveOut(walk, listing.leftOut);
        keepRows(walk, folder, std::move(listing.files), prefix.size());
        return std::move(listing.subFolders);
    } catch (const Failure &failure) {
        if (partial.identity && !firstVisit(walk, partial.identity, folder)) {
            removeFirst(folders, folder);
            return {};
        }
        return unreadFolder(walk, folders, folder, failure, partial);
    }
}

// Reads a folder's sub-folders alone.
std::vector<SubFolder> readSubFolders(Walk &walk, QStringList &folders, const QString &folder)
{
    FolderListing partial;
    try {
        return walk.platform.files->subFolders(folder, &partial.subFolders);
    } catch (const Failure &failure) {
        return unreadFolder(walk, folders, folder, failure, partial);
    }
}

// Appends to `found` the paths of the sub-folders the next level walks; the
// names the walk refuses are left out, with why.
void takeSubFolders(Walk &walk, const QString &folder, const std::vector<SubFolder> &subFolders,
                    QStringList &found)
{
    const QString sep(pathSeparator());
    for (const SubFolder &sub : subFolders) {
        walk.platform.events->pumpEvents();
        const QString &name = sub.name;
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        if (const QString why = refusedName(sub); !why.isEmpty()) {
            leaveOut(walk, folder % (sub.undecodable.isEmpty() ? name : sub.undecodable) % sep,
                     why);
            continue;
        }
        found.append(folder % name % sep);
    }
}

// Whether a folder of the level below goes into the list in the closing pass.
// One that passed its looks when its level was walked is taken as it is; one
// that was never looked at (or was not searched) is looked at now.
bool stillQualifies(Walk &walk, const QString &folder)
{
    Platform &p = walk.platform;
    try {
        if (walk.qualified.contains(folder)) {
            p.events->pumpEvents();
            return true;
        }
        if (!p.files->IsFolder(folder))
            return false;
        p.events->pumpEvents();
        return qualifies(*p.files, folder);
    } catch (const Failure &failure) {
        // gone since it was listed
        qCDebug(lcWalk) << "not walked, gone since listed:" << folder << failure.description();
        leaveOut(walk, folder, GoneText);
    } catch (const std::exception &e) {
        report(p, e, 156);
    }
    return false;
}

// The closing pass of a level: the folders it found that still qualify, then
// everything below them (the last `deeper` of `found`), which the deeper
// passes have examined already. Returns how many it appended to `folders`.
qsizetype closeLevel(Walk &walk, QStringList &folders, const QStringList &found, qsizetype deeper)
{
    const qsizetype own = found.size() - deeper;
    qsizetype appended = 0;
    for (qsizetype i = 0; i < own; ++i) {
        if (stillQualifies(walk, found.at(i))) {
            folders.append(found.at(i));
            ++appended;
        }
    }
    folders.append(found.sliced(own));
    return appended + deeper;
}

// One level of adding a tree: reads each of `folders` once, then walks the
// level below it. Returns how many folders its closing pass appended.
qsizetype walkTreeLevel(TreeWalk &walk, QStringList &folders)
{
    QStringList found; // the folders one level below, in their parents' order
    // The list itself may lose entries below; walk what it held on entry.
    const QStringList entries = folders;
    for (const QString &folder : entries) {
        // Adding files tells which real folder it was from the read itself,
        // one look fewer per folder.
        const bool read = passesLooks(walk, folders, folder,
                                      [&](int &step) { return searched(walk, folder, step); });
        if (read)
            takeSubFolders(walk, folder, readForTree(walk, folders, folder), found);
    }
    const qsizetype deeper = found.isEmpty() ? 0 : walkTreeLevel(walk, found);
    return closeLevel(walk, folders, found, deeper);
}

// One level of GetSubDirectories2016: lists the sub-folders of each of
// `folders`, then, with `recurse`, walks the level below. Returns how many
// folders its closing pass appended.
qsizetype walkSubFolderLevel(Walk &walk, QStringList &folders, bool recurse)
{
    QStringList found; // the folders one level below, in their parents' order
    // The list itself may lose entries below; walk what it held on entry.
    const QStringList entries = folders;
    for (const QString &folder : entries) {
        const bool read = passesLooks(walk, folders, folder, [&](int &step) {
            if (!searched(walk, folder, step))
                return false;
            if (firstVisit(walk, walk.platform.files->folderIdentity(folder), folder))
                return true;
            // Vanished since the look above, or already walked by another path.
            removeFirst(folders, folder);
            return false;
        });
        if (read)
            takeSubFolders(walk, folder, readSubFolders(walk, folders, folder), found);
    }
    const qsizetype deeper =
        recurse && !found.isEmpty() ? walkSubFolderLevel(walk, found, true) : 0;
    return closeLevel(walk, folders, found, deeper);
}

} // namespace

void GetSubDirectories2016(Platform &platform, QStringList &folders, bool recurse)
{
    Walk walk{platform, {}, {}, nullptr};
    walkSubFolderLevel(walk, folders, recurse);
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
                   StepRunner &steps, const LeftOutSink &leftOut, LinksFollowed links)
{
    Platform &p = target.platform();
    const QString sep(pathSeparator());
    QStringList folders;
    // A drive root comes with its backslash ("C:\"): it is not doubled.
    steps.step(114, [&] { folders = QStringList{folder.endsWith(sep) ? folder : folder + sep}; });
    // The walk gathers each folder's files as it reads the folder; a folder
    // it did not read (one that is not searched) is listed on its own below.
    TreeWalk walk{{p, {}, {}, &leftOut}, pattern, links, {}, 0};
    steps.step(116, [&] { walkTreeLevel(walk, folders); });
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
