// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/UnoDocument.h"

#include "platform/Logging.h"
#include "platform/uno/OfficeInstance.h"
#include "platform/uno/OfficeProcess.h"
#include "platform/uno/UnoGlue.h"

#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/drawing/XDrawPages.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/task/PasswordRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/task/XInteractionRequest.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/view/PrintJobEvent.hpp>
#include <com/sun/star/view/PrintableState.hpp>
#include <com/sun/star/view/XPrintJobBroadcaster.hpp>
#include <com/sun/star/view/XPrintJobListener.hpp>
#include <com/sun/star/view/XPrintable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>

#include <atomic>
#include <mutex>
#include <vector>

namespace deckrun::uno {

namespace {

/**
 * Answers every question the office asks while loading with "abort": no
 * dialog ever waits for a user. It remembers whether a password was asked for.
 */
class AbortingInteractionHandler final
    : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
public:
    void SAL_CALL handle(const Reference<css::task::XInteractionRequest> &request) override
    {
        if (!request.is())
            return;
        css::task::PasswordRequest password;
        if (request->getRequest() >>= password)
            m_passwordAsked = true;
        const auto continuations = request->getContinuations();
        for (const auto &c : continuations) {
            const Reference<css::task::XInteractionAbort> abort(c, UNO_QUERY);
            if (abort.is()) {
                abort->select();
                return;
            }
        }
    }
    bool passwordAsked() const { return m_passwordAsked; }

private:
    std::atomic<bool> m_passwordAsked{false};
};

/** Collects the states of one print job, reported by the office on a bridge thread. */
class PrintJobWatcher final : public cppu::WeakImplHelper1<css::view::XPrintJobListener> {
public:
    void SAL_CALL printJobEvent(const css::view::PrintJobEvent &event) override
    {
        if (event.State == css::view::PrintableState_JOB_SPOOLED ||
            event.State == css::view::PrintableState_JOB_COMPLETED ||
            event.State == css::view::PrintableState_JOB_ABORTED ||
            event.State == css::view::PrintableState_JOB_FAILED ||
            event.State == css::view::PrintableState_JOB_SPOOLING_FAILED) {
            const std::lock_guard lock(m_mutex);
            if (!m_final)
                m_final = event.State;
        }
    }
    void SAL_CALL disposing(const css::lang::EventObject &) override {}

    /** The job's final state; none while the office has reported none. */
    std::optional<css::view::PrintableState> finalState()
    {
        const std::lock_guard lock(m_mutex);
        return m_final;
    }

private:
    std::mutex m_mutex;
    std::optional<css::view::PrintableState> m_final;
};

/** Whether the system's print service says the printer takes no jobs now. */
bool printerRefusesJobs(const QString &printer)
{
    QProcess lpstat;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    lpstat.setProcessEnvironment(environment);
    lpstat.start(QStringLiteral("lpstat"), {QStringLiteral("-a"), printer});
    if (!lpstat.waitForFinished(3000)) {
        lpstat.kill();
        lpstat.waitForFinished(1000);
        return false;
    }
    return QString::fromLocal8Bit(lpstat.readAllStandardOutput())
        .contains(QLatin1String("not accepting"));
}

/** The slides to print as a page range ("1-3,5"); empty when every slide is visible. */
QString visiblePageRange(const std::vector<bool> &visible)
{
    if (std::all_of(visible.begin(), visible.end(), [](bool v) { return v; }))
        return QString();
    QStringList ranges;
    for (std::size_t k = 0; k < visible.size();) {
        if (!visible[k]) {
            ++k;
            continue;
        }
        std::size_t end = k;
        while (end + 1 < visible.size() && visible[end + 1])
            ++end;
        ranges << (end == k ? QString::number(k + 1)
                            : QStringLiteral("%1-%2").arg(k + 1).arg(end + 1));
        k = end + 1;
    }
    return ranges.join(QLatin1Char(','));
}

class UnoPresentationObject final : public Presentation {
public:
    UnoPresentationObject(std::shared_ptr<OfficeInstance> office,
                          const Reference<css::lang::XComponent> &document)
        : m_office(std::move(office)), m_document(document)
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
        edge(QStringLiteral("%1 could not print \"%2\": ").arg(Product, file),
             [&] { print(o, file); });
    }

