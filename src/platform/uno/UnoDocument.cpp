// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/UnoDocument.h"

#include "platform/Logging.h"
#include "platform/uno/OfficeInstance.h"
#include "platform/uno/OfficeProcess.h"
#include "platform/uno/OfficeWorkspace.h"
#include "platform/uno/UnoGlue.h"
#include "platform/uno/UnoPrint.h"
#include "platform/uno/ZipEntry.h"

#include <QFileInfo>
#include <QUrl>

#include <com/sun/star/awt/XPrinterServer.hpp>
#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XTypeDetection.hpp>
#include <com/sun/star/drawing/XDrawPages.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XLoadable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/task/PasswordRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/task/XInteractionRequest.hpp>
#include <com/sun/star/util/XCloseable.hpp>
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

const char *const PresentationService = "com.sun.star.presentation.PresentationDocument";

OUString valueOf(const css::uno::Sequence<css::beans::PropertyValue> &properties, const char *name)
{
    OUString value;
    for (const auto &p : properties)
        if (p.Name.equalsAscii(name))
            p.Value >>= value;
    return value;
}

css::uno::Reference<css::uno::XInterface>
createInOffice(const Reference<css::uno::XComponentContext> &remote, const char *service)
{
    const Reference<css::lang::XMultiComponentFactory> factory = remote->getServiceManager();
    return factory->createInstanceWithContext(OUString::createFromAscii(service), remote);
}

/**
 * Loads `url` as a presentation model alone, without the frame and view an
 * open document gets: an open takes a third less, and nothing could show. Null
 * when the file is no presentation the office's type detection knows, or its
 * load needs more than that (a password, a repair): the full load then decides
 * what it is, and its words are those the user reads.
 */
Reference<css::lang::XComponent>
loadWithoutFrame(const Reference<css::uno::XComponentContext> &remote, const OUString &url,
                 const css::uno::Sequence<css::beans::PropertyValue> &arguments)
{
    Reference<css::frame::XLoadable> model;
    try {
        const Reference<css::document::XTypeDetection> detection(
            createInOffice(remote, "com.sun.star.document.TypeDetection"), UNO_QUERY_THROW);
        auto descriptor = sequence({property("URL", css::uno::Any(url))});
        if (detection->queryTypeByDescriptor(descriptor, true).isEmpty())
            return {};
        const OUString filter = valueOf(descriptor, "FilterName");
        if (filter.isEmpty())
            return {};
        const Reference<css::container::XNameAccess> filters(
            createInOffice(remote, "com.sun.star.document.FilterFactory"), UNO_QUERY_THROW);
        css::uno::Sequence<css::beans::PropertyValue> filterProperties;
        filters->getByName(filter) >>= filterProperties;
        if (!valueOf(filterProperties, "DocumentService").equalsAscii(PresentationService))
            return {};
        model.set(createInOffice(remote, PresentationService), UNO_QUERY_THROW);
        auto withFile = arguments;
        const sal_Int32 count = withFile.getLength();
        withFile.realloc(count + 2);
        withFile.getArray()[count] = property("URL", css::uno::Any(url));
        withFile.getArray()[count + 1] = property("FilterName", css::uno::Any(filter));
        model->load(withFile);
        return Reference<css::lang::XComponent>(model, UNO_QUERY_THROW);
    } catch (const css::lang::DisposedException &) {
        // The connection is gone (the office crashed, perhaps short of
        // memory): a full load would wait for an answer that never comes.
        throw;
    } catch (const css::uno::Exception &e) {
        qCDebug(lcOffice) << "the full load decides:" << qs(e.Message);
        if (const Reference<css::util::XCloseable> closeable{model, UNO_QUERY}; closeable.is()) {
            try {
                closeable->close(true);
            } catch (const css::uno::Exception &) {
                // a model that did not load holds nothing
            }
        }
        return {};
    }
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

    PrintedJob printOut(const PrintSettings &asked, const QString &jobName) override
    {
        OfficeInstance &o = *m_office;
        if (o.ended)
            throw Failure(Product + QStringLiteral(" is no longer running."));
        const QString file = QFileInfo(o.documentPath).fileName();
        return edge(QStringLiteral("%1 could not print \"%2\": ").arg(Product, file), [&] {
            return printDocument(o, m_document, file, asked, jobName.isEmpty() ? file : jobName);
        });
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
                [document = o.document, remote = o.remote, withoutFrame = o.withoutFrame,
                 name = ou(printerName)]() {
                    if (withoutFrame) {
                        // A document without a view keeps no printer: the
                        // office takes the one chosen when it knows it.
                        const Reference<css::awt::XPrinterServer> printers(
                            createInOffice(remote, "com.sun.star.awt.PrinterServer"),
                            UNO_QUERY_THROW);
                        const auto names = printers->getPrinterNames();
                        for (const OUString &office : names)
                            if (office == name)
                                return qs(name);
                        return QString();
                    }
                    const Reference<css::view::XPrintable> printable(document, UNO_QUERY_THROW);
                    printable->setPrinter(sequence({property("Name", css::uno::Any(name))}));
                    return qs(valueOf(printable->getPrinter(), "Name"));
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
        }
        o.stop(0); // and what it leaves: its folder, its profile
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
        // The office would refuse it too, after a look that holds up its next file.
        if (zipWithoutEnd(info.absoluteFilePath()))
            throw Failure(damaged(fileName));
        // The office opens a copy in its own folder, the one folder it may
        // read besides its own files; nothing the deck names beside it is there.
        const QString copy =
            o.workspace ? o.workspace->copyIn(info.absoluteFilePath()) : info.absoluteFilePath();
        const QString url = QUrl::fromLocalFile(copy).toString(QUrl::FullyEncoded);
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
            bool withoutFrame = false;
        };
        Loaded loaded;
        try {
            loaded = o.call(
                OfficeCall::Load, "load", QStringLiteral("opening \"%1\"").arg(fileName),
                [desktop = o.desktop, remote = o.remote, url = ou(url), arguments,
                 hidden = o.headless || !o.visible]() {
                    Loaded l;
                    if (hidden)
                        l.document = loadWithoutFrame(remote, url, arguments);
                    if (l.document.is()) {
                        l.presentation = l.withoutFrame = true;
                        return l;
                    }
                    const Reference<css::frame::XComponentLoader> loader(desktop, UNO_QUERY_THROW);
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
        // A damaged or unknown file gives no document and no exception; nor
        // does one that needed more memory than the office may have.
        if (!loaded.document.is() && o.nearMemoryBound())
            o.failForMemory(QStringLiteral("opening \"%1\"").arg(fileName));
        if (!loaded.document.is())
            throw Failure(handler->passwordAsked() ? passwordProtected(fileName)
                                                   : damaged(fileName));
        if (!loaded.presentation) {
            close(loaded.document);
            throw Failure(
                QStringLiteral("%1 could not open \"%2\": the file is not a presentation.")
                    .arg(Product, fileName));
        }
        if (o.document.is())
            close(o.document);
        o.document = loaded.document;
        o.withoutFrame = loaded.withoutFrame;
        o.documentPath = fileName;
        o.printer.clear();
        o.printRefusal.reset();
    }

    static QString damaged(const QString &fileName)
    {
        return QStringLiteral("%1 could not open \"%2\": the file is damaged or is not a "
                              "presentation.")
            .arg(Product, fileName);
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
