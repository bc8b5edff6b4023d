// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The presentation application as LibreOffice Impress, driven through UNO.
// The office runs as Deckrun's own child process on Deckrun's own profile and
// pipe, never on the user's LibreOffice profile: "create" starts it, "find the
// running instance" connects to that pipe, and quitting, a failed open or the
// end of Deckrun make sure the process ends.

#include "platform/PresentationApp.h"

#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace deckrun::uno {

struct OfficeInstance;

struct UnoOptions {
    /** Where Deckrun keeps its office profiles; empty: the user's cache folder. */
    QString profileRoot;
    /** LibreOffice's program folder. */
    QString programDir;
    /** The printers the system knows; empty function: QPrinterInfo. */
    std::function<QStringList()> printerNames;
    /** Run without a window; unset: whenever there is no display. */
    std::optional<bool> headless;
    /** How long a start may take before it counts as failed. */
    double startTimeout = 60.0;
};

class UnoAutomation final : public PresentationAutomation {
public:
    explicit UnoAutomation(UnoOptions options = {});
    ~UnoAutomation() override;

    std::shared_ptr<PresentationApp> create() override;
    std::shared_ptr<PresentationApp> getRunning() override;
    /** Looks for a usable installation only; the office is first started at the first print. */
    bool isInstalled() override;
    QString expectedName() const override;
    QString productLabel() const override { return QStringLiteral("LibreOffice Impress"); }
    QString processName() const override { return QStringLiteral("soffice.bin"); }
    void shutdown() override;

    /** The profile root in use (tests look for their processes by it). */
    const QString &profileRoot() const { return m_options.profileRoot; }
    /** The process id of the office Deckrun started and that still runs; -1 when none. */
    long childPid() const;

private:
    std::shared_ptr<OfficeInstance> attach(const QString &pipeName);

    UnoOptions m_options;
    std::weak_ptr<OfficeInstance> m_current;
};

} // namespace deckrun::uno
