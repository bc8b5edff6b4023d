// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The presentation application as LibreOffice Impress, driven through UNO.
// The office runs as Deckrun's own child process on Deckrun's own profile and
// pipe, never on the user's LibreOffice profile: "create" starts it, "find the
// running instance" is that office while its process runs (never another
// office, on any profile), and quitting, a failed open or the end of Deckrun
// make sure the process ends.
//
// Every call into the office runs on a thread of its own while the calling
// thread waits for it in an event loop (the window's stays live), until the
// call returns or its deadline passes; then the office's process group is
// stopped, on time even under a modal dialog, and the step fails with a
// description. The caller still sees one call at a time, in order. Every UNO
// exception is turned into a Failure here, at the edge.

#include "platform/OfficeDeadline.h"
#include "platform/PresentationAutomation.h"
#include "platform/PrintSpooler.h"
#include "platform/Printers.h"

#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace deckrun::uno {

struct OfficeInstance;
class OfficeChild;

struct UnoOptions {
    /** Where Deckrun keeps its office profiles; empty: the user's cache folder. */
    QString profileRoot;
    /** LibreOffice's program folder. */
    QString programDir;
    /** Run without a window; unset: whenever there is no display. */
    std::optional<bool> headless;
    /**
     * Called on the calling thread right before each call into the office
     * ("start", "connect", "name", "load", "close", "printer", "print",
     * "quit") with the office's process id (-1 before it runs). Tests inject
     * their faults into the real office here.
     */
    std::function<void(const QString &call, long officePid)> beforeCall;
    /** Where print jobs go (the platform's); none: a print service of the office's own. */
    PrintSpooler *spooler = nullptr;
    /**
     * The office kept from the network and from files beyond its own, where
     * the system allows it; off only where a test looks at what the office's
     * own settings keep it from.
     */
    bool confined = true;
};

class UnoAutomation final : public PresentationAutomation {
public:
    /** `printers` says which printers exist: a name it does not list is refused. */
    explicit UnoAutomation(Printers &printers, UnoOptions options = {});
    ~UnoAutomation() override;

    std::shared_ptr<PresentationApp> create() override;
    /** The office this Deckrun started, while its process runs; never another one. */
    std::shared_ptr<PresentationApp> getRunning() override;
    /** Looks for a usable installation only; the office is first started at the first print. */
    bool isInstalled() override;
    QString expectedName() const override;
    QString productLabel() const override { return QStringLiteral("LibreOffice Impress"); }
    QString processName() const override { return QStringLiteral("soffice.bin"); }
    void shutdown() override;
    /** Kills the office's process group; safe from any thread. */
    void abort() override;
    /** Each office runs on a profile of its own. */
    bool runsSideBySide() const override { return true; }

    /** The profile root in use (tests look for their processes by it). */
    const QString &profileRoot() const { return m_options.profileRoot; }
    /** The process id of the office Deckrun started and that still runs; -1 when none. */
    long childPid() const;

private:
    /** What attach throws when the office on the pipe does not answer by the deadline. */
    struct OfficeNotAnswering {};
    /** Connects to the office on `pipeName`; null when nothing answers there. */
    std::shared_ptr<OfficeInstance> attach(const QString &pipeName, OfficeChild &child,
                                           std::chrono::steady_clock::time_point deadline);
    std::shared_ptr<PresentationApp> start();

    Printers &m_printers;
    UnoOptions m_options;
    std::unique_ptr<PrintSpooler> m_ownSpooler; // when none was given
    std::weak_ptr<OfficeInstance> current() const;

    mutable std::mutex m_currentLock; // abort() reads m_current from another thread
    std::weak_ptr<OfficeInstance> m_current;
};

} // namespace deckrun::uno
