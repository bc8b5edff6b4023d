// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one check of a plain message box, shared by every test that expects one.

#include "support/FakePlatform.h"

#include <gtest/gtest.h>

#include <optional>

namespace deckrun::test {

/**
 * A plain message box as the user sees it: `text` with `buttons` and no icon,
 * under `title` when one is given (the application title start-up set).
 */
inline void expectMessageBox(const ShownMessage &m, const QString &text, Buttons buttons,
                             const std::optional<QString> &title = std::nullopt)
{
    EXPECT_EQ(m.text, text);
    EXPECT_EQ(m.buttons, buttons);
    EXPECT_EQ(m.icon, Icon::None);
    if (title) {
        EXPECT_EQ(m.title, *title);
    }
}

} // namespace deckrun::test
