// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/UnoPresentation.h"

#include "platform/Failure.h"
#include "platform/Platform.h"
#include "platform/uno/OfficeProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QPrinterInfo>
#include <QStandardPaths>
#include <QUrl>

#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/task/XInteractionRequest.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/view/PrintJobEvent.hpp>
#include <com/sun/star/view/PrintableState.hpp>
#include <com/sun/star/view/XPrintJobBroadcaster.hpp>
#include <com/sun/star/view/XPrintJobListener.hpp>
#include <com/sun/star/view/XPrintable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>
#include <rtl/ustring.hxx>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <thread>

namespace css = com::sun::star;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

namespace deckrun::uno {

namespace {

const QString Product = QStringLiteral("LibreOffice Impress");

OUString ou(const QString &s)
{
    return OUString(reinterpret_cast<const sal_Unicode *>(s.utf16()),
                    static_cast<sal_Int32>(s.size()));
}

QString qs(const OUString &s)
{
    return QString(reinterpret_cast<const QChar *>(s.getStr()), s.getLength());
}

template <typename T> css::uno::Sequence<T> sequence(std::initializer_list<T> items)
{
    css::uno::Sequence<T> s(static_cast<sal_Int32>(items.size()));
    std::copy(items.begin(), items.end(), s.getArray());
    return s;
}

css::beans::PropertyValue property(const char *name, const css::uno::Any &value)
{
    css::beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

/** The office's own words for a failure, or a plain statement when it gave none. */
QString describe(const css::uno::Exception &e)
{
    const QString message = qs(e.Message).trimmed();
    return message.isEmpty() ? QStringLiteral("LibreOffice did not answer.") : message;
}

/**
 * The process's UNO runtime, made once. The bootstrap file must be known
 * before the first UNO call, or the first call into the office crashes.
 */
Reference<css::uno::XComponentContext> localContext(const QString &programDir)
{
    static std::mutex guard;
    static Reference<css::uno::XComponentContext> context;
    const std::lock_guard lock(guard);
    if (!context.is()) {
        const QString rc =
            QUrl::fromLocalFile(programDir + QStringLiteral("/fundamentalrc")).toLocalFile();
        qputenv("URE_BOOTSTRAP", (QStringLiteral("vnd.sun.star.pathname:") + rc).toUtf8());
        try {
            context = cppu::defaultBootstrap_InitialComponentContext();
        } catch (const css::uno::Exception &e) {
            throw Failure(QStringLiteral("LibreOffice's UNO runtime could not be started: ") +
                          describe(e));
        }
    }
    return context;
}

/** Answers every question the office asks while loading with "abort": no dialog ever waits for a
 * user. */
class AbortingInteractionHandler final
    : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
public:
    void SAL_CALL handle(const Reference<css::task::XInteractionRequest> &request) override
    {
        if (!request.is())
            return;
        const auto continuations = request->getContinuations();
        for (const auto &c : continuations) {
            const Reference<css::task::XInteractionAbort> abort(c, UNO_QUERY);
            if (abort.is()) {
                abort->select();
                return;
            }
        }
    }
};

/** Collects the states of one print job, reported by the office on a bridge thread. */
class PrintJobWatcher final : public cppu::WeakImplHelper1<css::view::XPrintJobListener> {
public:
    void SAL_CALL printJobEvent(const css::view::PrintJobEvent &event) override
    {
        const std::lock_guard lock(m_mutex);
        m_last = event.State;
        if (event.State == css::view::PrintableState_JOB_SPOOLED ||
            event.State == css::view::PrintableState_JOB_COMPLETED ||
            event.State == css::view::PrintableState_JOB_ABORTED ||
            event.State == css::view::PrintableState_JOB_FAILED ||
            event.State == css::view::PrintableState_JOB_SPOOLING_FAILED)
            m_final = event.State;
        m_changed.notify_all();
    }
    void SAL_CALL disposing(const css::lang::EventObject &) override {}

