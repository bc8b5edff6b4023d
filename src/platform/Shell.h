// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>

namespace deckrun {

/** Hands addresses and folders to the desktop; never waits, never runs a command line. */
class Shell {
public:
    virtual ~Shell() = default;
    virtual void openUrl(const QUrl &url) = 0;
    virtual void openFolder(const QString &path) = 0;
};

} // namespace deckrun
