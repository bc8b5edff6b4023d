// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileHandover.h"

#include <QDir>

#include <string>

#include <windows.h>

namespace deckrun {

namespace {

std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

} // namespace

MoveOutcome moveWithoutReplacing(const QString &from, const QString &to, QString *error)
{
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    if (MoveFileExW(native(from).c_str(), native(to).c_str(), 0))
        return MoveOutcome::Moved;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)
        return MoveOutcome::TargetTaken;
    if ((code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) &&
        GetFileAttributesW(native(from).c_str()) == INVALID_FILE_ATTRIBUTES)
        return MoveOutcome::SourceGone;
    if (error)
        *error = QStringLiteral("Windows error %1").arg(code);
    return MoveOutcome::Failed;
}

QStringList filesOpenForWriting(const QStringList &paths)
{
    QStringList open;
    for (const QString &path : paths) {
        // Shared for reading only: refused while anyone holds it open for writing.
        const HANDLE file = CreateFileW(native(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_SHARING_VIOLATION)
                open << path;
            continue;
        }
        CloseHandle(file);
    }
    return open;
}

} // namespace deckrun
