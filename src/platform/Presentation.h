// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace deckrun {

/** The application's active presentation (`ActivePresentation`). */
class Presentation {
public:
    virtual ~Presentation() = default;
    /** `PrintOptions.PrintInBackground`. */
    virtual void setPrintInBackground(bool background) = 0;
    /** `PrintOut` without arguments: the presentation's own settings, the chosen printer. */
    virtual void printOut() = 0;
    /**
     * `Close`: the presentation is closed and the application keeps running,
     * for a run that prints many files through one application.
     */
    virtual void close() = 0;
};

} // namespace deckrun