    /** The job's final state, waiting up to `seconds` for it; none when the office reported none.
     */
    std::optional<css::view::PrintableState> finalState(double seconds)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::duration<double>(seconds),
                           [this] { return m_final.has_value(); });
        return m_final;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<css::view::PrintableState> m_last, m_final;
};

QStringList systemPrinterNames()
{
    return QPrinterInfo::availablePrinterNames();
}

} // namespace

// One running office: the process Deckrun started (or found on its own pipe),
// the connection to it and its active presentation. Every application
// reference shares it; the last one dropped without Quit stops the process.
struct OfficeInstance {
    std::unique_ptr<OfficeProfile> profile; // held while the office runs on it
    std::unique_ptr<OfficeChild> child;     // null when found running rather than started
    Reference<css::uno::XComponentContext> remote;
    Reference<css::frame::XDesktop2> desktop;
    Reference<css::lang::XComponent> document;
    QString documentPath;
    QString printer;                       // the printer set for the active presentation
    std::optional<QString> refusedPrinter; // asked for and refused: nothing may print elsewhere
    std::function<QStringList()> printerNames;
    bool headless = true;
    bool visible = false;
    bool ended = false;

    ~OfficeInstance() { stop(); }

    void releaseReferences()
    {
        document.clear();
        desktop.clear();
        remote.clear();
    }

    /** Ends the office at once (without asking it): a failed open, or Deckrun ending mid-run. */
    void stop()
    {
        if (ended)
            return;
        ended = true;
        if (child)
            child->stop(2.0);
        try {
            releaseReferences();
        } catch (...) {
        }
        profile.reset();
    }

    void requireDocument() const
    {
        if (ended)
            throw Failure(Product + QStringLiteral(" is no longer running."));
        if (!document.is())
            throw Failure(QStringLiteral(
                "ActivePresentation : Invalid request.  There is no active presentation."));
    }
};

namespace {

class UnoPresentationObject final : public Presentation {
public:
    UnoPresentationObject(std::shared_ptr<OfficeInstance> office,
                          Reference<css::lang::XComponent> document)
        : m_office(std::move(office)), m_document(std::move(document))
    {}

    // The office always prints in the foreground (Wait): the application is quit right after
    // printing.
    void setPrintInBackground(bool) override {}

    void printOut() override
    {
        OfficeInstance &o = *m_office;
        if (o.ended)
            throw Failure(Product + QStringLiteral(" is no longer running."));
        const QString file = QFileInfo(o.documentPath).fileName();
        if (o.refusedPrinter)
            throw Failure(
                o.refusedPrinter->isEmpty()
                    ? QStringLiteral("\"%1\" was not printed: no printer was chosen.").arg(file)
                    : QStringLiteral("\"%1\" was not printed: the printer \"%2\" is not known to "
                                     "this system.")
                          .arg(file, *o.refusedPrinter));
        const rtl::Reference<PrintJobWatcher> watcher(new PrintJobWatcher);
        const Reference<css::view::XPrintJobListener> listener(watcher.get());
        try {
            const Reference<css::view::XPrintable> printable(m_document, UNO_QUERY_THROW);
            const Reference<css::view::XPrintJobBroadcaster> broadcaster(m_document, UNO_QUERY);
            if (broadcaster.is())
                broadcaster->addPrintJobListener(listener);
            printable->print(sequence({property("Wait", css::uno::Any(true))}));
            const auto state = watcher->finalState(10.0);
            if (broadcaster.is())
                broadcaster->removePrintJobListener(listener);
            if (state == css::view::PrintableState_JOB_FAILED ||
                state == css::view::PrintableState_JOB_SPOOLING_FAILED ||
                state == css::view::PrintableState_JOB_ABORTED)
                throw Failure(QStringLiteral("%1 could not print \"%2\" on the printer \"%3\".")
                                  .arg(Product, file, o.printer));
        } catch (const css::uno::Exception &e) {
            throw Failure(
                QStringLiteral("%1 could not print \"%2\": %3").arg(Product, file, describe(e)));
        }
    }

private:
    std::shared_ptr<OfficeInstance> m_office;
    Reference<css::lang::XComponent> m_document;
};

class UnoApp final : public PresentationApp {
public:
    explicit UnoApp(std::shared_ptr<OfficeInstance> office) : m_office(std::move(office)) {}

