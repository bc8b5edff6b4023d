// SPDX-License-Identifier: GPL-3.0-or-later
// "Add All File(s) In Folder" and the folder walker behind it. The walk lists
// folders in level order (the start folder, every folder one level below, two
// levels below, ...), then lists each folder's files and appends the ones
// that qualify. It pumps window events as it goes, so the window stays alive
// during a long walk.

#include "queue/AddFolder.h"

#include "common/ErrorReport.h"
#include "common/SettingsKeys.h"
#include "platform/CodePage.h"
#include "platform/Platform.h"
#include "queue/Paths.h"
#include "queue/QueueHandlers.h"
#include "queue/QueueModel.h"

#include <QHash>
#include <QSet>

#include <set>
#include <utility>

namespace deckrun {

namespace {

constexpr int LengthLimit = 260;       // paths and names must stay below it
constexpr int HiddenSystemFolder = 22; // folder + hidden + system
constexpr int HiddenSystemLinkFolder = 1046;
constexpr int HiddenArchiveFile = 34; // hidden + archive: lock files and the like

const QString WalkerLocation =
    QStringLiteral("in Marrowfield2021/08/31.AddFolder.GetSubDirectories2016 ");
const QString DropLocation = QStringLiteral("in Tamberlin2021/08/31.Form1.ListView1_OLEDragDrop ");

/** What one walk remembers across its levels. */
struct Walk {
    Platform &platform;
    // Every real folder walked so far: a link back up the tree, or two links
    // to the same folder, lead to a folder already walked and end there.
    std::set<std::pair<std::uint64_t, std::uint64_t>> walked;
    // Folders that passed the folder and attribute tests a moment ago, when
    // their level was walked: the closing pass takes them without asking the
    // file system again.
    QSet<QString> qualified;
    // When set, every folder read also gathers its files matching the
    // pattern, so that adding a tree reads each folder once.
    const QString *pattern = nullptr;
    QHash<QString, QStringList> files;
};

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
            if (!files.IsFolder(v))
                continue;
            step = 110;
            if (v.size() >= LengthLimit)
                continue;
            step = 112;
            p.events->pumpEvents();
            step = 116;
            if (!qualifies(files, v))
                continue;
            walk.qualified.insert(v);
            const auto identity = files.folderIdentity(v);
            if (!identity || !walk.walked.insert({identity->device, identity->inode}).second) {
                // Vanished since the look above, or already walked by another path.
                removeFirst(folders, v);
                continue;
            }
        } catch (const Failure &) {
            // The folder went away between two looks: skipped like an unreadable one.
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
                FolderListing listing =
                    files.readFolder(v, *walk.pattern, HiddenArchiveFile, &partial);
                subFolders = std::move(listing.subFolders);
                walk.files.insert(v, std::move(listing.files));
            } else {
                subFolders = files.subFolders(v, &partial.subFolders);
            }
        } catch (const Failure &failure) {
            // Unreadable (70) or gone (76): no files are listed for it. What
            // was read before the failure is still walked.
            subFolders = std::move(partial.subFolders);
            if (failure.code() == 70 || failure.code() == 76)
                removeFirst(folders, v);
        }
        for (const SubFolder &sub : subFolders) {
            p.events->pumpEvents();
            const QString &name = sub.name;
            if (name.size() >= LengthLimit || HasUnsafeChars(name) ||
                name.contains(QLatin1Char('?')) || name == QLatin1String(".") ||
                name == QLatin1String(".."))
                continue;
            found.append(v + name + sep);
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
        } catch (const Failure &) {
            // gone since it was listed
        } catch (const std::exception &e) {
            report(p, e, 156);
        }
    }
    return appended;
}

} // namespace

void GetSubDirectories2016(Platform &platform, QStringList &folders, bool recurse)
{
    Walk walk{platform, {}, {}, nullptr, {}};
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
    } catch (const std::exception &) {
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

QString ExtensionPrompt()
{
    return QStringLiteral("Enter file extension to load:") + QStringLiteral("\r\r") +
           QStringLiteral("(* for all files, txt for all txt files, doc for all doc files, etc.)");
}

void AddFolderTree(QueueWindow &form, const QString &folder, const QString &pattern, StepRunner &r)
{
    Platform &p = form.platform();
    const QString sep(pathSeparator());
    QStringList folders;
    // A drive root comes with its backslash ("C:\"): it is not doubled.
    r.step(114, [&] { folders = QStringList{folder.endsWith(sep) ? folder : folder + sep}; });
    // The walk gathers each folder's files as it reads the folder; a folder
    // it did not read (one that is not searched) is listed on its own below.
    Walk walk{p, {}, {}, &pattern, {}};
    r.step(116, [&] { walkLevel(walk, folders, true); });
    for (const QString &listed : std::as_const(folders)) {
        QString entry;
        r.step(120, [&] { entry = listed.chopped(1); });
        // The listing yields only names that open as existing files and whose
        // attribute value is not 34, so it can skip looking at most files.
        QStringList names;
        r.step(122, [&] {
            const auto gathered = walk.files.find(listed);
            if (gathered != walk.files.end()) {
                names = std::move(gathered.value());
                walk.files.erase(gathered);
            } else {
                names = p.files->listExistingFiles(entry, pattern, HiddenArchiveFile);
            }
        });
        // One folder's rows go in together: no events run inside this loop.
        QStringList rows;
        for (const QString &name : std::as_const(names)) {
            if (name.startsWith(QLatin1Char('~')))
                continue;
            rows << NormalizePath(entry + sep + name);
        }
        r.step(132, [&] { form.queue().Append(rows); });
    }
}

void AddFolderTree(QueueWindow &form, const QString &folder, const QString &pattern)
{
    StepRunner r(*form.platform().dialogs, DropLocation);
    AddFolderTree(form, folder, pattern, r);
}

void PushButton2_Click(QueueWindow &form)
{
    Platform &p = form.platform();
    StepRunner r(*p.dialogs, QStringLiteral("in Tamberlin2021/08/31.Form1.PushButton2_Click "));

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

    r.step(112, [&] { form.setMousePointer(pointer::Busy); });
    // The answer goes in exactly as typed: "*" lists every file, ".ppt" finds "..ppt" names only.
    AddFolderTree(form, folder, QStringLiteral("*.") + answer, r);
    r.step(136, [&] { form.setMousePointer(pointer::Default); });
}

} // namespace deckrun
