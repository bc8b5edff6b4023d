// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/OfficeUser.h"

#include <QFile>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace deckrun {

namespace {

std::optional<OfficeUser> &chosen()
{
    static std::optional<OfficeUser> user;
    return user;
}

QString nameOf(uid_t uid)
{
    const passwd *entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

} // namespace

QString runOfficeAsOwnerOf(const QString &folder)
{
    if (::geteuid() != 0)
        return {};
    const QString advice =
        QStringLiteral("Deckrun runs as root; a print server should run as a user of its own "
                       "(the service runs as \"deckrun\"). ");
    struct stat info {};
    if (::stat(QFile::encodeName(folder).constData(), &info) != 0 || info.st_uid == 0)
        return advice +
               QStringLiteral("LibreOffice runs as root too, as root owns \"%1\".").arg(folder);
    const passwd *owner = ::getpwuid(info.st_uid);
    chosen() = OfficeUser{info.st_uid, owner ? owner->pw_gid : info.st_gid};
    return advice + QStringLiteral("LibreOffice runs as \"%1\", the owner of \"%2\".")
                        .arg(nameOf(info.st_uid), folder);
}

std::optional<OfficeUser> officeUser()
{
    return chosen();
}

} // namespace deckrun