    QString name() override
    {
        alive();
        try {
            const Reference<css::lang::XMultiServiceFactory> provider =
                css::configuration::theDefaultProvider::get(m_office->remote);
            css::beans::NamedValue path;
            path.Name = "nodepath";
            path.Value <<= OUString("/org.openoffice.Setup/Product");
            const Reference<css::container::XNameAccess> product(
                provider->createInstanceWithArguments(
                    "com.sun.star.configuration.ConfigurationAccess",
                    sequence({css::uno::Any(path)})),
                UNO_QUERY_THROW);
            OUString name;
            product->getByName("ooName") >>= name;
            return qs(name);
        } catch (const css::uno::Exception &e) {
            throw Failure(describe(e));
        }
    }

    void setVisible(bool visible) override
    {
        alive();
        m_office->visible = visible;
    }

    void open(const QString &fileName) override
    {
        alive();
        OfficeInstance &o = *m_office;
        const QFileInfo info(fileName);
        if (!info.isFile())
            throw Failure(QStringLiteral("%1 could not open \"%2\": the file does not exist.")
                              .arg(Product, fileName));
        const QString url =
            QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded);
        Reference<css::lang::XComponent> document;
        try {
            const Reference<css::frame::XComponentLoader> loader(o.desktop, UNO_QUERY_THROW);
            const Reference<css::task::XInteractionHandler> handler(new AbortingInteractionHandler);
            document = loader->loadComponentFromURL(
                ou(url), "_blank", 0,
                sequence({property("Hidden", css::uno::Any(o.headless || !o.visible)),
                          property("ReadOnly", css::uno::Any(true)),
                          property("MacroExecutionMode",
                                   css::uno::Any(css::document::MacroExecMode::NEVER_EXECUTE)),
                          property("UpdateDocMode",
                                   css::uno::Any(css::document::UpdateDocMode::NO_UPDATE)),
                          property("InteractionHandler", css::uno::Any(handler))}));
        } catch (const css::uno::Exception &e) {
            throw Failure(
                QStringLiteral("%1 could not open \"%2\": %3").arg(Product, fileName, describe(e)));
        }
        // A damaged or unknown file gives no document and no exception.
        if (!document.is())
            throw Failure(
                QStringLiteral("%1 could not open \"%2\": the file is damaged or is not a "
                               "presentation.")
                    .arg(Product, fileName));
        const Reference<css::lang::XServiceInfo> info2(document, UNO_QUERY);
        if (!info2.is() ||
            !info2->supportsService("com.sun.star.presentation.PresentationDocument")) {
            close(document);
            throw Failure(
                QStringLiteral("%1 could not open \"%2\": the file is not a presentation.")
                    .arg(Product, fileName));
        }
        if (o.document.is())
            close(o.document);
        o.document = document;
        o.documentPath = fileName;
        o.printer.clear();
        o.refusedPrinter.reset();
    }

    std::shared_ptr<Presentation> activePresentation() override
    {
        m_office->requireDocument();
        return std::make_shared<UnoPresentationObject>(m_office, m_office->document);
    }

