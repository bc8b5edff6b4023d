// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdlib>

namespace deckrun {

/** The running program itself: where it lies and how it ends. */
class ProgramControl {
public:
    virtual ~ProgramControl() = default;
    /** The folder that holds the executable, without a trailing separator. */
    virtual QString programFolder() = 0;
    /**
     * Ends the program at once, from wherever it is called: stops the
     * presentation application Deckrun started, then ends the process.
     * Never returns (test doubles throw ProgramEnded).
     */
    [[noreturn]] virtual void endNow() = 0;
    /**
     * Ends the program at once because it cannot work on this computer (no
     * presentation application): as endNow(), with an exit status that says
     * so to a launcher or script. Doubles may leave it to endNow().
     */
    [[noreturn]] virtual void refuseToStart()
    {
        endNow();
        std::abort(); // not reached: endNow() does not return
    }
};

} // namespace deckrun
