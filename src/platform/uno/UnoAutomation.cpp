// SPDX-License-Identifier: GPL-3.0-or-later
// The office's process lifecycle: finding or starting an office on Deckrun's
// own profile and pipe, connecting to it, and stopping it when Deckrun ends.

#include "platform/uno/UnoAutomation.h"

#include "platform/Display.h"
#include "platform/Logging.h"
#include "platform/OfficeUser.h"
#include "platform/Platform.h"
#include "platform/uno/OfficeInstance.h"
#include "platform/uno/OfficeProcess.h"
#include "platform/uno/OfficeWorkspace.h"
#include "platform/uno/UnoDocument.h"
#include "platform/uno/UnoGlue.h"

#include <QStandardPaths>

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>

namespace deckrun::uno {

UnoAutomation::UnoAutomation(Printers &printers, UnoOptions options)
    : m_printers(printers), m_options(std::move(options))
{
    if (!m_options.spooler) {
        m_ownSpooler = makeSystemPrintSpooler();
        m_options.spooler = m_ownSpooler.get();
    }
    if (m_options.programDir.isEmpty())
#ifdef DECKRUN_LO_PROGRAM_DIR
        m_options.programDir = QStringLiteral(DECKRUN_LO_PROGRAM_DIR);
#else
        m_options.programDir = QStringLiteral("/usr/lib/libreoffice/program");
#endif
    if (m_options.profileRoot.isEmpty())
        m_options.profileRoot =
            QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
            QStringLiteral("/deckrun/libreoffice");
    if (!m_options.headless)
        m_options.headless = !displayAvailable(); // no screen: the office runs headless
    reapOwnChildren();
}

UnoAutomation::~UnoAutomation()
{
    shutdown();
}

bool UnoAutomation::isInstalled()
{
    return OfficeInstallation(m_options.programDir).usable();
}

QString UnoAutomation::expectedName() const
{
    return OfficeInstallation(m_options.programDir).productName();
}

long UnoAutomation::childPid() const
{
    const auto office = current().lock();
    return office && office->alive() ? office->child->pid() : -1;
}

std::shared_ptr<OfficeInstance>
UnoAutomation::attach(const QString &pipeName, OfficeChild &child,
                      std::chrono::steady_clock::time_point deadline)
{
    const auto local = localContext(m_options.programDir);
    auto office = std::make_shared<OfficeInstance>();
    office->printerNames = [&printers = m_printers] { return printers.printerNames(); };
    office->spooler = m_options.spooler;
    office->beforeCall = m_options.beforeCall;
    office->headless = m_options.headless.value_or(true);
    if (m_options.beforeCall)
        m_options.beforeCall(QStringLiteral("connect"), child.pid());
    // Connected only to a socket of the office's own user, where no other
    // user can put one in its place (the folder is sticky).
    const QString socket = pipeSocketFile(pipeName);
    switch (pipeSocketAt(socket, child.user())) {
    case PipeSocket::Absent:
        return nullptr; // not listening yet
    case PipeSocket::Stranger:
        throw Failure(QStringLiteral("the socket \"%1\" it was to listen on was made by "
                                     "another user.")
                          .arg(socket));
    case PipeSocket::Office:
        break;
    }
    struct Connection {
        Reference<css::uno::XComponentContext> remote;
        Reference<css::frame::XDesktop2> desktop;
    };
    const auto connection = runOffThread(
        [local,
         url = ou(
             QStringLiteral("uno:pipe,name=%1;urp;StarOffice.ComponentContext").arg(pipeName))]() {
            Connection c;
            const Reference<css::bridge::XUnoUrlResolver> resolver =
                css::bridge::UnoUrlResolver::create(local);
            try {
                c.remote =
                    Reference<css::uno::XComponentContext>(resolver->resolve(url), UNO_QUERY);
            } catch (const css::connection::NoConnectException &) {
                return c; // nothing answers there
            }
            if (c.remote.is())
                c.desktop = css::frame::Desktop::create(c.remote);
            return c;
        },
        deadline, [&child] { child.stop(0); });
    if (!connection)
        throw OfficeNotAnswering();
    if (!connection->remote.is())
        return nullptr;
    office->remote = connection->remote;
    office->desktop = connection->desktop;
    return office;
}

std::shared_ptr<PresentationApp> UnoAutomation::create()
{
    return edge(Product + QStringLiteral(" could not be started: "),
                [&]() -> std::shared_ptr<PresentationApp> { return start(); });
}

std::shared_ptr<PresentationApp> UnoAutomation::start()
{
    if (auto office = current().lock(); office && office->alive())
        return makeUnoApp(office);

    const OfficeInstallation installation(m_options.programDir);
    if (!installation.usable())
        throw Failure(Product + QStringLiteral(" is not installed in ") + m_options.programDir);
    const bool headless = m_options.headless.value_or(true);
    auto workspace = OfficeWorkspace::make();
    // A Deckrun run as root has its office run as another user, with a
    // profile of its own in its folder (root's cache is out of its reach).
    const std::optional<OfficeUser> user = officeUser();
    auto profile = OfficeProfile::acquire(user ? workspace->profileRoot() : m_options.profileRoot);
    // An office left on this free profile by an earlier Deckrun (answering or
    // hung) is stopped: Deckrun drives only an office it started itself, one
    // that ends with it.
    stopOfficesOnProfile(profile->url(), 5.0);
    profile->seed(installation.setupVersion(), installation.remoteContentProviders());
    if (user)
        workspace->handTo(user->uid, user->gid);

    // A name nobody knows before the office starts, in a folder every user writes to.
    const QString pipe = newPipeName();
    QStringList arguments{QStringLiteral("--accept=pipe,name=%1;urp;").arg(pipe),
                          QStringLiteral("-env:UserInstallation=") + profile->url(),
                          QStringLiteral("--norestore"),
                          QStringLiteral("--nologo"),
                          QStringLiteral("--nodefault"),
                          QStringLiteral("--nolockcheck")};
    if (headless)
        arguments << QStringLiteral("--headless");
    // The office process itself, without the launcher script and splash
    // helper in front of it; what they would do for it is done here. Its
    // temporary files go in its own folder.
    QStringList environment{QStringLiteral("SAL_ENABLE_FILE_LOCKING=1"),
                            QStringLiteral("TMPDIR=") + workspace->temporaryFolder()};
    // The office reads the file URLs it is handed in its own locale's
    // encoding: without a UTF-8 one (cron, a service, env -i) every name
    // outside ASCII would fail to open.
    if (const QString locale = officeLocale(); !locale.isEmpty())
        environment << QStringLiteral("LC_ALL=") + locale;
    OfficeConfinement confinement;
    if (m_options.confined)
        confinement =
            officeConfinement(m_options.programDir, profile->folder(), workspace->path(), headless);
    confinement.memoryBytes = officeMemoryBound() * 1024 * 1024;
    if (user)
        confinement.runAs = OfficeConfinement::User{user->uid, user->gid};
    // Started from this (the window's) thread: the office dies with the thread that starts it.
    if (m_options.beforeCall)
        m_options.beforeCall(QStringLiteral("start"), -1);
    const auto startOffice = [&] {
        return std::make_unique<OfficeChild>(installation.officeBinary(), arguments, environment,
                                             confinement);
    };
    auto child = startOffice();
    int restarts = 0;

    const double seconds = officeDeadline(OfficeCall::Start);
    const auto deadline = deadlineAfter(seconds);
    for (;;) {
        std::shared_ptr<OfficeInstance> office;
        try {
            office = attach(pipe, *child, deadline);
        } catch (const OfficeNotAnswering &) {
            child->stop(0);
            throw Failure(notAnswering(seconds));
        } catch (const css::uno::Exception &e) {
            // Answering but not ready yet.
            qCDebug(lcOffice) << "office not ready yet:" << qs(e.Message);
        }
        if (office) {
            office->profile = std::move(profile);
            office->workspace = std::move(workspace);
            office->child = std::move(child);
            office->pipeSocket = pipeSocketFile(pipe);
            {
                const std::lock_guard lock(m_currentLock);
                m_current = office;
            }
            return makeUnoApp(office);
        }
        if (!child->running() && asksForRestart(child->exitStatus()) && ++restarts <= 2) {
            child = startOffice();
            continue;
        }
        if (!child->running())
            throw Failure(QStringLiteral("%1 ended before it could be reached (exit status %2).")
                              .arg(Product)
                              .arg(child->exitStatus()));
        // The office takes 0.1 to 0.2 s to open its pipe; short, even polls find it soonest.
        const auto nextLook = SteadyClock::now() + std::chrono::milliseconds(5);
        if (!waitUntil([nextLook] { return SteadyClock::now() >= nextLook; }, deadline,
                       [&child] { child->stop(0); }))
            throw Failure(notAnswering(seconds));
    }
}

std::shared_ptr<PresentationApp> UnoAutomation::getRunning()
{
    // Only the office this Deckrun started, known by its process: another
    // Deckrun's office, or one left on a profile, is never driven (nor quit).
    // The check asks nothing of the office; its name is the one call.
    if (auto office = current().lock(); office && office->alive())
        return makeUnoApp(office);
    throw Failure(Product + QStringLiteral(" is not running."), code::CannotCreateObject);
}

std::weak_ptr<OfficeInstance> UnoAutomation::current() const
{
    const std::lock_guard lock(m_currentLock);
    return m_current;
}

void UnoAutomation::abort()
{
    if (auto office = current().lock())
        office->kill();
}

void UnoAutomation::shutdown()
{
    if (auto office = current().lock())
        office->stop();
}

} // namespace deckrun::uno

namespace deckrun {

std::unique_ptr<PresentationAutomation>
makeSystemPresentationAutomation(Printers &printers, PrintSpooler *spooler, bool windowless)
{
    uno::UnoOptions options;
    options.spooler = spooler;
    if (windowless)
        options.headless = true;
    return std::make_unique<uno::UnoAutomation>(printers, std::move(options));
}

bool systemPrints(PrintLayout)
{
    return true; // the outline too, laid out by the office as a drawing
}

} // namespace deckrun