    void setActivePrinter(const QString &printerName) override
    {
        OfficeInstance &o = *m_office;
        o.requireDocument();
        // The office takes any name and prints an unknown one on its default
        // printer; a printer the system does not know is refused here instead.
        const QStringList known = o.printerNames ? o.printerNames() : QStringList();
        if (printerName.isEmpty() || !known.contains(printerName)) {
            o.refusedPrinter = printerName;
            throw Failure(
                printerName.isEmpty()
                    ? QStringLiteral("PrintOptions.ActivePrinter : No printer was chosen.")
                    : QStringLiteral(
                          "PrintOptions.ActivePrinter : The printer \"%1\" is not known to "
                          "this system.")
                          .arg(printerName));
        }
        try {
            const Reference<css::view::XPrintable> printable(o.document, UNO_QUERY_THROW);
            printable->setPrinter(sequence({property("Name", css::uno::Any(ou(printerName)))}));
            OUString now;
            for (const auto &p : printable->getPrinter())
                if (p.Name == "Name")
                    p.Value >>= now;
            if (qs(now) != printerName) {
                o.refusedPrinter = printerName;
                throw Failure(
                    QStringLiteral("PrintOptions.ActivePrinter : %1 refused the printer \"%2\".")
                        .arg(Product, printerName));
            }
        } catch (const css::uno::Exception &e) {
            o.refusedPrinter = printerName;
            throw Failure(QStringLiteral("PrintOptions.ActivePrinter : ") + describe(e));
        }
        o.printer = printerName;
        o.refusedPrinter.reset();
    }

    void quit() override
    {
        OfficeInstance &o = *m_office;
        if (o.ended)
            return;
        o.ended = true;
        try {
            if (o.desktop.is())
                o.desktop->terminate();
        } catch (const css::uno::Exception &) {
            // The office may end before it answers.
        }
        try {
            o.releaseReferences();
        } catch (...) {
        }
        if (o.child && !o.child->waitForExit(10.0))
            o.child->stop(1.0);
        o.profile.reset();
    }

private:
    void alive() const
    {
        if (m_office->ended)
            throw Failure(Product + QStringLiteral(" is no longer running."));
    }

    static void close(const Reference<css::lang::XComponent> &document)
    {
        try {
            const Reference<css::util::XCloseable> closeable(document, UNO_QUERY);
            if (closeable.is())
                closeable->close(true);
            else
                document->dispose();
        } catch (const css::uno::Exception &) {
        }
    }

    std::shared_ptr<OfficeInstance> m_office;
};

/** Connects to the office on `pipeName`; empty when nothing answers there. */
Reference<css::uno::XComponentContext> connect(const Reference<css::uno::XComponentContext> &local,
                                               const QString &pipeName)
{
    const Reference<css::bridge::XUnoUrlResolver> resolver =
        css::bridge::UnoUrlResolver::create(local);
    try {
        return Reference<css::uno::XComponentContext>(
            resolver->resolve(ou(
                QStringLiteral("uno:pipe,name=%1;urp;StarOffice.ComponentContext").arg(pipeName))),
            UNO_QUERY);
    } catch (const css::connection::NoConnectException &) {
        return {};
    }
}

} // namespace

UnoAutomation::UnoAutomation(UnoOptions options) : m_options(std::move(options))
{
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
    if (!m_options.printerNames)
        m_options.printerNames = systemPrinterNames;
    if (!m_options.headless)
        m_options.headless = noDisplay();
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
    const auto office = m_current.lock();
    return office && office->child && !office->ended && office->child->running()
               ? office->child->pid()
               : -1;
}

std::shared_ptr<OfficeInstance> UnoAutomation::attach(const QString &pipeName)
{
    const auto local = localContext(m_options.programDir);
    auto office = std::make_shared<OfficeInstance>();
    office->printerNames = m_options.printerNames;
    office->headless = m_options.headless.value_or(true);
    try {
        office->remote = connect(local, pipeName);
        if (!office->remote.is())
            return nullptr;
        office->desktop = css::frame::Desktop::create(office->remote);
    } catch (const css::uno::Exception &e) {
        throw Failure(Product + QStringLiteral(" could not be reached: ") + describe(e));
    }
    return office;
}

