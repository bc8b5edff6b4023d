// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One running office: the process Deckrun started, the connection to it and
// its active presentation. Every application reference to it shares it; the
// last one dropped without Quit stops the process. Each call into it runs
// under its deadline (see OfficeInstance::call).

#include "platform/uno/UnoGlue.h"

#include <QStringList>
#include <QTimer>

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/uno/RuntimeException.hpp>

#include <functional>
#include <memory>
#include <optional>

class QTemporaryDir;

namespace deckrun {
class PrintSpooler;
}

namespace deckrun::uno {

class OfficeChild;
class OfficeProfile;
class OfficeWorkspace;

struct OfficeInstance {
    std::unique_ptr<OfficeProfile> profile;     // held while the office runs on it
    std::unique_ptr<OfficeWorkspace> workspace; // the one folder it writes to
    std::unique_ptr<OfficeChild> child;
    QString pipeSocket; // the socket file of the pipe Deckrun reaches it by
    Reference<css::uno::XComponentContext> remote;
    Reference<css::frame::XDesktop2> desktop;
    Reference<css::lang::XComponent> document;
    QString documentPath;
    bool withoutFrame = false;           // the document was loaded as a model alone
    QString printer;                     // the printer set for the active presentation
    std::optional<QString> printRefusal; // why nothing may print: the printer asked for was refused
    std::function<QStringList()> printerNames;
    PrintSpooler *spooler = nullptr; // where print jobs go
    std::function<void(const QString &, long)> beforeCall;
    bool headless = true;
    bool visible = false;
    bool ended = false;

    OfficeInstance();
    ~OfficeInstance();
    OfficeInstance(const OfficeInstance &) = delete;
    OfficeInstance &operator=(const OfficeInstance &) = delete;

    /** Whether this is still the office Deckrun started, its process running. */
    bool alive();
    long pid();
    void releaseReferences();

    /**
     * Ends the office: a failed open, or Deckrun ending mid-run. It is asked
     * to end for a moment, then killed, so that closing the window ends
     * Deckrun and its office within half a second.
     */
    void stop(double grace = 0.2);

    /** Kills the office's process group at once, from any thread (see OfficeChild::kill). */
    void kill();

    /** Stops an office that misbehaves: its whole process group, at once. */
    void abandon() { stop(0); }

    void requireDocument() const;

    /** A folder for one print job, which the office may write to. */
    std::unique_ptr<QTemporaryDir> jobFolder() const;

    /**
     * Whether the office was seen with a third of its memory bound or more: a
     * failure then is for want of memory (what fails at the bound is most
     * often a block that doubles one already held).
     */
    bool nearMemoryBound();
    /** Stops an office that ran out of memory while `doing`, and says so. */
    [[noreturn]] void failForMemory(const QString &doing);

    /**
     * Whether the office is gone after an exception ended a call: one that
     * says the connection broke (`bridgeLost`, `disposed`) while the process ended.
     */
    bool goneAfter(bool bridgeLost, bool disposed);
    void failIfGone(bool bridgeLost, bool disposed, const QString &doing);

    /**
     * Runs one call into the office with the deadline of `kind` (or `until`),
     * on a thread of its own. A call that does not return in time stops the
     * office at its deadline and fails; an office that dies during the call
     * fails as stopped; any other UNO exception reaches the caller to be
     * worded there.
     */
    template <typename F>
    std::invoke_result_t<F> call(OfficeCall kind, const char *name, const QString &doing, F work,
                                 std::optional<SteadyClock::time_point> until = std::nullopt)
    {
        const double seconds = beginCall(kind, name);
        // Its memory looked at while it works: one that dies of want of
        // memory can no longer be asked afterwards.
        QTimer memory;
        memory.callOnTimeout([this] { nearMemoryBound(); });
        memory.start(100);
        try {
            auto result = runOffThread(std::move(work), until.value_or(deadlineAfter(seconds)),
                                       [this] { abandon(); });
            if (!result)
                throw Failure(notAnswering(seconds));
            return std::move(*result);
        } catch (const css::lang::DisposedException &) {
            failIfGone(true, true, doing);
            throw;
        } catch (const css::uno::RuntimeException &) {
            failIfGone(true, false, doing);
            throw;
        } catch (const css::uno::Exception &) {
            failIfGone(false, false, doing);
            throw;
        }
    }

private:
    /** Refuses a call into an office that has ended, tells the tests' hook; the call's seconds. */
    double beginCall(OfficeCall kind, const char *name);
};

} // namespace deckrun::uno
