// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Presentation.h"

#include <QString>

#include <memory>

namespace deckrun {

/**
 * One reference to the presentation application, the automation surface the
 * print run drives. Dropping the last reference releases it. Every call
 * throws Failure with the application's own description when it fails.
 */
class PresentationApp {
public:
    virtual ~PresentationApp() = default;
    /** The application's default member: its name. */
    virtual QString name() = 0;
    virtual void setVisible(bool visible) = 0;
    /** `Presentations.Open` with the single argument "fileName". */
    virtual void open(const QString &fileName) = 0;
    /**
     * Opens the file read-only and without a window of its own, for a run
     * that keeps one hidden application for many files (PowerPoint refuses
     * to open a file in a window while it is hidden). By default as open().
     */
    virtual void openHidden(const QString &fileName) { open(fileName); }
    virtual std::shared_ptr<Presentation> activePresentation() = 0;
    /** `ActivePresentation.PrintOptions.ActivePrinter`. */
    virtual void setActivePrinter(const QString &printerName) = 0;
    virtual void quit() = 0;
};

} // namespace deckrun
