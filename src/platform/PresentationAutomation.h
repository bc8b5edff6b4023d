// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/PresentationApp.h"
#include "platform/PrintSettings.h"

#include <QString>

#include <memory>

namespace deckrun {

/**
 * The way to the application: create it, find the running one. One backend per
 * system (PowerPoint through COM, LibreOffice through UNO), and a simulated one
 * for tests.
 */
class PresentationAutomation {
public:
    virtual ~PresentationAutomation() = default;

    /** Creates (starts) the application; throws Failure when it cannot. */
    virtual std::shared_ptr<PresentationApp> create() = 0;
    /**
     * The running instance; throws Failure when none runs, and Failure with
     * code::NotAnswering when one runs but does not answer in time (behind a
     * dialog, perhaps): its calls fail the same way.
     */
    virtual std::shared_ptr<PresentationApp> getRunning() = 0;
    /**
     * Whether the application can be used at all. The default creates it and
     * releases it at once; a backend whose start is costly may only look for a
     * usable installation.
     */
    virtual bool isInstalled();
    /** The name a running instance of this application reports. */
    virtual QString expectedName() const = 0;
    /** The product as messages name it ("PowerPoint", "LibreOffice Impress"). */
    virtual QString productLabel() const = 0;
    /** The process a user would end by hand ("POWERPNT.EXE", "soffice.bin"). */
    virtual QString processName() const = 0;
    /** Stops any application process that Deckrun started; used when the program ends. */
    virtual void shutdown() {}
    /**
     * Stops the application Deckrun started at once, from any thread, also
     * while a call into it is under way on another thread (that call then
     * fails soon): a run asked twice to stop, or one that will not wait for
     * a file it opened ahead. By default shutdown().
     */
    virtual void abort() { shutdown(); }
    /**
     * Whether an instance of the application runs that Deckrun did not start
     * and that a create() would hand out, to be shared with its user: false
     * where Deckrun always starts one of its own (LibreOffice on a profile of
     * Deckrun's), true for PowerPoint while one runs that Deckrun did not start.
     */
    virtual bool someoneElsesRunning() { return false; }
    /**
     * Whether several of these, made by one program, run separate
     * applications side by side (`--jobs`); false where there is one per
     * session, as PowerPoint is.
     */
    virtual bool runsSideBySide() const { return false; }
    /**
     * Why this application cannot print as `asked` says, in a sentence (on
     * Windows two-sided printing is the printer's own setting); empty when it can.
     */
    virtual QString refusal(const PrintSettings &asked) const
    {
        (void)asked;
        return {};
    }
};

} // namespace deckrun
