// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How a watcher finds again, after a crash, the print job of a file it had
// claimed: each job carries the claim's identity (the watcher, and a hash of
// the file's content) in its name, and the watcher notes the job's id beside
// the claimed file as soon as it has it. A watcher that takes over the claim
// asks the print service before it prints the file again.

#include "core/hotfolder/ClaimNote.h"
#include "platform/PrintSpooler.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace deckrun {

/** The identity of `watcher`'s claim of a file with this content: "deckrun WATCHER 3f2a9c0b1d7e".
 */
QString claimIdentity(const QString &watcher, const QByteArray &contentHash);

/**
 * A print job's name: the file's name (what the printer shows and names its
 * output after), then the identity in brackets; the name shortened so that
 * the whole fits the 255 bytes a job name may have.
 */
QString claimJobName(const QString &fileName, const QString &identity);

/**
 * The job among `jobs` that printed the claim: the one noted by its id, or
 * else one whose name carries `identity`. A job that was cancelled or
 * aborted printed nothing and does not count.
 */
std::optional<SpooledJob> printedJob(const std::vector<SpooledJob> &jobs, const QString &identity,
                                     int notedJobId);

/** What becomes of a claim that a watcher which ended left behind. */
struct Reconciled {
    enum class Outcome { Printed, Failed, PutBack };
    Outcome outcome = Outcome::PutBack;
    /** Its watcher had noted it printed or failed (and logged it): only moving it out is left. */
    bool recorded = false;
    int jobId = 0;      // Printed: the job that printed it, when known
    int failedStep = 0; // Failed: the step its watcher noted
    /** Put back as the print service could not be asked: its words. */
    QString unknown = {};
};

/**
 * Printed or failed when the claim's note says so; printed when the jobs of
 * `printer` hold one of the claim's (printedJob: by the noted id or its
 * identity); put back to be printed again otherwise, also when `spooler` is
 * none or cannot be asked.
 */
Reconciled reconcile(const Claimed &claim, PrintSpooler *spooler, const QString &printer);

} // namespace deckrun
