// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace deckrun {

/** The window pointer values the handlers test and set. */
namespace pointer {
inline constexpr int Default = 0;
inline constexpr int Busy = 11;
inline constexpr int Custom = 99;
} // namespace pointer

/** The window's mouse pointer, as the handlers of every subsystem test and set it. */
class WindowPointer {
public:
    virtual ~WindowPointer() = default;

    /** 0 arrow, 11 hourglass (busy), 99 the custom icon. */
    virtual int mousePointer() const = 0;
    virtual void setMousePointer(int value) = 0;
    bool isBusy() const { return mousePointer() == pointer::Busy; }
};

} // namespace deckrun