    void close() override
    {
        OfficeInstance &o = *m_office;
        if (o.ended)
            throw Failure(Product + QStringLiteral(" is no longer running."));
        const QString file = QFileInfo(o.documentPath).fileName();
        edge(QStringLiteral("%1 could not close \"%2\": ").arg(Product, file), [&] {
            o.call(OfficeCall::Quit, "close", QStringLiteral("closing \"%1\"").arg(file),
                   [document = m_document]() {
                       const Reference<css::util::XCloseable> closeable(document, UNO_QUERY);
                       if (closeable.is())
                           closeable->close(true);
                       else
                           document->dispose();
                       return true;
                   });
        });
        if (o.document == m_document) {
            o.document.clear();
            o.documentPath.clear();
            o.printer.clear();
            o.printRefusal.reset();
        }
    }

private:
    void print(OfficeInstance &o, const QString &file)
    {
        if (o.printRefusal)
            throw Failure(QStringLiteral("\"%1\" was not printed: %2").arg(file, *o.printRefusal));
        const rtl::Reference<PrintJobWatcher> watcher(new PrintJobWatcher);
        const Reference<css::view::XPrintJobListener> listener(watcher.get());
        const auto deadline = deadlineOf(OfficeCall::Print);
        // Hidden slides are left out, as a plain PrintOut does: only the visible ones are named.
        const bool printed = o.call(
            OfficeCall::Print, "print", QStringLiteral("printing \"%1\"").arg(file),
            [document = m_document, listener]() {
                const Reference<css::view::XPrintable> printable(document, UNO_QUERY_THROW);
                const Reference<css::view::XPrintJobBroadcaster> broadcaster(document, UNO_QUERY);
                std::vector<bool> visible;
                const Reference<css::drawing::XDrawPagesSupplier> pages(document, UNO_QUERY);
                if (pages.is()) {
                    const Reference<css::container::XIndexAccess> slides(pages->getDrawPages(),
                                                                         UNO_QUERY_THROW);
                    for (sal_Int32 k = 0, n = slides->getCount(); k < n; ++k) {
                        const Reference<css::beans::XPropertySet> slide(slides->getByIndex(k),
                                                                        UNO_QUERY);
                        bool shown = true;
                        if (slide.is())
                            slide->getPropertyValue("Visible") >>= shown;
                        visible.push_back(shown);
                    }
                }
                if (!visible.empty() &&
                    std::none_of(visible.begin(), visible.end(), [](bool v) { return v; }))
                    return false;
                if (broadcaster.is())
                    broadcaster->addPrintJobListener(listener);
                const QString range = visiblePageRange(visible);
                if (range.isEmpty())
                    printable->print(sequence({property("Wait", css::uno::Any(true))}));
                else
                    printable->print(sequence({property("Wait", css::uno::Any(true)),
                                               property("Pages", css::uno::Any(ou(range)))}));
                return true;
            },
            deadline);
        if (!printed)
            throw Failure(QStringLiteral("%1 could not print \"%2\": every slide in it is hidden.")
                              .arg(Product, file));
        // No confirmation by the deadline: the office is stopped then, whatever loop runs.
        waitUntil([&watcher] { return watcher->finalState().has_value(); }, deadline,
                  [&o] { o.abandon(); });
        const auto state = watcher->finalState();
        if (state == css::view::PrintableState_JOB_SPOOLED ||
            state == css::view::PrintableState_JOB_COMPLETED)
            return;
        if (printerRefusesJobs(o.printer))
            throw Failure(QStringLiteral("%1 could not print \"%2\": the printer \"%3\" refused "
                                         "the job.")
                              .arg(Product, file, o.printer));
        if (!state) {
            o.abandon();
            throw Failure(
                QStringLiteral("%1 did not confirm that \"%2\" was printed on the printer \"%3\" "
                               "within %4 seconds and was stopped.")
                    .arg(Product, file, o.printer, secondsText(officeDeadline(OfficeCall::Print))));
        }
        throw Failure(QStringLiteral("%1 could not print \"%2\" on the printer \"%3\".")
                          .arg(Product, file, o.printer));
    }