std::shared_ptr<PresentationApp> UnoAutomation::create()
{
    if (auto office = m_current.lock();
        office && !office->ended && (!office->child || office->child->running()))
        return std::make_shared<UnoApp>(office);

    const OfficeInstallation installation(m_options.programDir);
    if (!installation.usable())
        throw Failure(Product + QStringLiteral(" is not installed in ") + m_options.programDir);
    auto profile = OfficeProfile::acquire(m_options.profileRoot);
    const QString pipe = profile->pipeName();

    // An office left on this profile by an earlier Deckrun is taken over.
    if (auto office = attach(pipe)) {
        office->profile = std::move(profile);
        m_current = office;
        return std::make_shared<UnoApp>(office);
    }

    profile->seed(installation.setupVersion());
    QStringList arguments{QStringLiteral("--accept=pipe,name=%1;urp;").arg(pipe),
                          QStringLiteral("-env:UserInstallation=") + profile->url(),
                          QStringLiteral("--norestore"),
                          QStringLiteral("--nologo"),
                          QStringLiteral("--nodefault"),
                          QStringLiteral("--nolockcheck")};
    if (m_options.headless.value_or(true))
        arguments << QStringLiteral("--headless");
    // The office process itself, without the launcher script and splash
    // helper in front of it; what they would do for it is done here.
    const QStringList environment{QStringLiteral("SAL_ENABLE_FILE_LOCKING=1")};
    auto child = std::make_unique<OfficeChild>(installation.officeBinary(), arguments, environment);
    int restarts = 0;

    const auto local = localContext(m_options.programDir);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(m_options.startTimeout);
    // The office takes 0.1 to 0.2 s to open its pipe; short, even polls find it soonest.
    const auto pause = std::chrono::milliseconds(5);
    for (;;) {
        std::shared_ptr<OfficeInstance> office;
        try {
            office = attach(pipe);
        } catch (const Failure &) {
            // Answering but not ready yet.
        }
        if (office) {
            office->profile = std::move(profile);
            office->child = std::move(child);
            m_current = office;
            return std::make_shared<UnoApp>(office);
        }
        if (!child->running() && asksForRestart(child->exitStatus()) && ++restarts <= 2) {
            child =
                std::make_unique<OfficeChild>(installation.officeBinary(), arguments, environment);
            continue;
        }
        if (!child->running())
            throw Failure(QStringLiteral("%1 ended before it could be reached (exit status %2).")
                              .arg(Product)
                              .arg(child->exitStatus()));
        if (std::chrono::steady_clock::now() >= deadline) {
            child->stop(1.0);
            throw Failure(QStringLiteral("%1 did not answer within %2 seconds.")
                              .arg(Product)
                              .arg(m_options.startTimeout));
        }
        std::this_thread::sleep_for(pause);
    }
}

std::shared_ptr<PresentationApp> UnoAutomation::getRunning()
{
    if (auto office = m_current.lock();
        office && !office->ended && (!office->child || office->child->running()))
        return std::make_shared<UnoApp>(office);
    // An office on Deckrun's first profile: left by an earlier run, or another Deckrun printing.
    if (OfficeInstallation(m_options.programDir).usable()) {
        const QString pipe =
            OfficeProfile::pipeNameFor(OfficeProfile::slotFolder(m_options.profileRoot, 0));
        if (auto office = attach(pipe))
            return std::make_shared<UnoApp>(office);
    }
    throw Failure(Product + QStringLiteral(" is not running."), 429);
}

void UnoAutomation::shutdown()
{
    if (auto office = m_current.lock())
        office->stop();
}

} // namespace deckrun::uno

namespace deckrun {

std::unique_ptr<PresentationAutomation> makeSystemPresentationAutomation()
{
    return std::make_unique<uno::UnoAutomation>();
}

} // namespace deckrun
