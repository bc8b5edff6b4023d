// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/hotfolder/HotFolder.h"

#include "core/common/OneLine.h"
#include "core/hotfolder/JobIdentity.h"
#include "platform/FileHandover.h"
#include "platform/Logging.h"

namespace deckrun {

namespace {

const QString Processing = QStringLiteral("Processing");
const QString Printed = QStringLiteral("Printed");
const QString Failed = QStringLiteral("Failed");

// A lock not refreshed for ten minutes belongs to a watcher that ended (one on
// another machine, whose process cannot be looked up from here).
constexpr int StaleLockMilliseconds = 10 * 60 * 1000;

QString lockOf(const QString &claimFolder)
{
    return claimFolder + QStringLiteral(".lock");
}

} // namespace

QString numberedName(const QString &name, int n)
{
    if (n <= 1)
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString number = QStringLiteral(" (%1)").arg(n);
    // A name that is all extension (".pptx") or has none is numbered at its end.
    if (dot <= 0)
        return name + number;
    return name.left(dot) + number + name.mid(dot);
}

QString fittingName(const QString &name, int n)
{
    // The longest name most file systems take, in bytes, with room for ".txt".
    constexpr qsizetype Room = 255 - 4;
    QString fitted = numberedName(name, n);
    if (fitted.toUtf8().size() <= Room)
        return fitted;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    QString stem = dot > 0 ? name.left(dot) : name;
    const QString number = n > 1 ? QStringLiteral(" (%1)").arg(n) : QString();
    while (!stem.isEmpty() && (stem + number + extension).toUtf8().size() > Room) {
        stem.chop(1);
        if (!stem.isEmpty() && stem.back().isHighSurrogate())
            stem.chop(1); // never half a character
    }
    return stem + number + extension;
}

QString watcherName(const QString &host, qint64 pid)
{
    QString name;
    for (const QChar c : host)
        name += c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('.')
                    ? c
                    : QLatin1Char('_');
    if (name.isEmpty())
        name = QStringLiteral("host");
    return name + QLatin1Char('-') + QString::number(pid);
}

HotFolder::HotFolder(FileHandover &files, QString folder, QString watcher, Say say)
    : m_files(files), m_folder(std::move(folder)), m_watcher(std::move(watcher)),
      m_own(at(Processing) + QLatin1Char('/') + m_watcher), m_say(std::move(say))
{}

HotFolder::~HotFolder()
{
    if (m_lock)
        m_files.removeEmptyFolder(m_own);
    m_lock.reset();
}

QString HotFolder::at(const QString &sub) const
{
    return m_folder + QLatin1Char('/') + sub;
}

bool HotFolder::writable(const QString &sub)
{
    // A file of this watcher's own, made and removed: what moving out needs.
    const QString probe = at(sub) + QStringLiteral("/.deckrun-") + m_watcher;
    QString why;
    if (m_files.createNew(probe, &why) == CreateOutcome::Failed) {
        m_say(QStringLiteral("\"%1\" cannot be written: %2").arg(oneLine(at(sub)), oneLine(why)));
        return false;
    }
    m_files.remove(probe);
    return true;
}

bool HotFolder::ownFolder(const QString &path)
{
    if (!m_files.state(path)) {
        if (const QString why = m_files.makeFolders(path); !why.isEmpty()) {
            m_say(QStringLiteral("\"%1\" cannot be made: %2").arg(oneLine(path), oneLine(why)));
            return false;
        }
    }
    // Planted by whoever may write the folder, it would hand them what the
    // watcher moves there, or move what they chose.
    if (const QString why = m_files.whyNotOwn(path); !why.isEmpty()) {
        m_say(QStringLiteral("\"%1\" is refused as the watcher's own folder: %2.")
                  .arg(oneLine(path), oneLine(why)));
        return false;
    }
    return true;
}

bool HotFolder::open()
{
    if (const QString why = m_files.holdRoot(m_folder); !why.isEmpty()) {
        m_say(QStringLiteral("\"%1\" cannot be opened: %2").arg(oneLine(m_folder), oneLine(why)));
        return false;
    }
    if (m_files.othersMayRename(m_folder))
        m_say(QStringLiteral("others may write to \"%1\" and it has no sticky bit: any of them "
                             "can rename or remove what the others drop; make it sticky "
                             "(chmod +t), as the README's service section says.")
                  .arg(oneLine(m_folder)));
    for (const QString &sub : {Processing, Printed, Failed})
        if (!ownFolder(at(sub)) || !writable(sub))
            return false;
    m_lock = m_files.tryLock(lockOf(m_own), StaleLockMilliseconds);
    if (!m_lock) {
        m_say(QStringLiteral("\"%1\" is held by another watcher of the same name, or "
                             "cannot be written.")
                  .arg(oneLine(lockOf(m_own))));
        return false;
    }
    return ownFolder(m_own);
}

void HotFolder::heartbeat()
{
    if (m_lock && !m_lock->refresh())
        qCDebug(lcApp) << "the watcher's lock could not be refreshed";
}

void HotFolder::takeOverOrphans(const std::function<void(const Claimed &)> &handle)
{
    const QString processing = at(Processing);
    for (const QString &name : m_files.folders(processing)) {
        if (name == m_watcher) {
            takeOver(name, handle);
            continue;
        }
        const QString claimFolder = processing + QLatin1Char('/') + name;
        if (const QString why = m_files.whyNotOwn(claimFolder); !why.isEmpty()) {
            m_say(QStringLiteral("left alone: %1 (%2)").arg(oneLine(claimFolder), oneLine(why)));
            continue;
        }
        const std::unique_ptr<HeldLock> lock =
            m_files.tryLock(lockOf(claimFolder), StaleLockMilliseconds);
        if (!lock)
            continue; // its watcher runs
        takeOver(name, handle);
        m_files.removeEmptyFolder(claimFolder);
    }
}

namespace {

QString noteBeside(const QString &claimed)
{
    const qsizetype slash = claimed.lastIndexOf(QLatin1Char('/'));
    return claimed.left(slash + 1) + ClaimNote::nameFor(claimed.mid(slash + 1));
}

} // namespace

void HotFolder::takeOver(const QString &claimFolder,
                         const std::function<void(const Claimed &)> &handle)
{
    const QString folder = at(Processing) + QLatin1Char('/') + claimFolder;
    const QStringList names = m_files.files(folder); // regular files: a link is left alone
    QStringList claims, notesInUse;
    for (const QString &name : names) {
        if (!ClaimNote::isNoteName(name)) {
            claims << name;
            notesInUse << ClaimNote::nameFor(name);
        }
    }
    // A note without its file (moved out since), or one half written, is of no use.
    for (const QString &name : names)
        if (ClaimNote::isNoteName(name) && !notesInUse.contains(name))
            m_files.remove(folder + QLatin1Char('/') + name);
    for (const QString &name : std::as_const(claims)) {
        const QString path = folder + QLatin1Char('/') + name;
        const std::optional<QByteArray> hash = m_files.contentHash(path);
        handle(Claimed{path, name, claimFolder, noteOf(path),
                       hash ? claimIdentity(claimFolder, *hash) : QString()});
    }
}

ClaimNote HotFolder::noteOf(const QString &claimed) const
{
    const std::optional<QByteArray> text = m_files.read(noteBeside(claimed));
    return text ? ClaimNote::read(QString::fromUtf8(*text)) : ClaimNote();
}

bool HotFolder::note(const QString &claimed, const ClaimNote &note)
{
    const QString why = m_files.write(noteBeside(claimed), note.text().toUtf8());
    if (!why.isEmpty())
        m_say(QStringLiteral("\"%1\" cannot be written: %2")
                  .arg(oneLine(noteBeside(claimed)), oneLine(why)));
    return why.isEmpty();
}

std::optional<QString> HotFolder::putBack(const Claimed &claimed)
{
    std::optional<QString> placed = moveToFree(claimed.path, m_folder, claimed.name);
    if (placed)
        m_files.remove(noteBeside(claimed.path));
    return placed;
}

std::optional<QString> HotFolder::moveToFree(const QString &from, const QString &folder,
                                             const QString &name)
{
    for (int n = 1;; ++n) {
        const QString target = numberedName(name, n);
        QString why;
        switch (m_files.move(from, folder + QLatin1Char('/') + target, &why)) {
        case MoveOutcome::Moved:
            return target;
        case MoveOutcome::TargetTaken:
            continue;
        case MoveOutcome::SourceGone:
            return std::nullopt;
        case MoveOutcome::Failed:
            m_say(QStringLiteral("\"%1\" could not be moved to \"%2\": %3")
                      .arg(oneLine(from), oneLine(folder), oneLine(why)));
            return std::nullopt;
        }
    }
}

HotFolder::Claim HotFolder::claim(const QString &name, QString &claimed)
{
    const QString source = m_folder + QLatin1Char('/') + name;
    for (int n = 1;; ++n) {
        const QString target = m_own + QLatin1Char('/') + numberedName(name, n);
        QString why;
        switch (m_files.move(source, target, &why)) {
        case MoveOutcome::Moved:
            // Looked at where nobody else can change it any more.
            if (const std::optional<FileState> st = m_files.state(target);
                !st || st->kind != FileKind::Regular) {
                leaveAlone(target, name, st ? st->kind : FileKind::Other);
                return Claim::Refused;
            }
            claimed = target;
            return Claim::Claimed;
        case MoveOutcome::TargetTaken:
            continue;
        case MoveOutcome::SourceGone:
            return Claim::Gone;
        case MoveOutcome::Failed:
            m_say(QStringLiteral("\"%1\" could not be taken: %2; it is left where it is.")
                      .arg(oneLine(source), oneLine(why)));
            return Claim::Refused;
        }
    }
}

void HotFolder::leaveAlone(const QString &claimed, const QString &name, FileKind kind)
{
    m_say(QStringLiteral("left alone: %1 (%2)")
              .arg(oneLine(m_folder + QLatin1Char('/') + name),
                   kind == FileKind::Link
                       ? QStringLiteral("it is a link, and the watcher takes only files")
                       : QStringLiteral("it is not a regular file")));
    moveToFree(claimed, m_folder, name);
}

std::optional<MovedOut> HotFolder::moveOut(const QString &claimed, const QString &name,
                                           bool printed, const QString &report)
{
    const QString sub = printed ? Printed : Failed;
    const QString folder = at(sub);
    for (int n = 1;; ++n) {
        const QString target = fittingName(name, n);
        const QString to = folder + QLatin1Char('/') + target;
        // A failed file's report takes its name first, so that no other
        // watcher can give the same name to a report of its own.
        bool reportMade = false;
        if (!printed) {
            QString why;
            const CreateOutcome made = m_files.createNew(to + QStringLiteral(".txt"), &why);
            if (made == CreateOutcome::Exists)
                continue;
            if (made == CreateOutcome::Failed)
                m_say(QStringLiteral("\"%1.txt\" cannot be written: %2")
                          .arg(oneLine(to), oneLine(why)));
            reportMade = made == CreateOutcome::Created;
        }
        const auto release = [&] {
            if (reportMade)
                m_files.remove(to + QStringLiteral(".txt")); // only the report this watcher began
        };
        QString why;
        switch (m_files.move(claimed, to, &why)) {
        case MoveOutcome::Moved:
            break;
        case MoveOutcome::TargetTaken:
            release();
            continue;
        case MoveOutcome::SourceGone:
        case MoveOutcome::Failed:
            release();
            m_say(QStringLiteral("\"%1\" could not be moved to \"%2\": %3; it stays in %4/%5.")
                      .arg(oneLine(name), oneLine(folder), oneLine(why), Processing, m_watcher));
            return std::nullopt;
        }
        // What the watcher noted of the file in hand is of no use once it is out.
        m_files.remove(noteBeside(claimed));
        MovedOut moved{sub + QLatin1Char('/') + target, false};
        if (reportMade) {
            const QString unwritten = m_files.write(to + QStringLiteral(".txt"), report.toUtf8());
            moved.reportWritten = unwritten.isEmpty();
            if (!moved.reportWritten)
                m_say(QStringLiteral("\"%1.txt\" cannot be written: %2")
                          .arg(oneLine(to), oneLine(unwritten)));
        }
        return moved;
    }
}

} // namespace deckrun
