// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace deckrun {

/**
 * Whether there is a screen to show windows on: false under Qt's offscreen
 * and minimal platforms (QT_QPA_PLATFORM), and on Linux and FreeBSD when
 * neither DISPLAY nor WAYLAND_DISPLAY is set. The program refuses to start
 * without one (unless a Qt platform is chosen), and the office then runs
 * without a window.
 */
bool displayAvailable();

} // namespace deckrun
