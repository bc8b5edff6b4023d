// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/PrintSettings.h"

#include <QString>

namespace deckrun {

/** What a print handed over. */
struct PrintedJob {
    /** The print service's job; 0 where none is known (the application prints itself). */
    int jobId = 0;
    /** The settings it printed with: the deck's own, with what the run asked for over them. */
    PrintSettings settings;
    /** What was asked for and not printed, in a sentence; empty when everything was. */
    QString notice;
};

/** The application's active presentation (`ActivePresentation`). */
class Presentation {
public:
    virtual ~Presentation() = default;
    /** `PrintOptions.PrintInBackground`. */
    virtual void setPrintInBackground(bool background) = 0;
    /**
     * `PrintOut`: the presentation's own print settings, with each setting
     * `asked` says over them, on the chosen printer; returns once the job is
     * handed over. `jobName` names the job where the print service keeps
     * names (a watcher's claim, so that a job can be found again after a
     * crash); empty: the file's name.
     */
    virtual PrintedJob printOut(const PrintSettings &asked = {}, const QString &jobName = {}) = 0;
    /**
     * `Close`: the presentation is closed and the application keeps running,
     * for a run that prints many files through one application.
     */
    virtual void close() = 0;
};

} // namespace deckrun