    std::shared_ptr<OfficeInstance> m_office;
    Reference<css::lang::XComponent> m_document;
};

class UnoApp final : public PresentationApp {
public:
    explicit UnoApp(std::shared_ptr<OfficeInstance> office) : m_office(std::move(office)) {}

    QString name() override
    {
        alive();
        return edge(QString(), [&] {
            return m_office->call(OfficeCall::RunningCheck, "name", QString(),
                                  [remote = m_office->remote]() {
                                      const Reference<css::lang::XMultiServiceFactory> provider =
                                          css::configuration::theDefaultProvider::get(remote);
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
                                  });
        });
    }

    void setVisible(bool visible) override
    {
        alive();
        m_office->visible = visible;
    }

    void open(const QString &fileName) override
    {
        alive();
        edge(QStringLiteral("%1 could not open \"%2\": ").arg(Product, fileName),
             [&] { load(fileName); });
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
            o.printRefusal = printerName.isEmpty()
                                 ? QStringLiteral("no printer was chosen.")
                                 : QStringLiteral("the printer \"%1\" is not known to this system.")
                                       .arg(printerName);
            throw Failure(
                printerName.isEmpty()
                    ? QStringLiteral("PrintOptions.ActivePrinter : No printer was chosen.")
                    : QStringLiteral(
                          "PrintOptions.ActivePrinter : The printer \"%1\" is not known to "
                          "this system.")
                          .arg(printerName));
        }
        // Until the office has taken it: its own default printer is not the one chosen.
        o.printRefusal =
            QStringLiteral("%1 did not take the printer \"%2\".").arg(Product, printerName);
        const QString now = edge(QStringLiteral("PrintOptions.ActivePrinter : "), [&] {
            return o.call(
                OfficeCall::Printer, "printer",
                QStringLiteral("setting the printer \"%1\"").arg(printerName),
                [document = o.document, name = ou(printerName)]() {
                    const Reference<css::view::XPrintable> printable(document, UNO_QUERY_THROW);
                    printable->setPrinter(sequence({property("Name", css::uno::Any(name))}));
                    OUString taken;
                    for (const auto &p : printable->getPrinter())
                        if (p.Name == "Name")
                            p.Value >>= taken;
                    return qs(taken);
                });
        });
        if (now != printerName)
            throw Failure(
                QStringLiteral("PrintOptions.ActivePrinter : %1 refused the printer \"%2\".")
                    .arg(Product, printerName));
        o.printer = printerName;
        o.printRefusal.reset();
    }

    void quit() override
    {
        OfficeInstance &o = *m_office;
        if (o.ended)
            return;
        const auto deadline = deadlineOf(OfficeCall::Quit);
        try {
            o.call(
                OfficeCall::Quit, "quit", QString(),
                [desktop = o.desktop]() {
                    try {
                        if (desktop.is())
                            desktop->terminate();
                    } catch (const css::uno::Exception &e) {
                        // The office may end before it answers.
                        qCDebug(lcOffice) << "terminate:" << qs(e.Message);
                    }
                    return true;
                },
                deadline);
        } catch (const Failure &) {
            o.abandon(); // already stopped when it did not answer
            throw;
        }
        o.ended = true;
        o.releaseReferences();
        if (o.child) {
            // Still there at the deadline: killed.
            waitUntil([&o] { return !o.child->running(); }, deadline, [&o] { o.child->stop(0); });
            o.child->stop(0);
        }
        o.profile.reset();
    }

