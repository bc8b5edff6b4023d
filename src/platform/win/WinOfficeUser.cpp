// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/OfficeUser.h"

namespace deckrun {

// PowerPoint runs in the user's own session, as the user.
QString runOfficeAsOwnerOf(const QString &)
{
    return {};
}

std::optional<OfficeUser> officeUser()
{
    return std::nullopt;
}

} // namespace deckrun