private:
    void alive() const
    {
        if (m_office->ended)
            throw Failure(Product + QStringLiteral(" is no longer running."));
    }

    void load(const QString &fileName)
    {
        OfficeInstance &o = *m_office;
        const QFileInfo info(fileName);
        if (!info.isFile())
            throw Failure(QStringLiteral("%1 could not open \"%2\": the file does not exist.")
                              .arg(Product, fileName));
        // The office would open it as a new, blank presentation and print a blank page.
        if (info.size() == 0)
            throw Failure(QStringLiteral("%1 could not open \"%2\": the file is empty.")
                              .arg(Product, fileName));
        const QString url =
            QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded);
        const rtl::Reference<AbortingInteractionHandler> handler(new AbortingInteractionHandler);
        const auto arguments = sequence(
            {property("Hidden", css::uno::Any(o.headless || !o.visible)),
             property("ReadOnly", css::uno::Any(true)),
             property("MacroExecutionMode",
                      css::uno::Any(css::document::MacroExecMode::NEVER_EXECUTE)),
             property("UpdateDocMode", css::uno::Any(css::document::UpdateDocMode::NO_UPDATE)),
             property("InteractionHandler",
                      css::uno::Any(Reference<css::task::XInteractionHandler>(handler.get())))});
        struct Loaded {
            Reference<css::lang::XComponent> document;
            bool presentation = false;
        };
        Loaded loaded;
        try {
            loaded = o.call(
                OfficeCall::Load, "load", QStringLiteral("opening \"%1\"").arg(fileName),
                [desktop = o.desktop, url = ou(url), arguments]() {
                    const Reference<css::frame::XComponentLoader> loader(desktop, UNO_QUERY_THROW);
                    Loaded l;
                    l.document = loader->loadComponentFromURL(url, "_blank", 0, arguments);
                    const Reference<css::lang::XServiceInfo> service(l.document, UNO_QUERY);
                    l.presentation =
                        service.is() &&
                        service->supportsService("com.sun.star.presentation.PresentationDocument");
                    return l;
                });
        } catch (const css::uno::Exception &) {
            if (handler->passwordAsked())
                throw Failure(passwordProtected(fileName));
            throw;
        }
        // A damaged or unknown file gives no document and no exception.
        if (!loaded.document.is())
            throw Failure(handler->passwordAsked()
                              ? passwordProtected(fileName)
                              : QStringLiteral("%1 could not open \"%2\": the file is damaged or "
                                               "is not a presentation.")
                                    .arg(Product, fileName));
        if (!loaded.presentation) {
            close(loaded.document);
            throw Failure(
                QStringLiteral("%1 could not open \"%2\": the file is not a presentation.")
                    .arg(Product, fileName));
        }
        if (o.document.is())
            close(o.document);
        o.document = loaded.document;
        o.documentPath = fileName;
        o.printer.clear();
        o.printRefusal.reset();
    }

    static QString passwordProtected(const QString &fileName)
    {
        return QStringLiteral("%1 could not open \"%2\": the file is protected by a password.")
            .arg(Product, fileName);
    }

    void close(const Reference<css::lang::XComponent> &document)
    {
        try {
            m_office->call(OfficeCall::Quit, "close", QString(), [document]() {
                const Reference<css::util::XCloseable> closeable(document, UNO_QUERY);
                if (closeable.is())
                    closeable->close(true);
                else
                    document->dispose();
                return true;
            });
        } catch (...) {
            // Closing is tidying up; the step's own outcome is what the user reads.
            qCDebug(lcOffice) << "closing the document failed";
        }
    }

    std::shared_ptr<OfficeInstance> m_office;
};

} // namespace

std::shared_ptr<PresentationApp> makeUnoApp(std::shared_ptr<OfficeInstance> office)
{
    return std::make_shared<UnoApp>(std::move(office));
}

} // namespace deckrun::uno
