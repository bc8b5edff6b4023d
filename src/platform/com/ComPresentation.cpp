// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/com/ComPresentation.h"

#include "platform/Failure.h"
#include "platform/Logging.h"
#include "platform/com/PowerPointAutomation.h"

namespace deckrun::com {

namespace {

/** Runs one automation call; its failure becomes the program's own, description unchanged. */
template <typename F> auto guarded(F &&call) -> decltype(call())
{
    try {
        return call();
    } catch (const ComError &e) {
        // The run tells a PowerPoint that runs but does not answer from one that is not there.
        throw Failure(QString::fromStdWString(e.description()),
                      e.kind() == ComError::Kind::NotAnswering ? code::NotAnswering
                                                               : static_cast<int>(e.code()));
    }
}

class ComPresentationObject final : public Presentation {
public:
    explicit ComPresentationObject(std::shared_ptr<PowerPointPresentation> presentation)
        : m_presentation(std::move(presentation))
    {}
    void setPrintInBackground(bool background) override
    {
        guarded([&] { m_presentation->setPrintInBackground(background); });
    }
    PrintedJob printOut(const PrintSettings &asked, const QString &) override
    {
        // Two-sided printing is the printer's own setting: not PowerPoint's to say.
        return PrintedJob{0, guarded([&] { return m_presentation->printOut(asked); }), {}};
    }
    void close() override
    {
        guarded([&] { m_presentation->close(); });
    }

private:
    std::shared_ptr<PowerPointPresentation> m_presentation;
};

class ComApp final : public PresentationApp {
public:
    explicit ComApp(std::shared_ptr<PowerPointApp> app) : m_app(std::move(app)) {}
    QString name() override
    {
        return guarded([&] { return QString::fromStdWString(m_app->name()); });
    }
    void setVisible(bool visible) override
    {
        guarded([&] { m_app->setVisible(visible); });
    }
    void open(const QString &fileName) override
    {
        guarded([&] { m_app->open(fileName.toStdWString()); });
    }
    void openHidden(const QString &fileName) override
    {
        guarded([&] { m_app->openHidden(fileName.toStdWString()); });
    }
    std::shared_ptr<Presentation> activePresentation() override
    {
        return guarded([&]() -> std::shared_ptr<Presentation> {
            return std::make_shared<ComPresentationObject>(m_app->activePresentation());
        });
    }
    void setActivePrinter(const QString &printerName) override
    {
        guarded([&] { m_app->setActivePrinter(printerName.toStdWString()); });
    }
    void quit() override
    {
        guarded([&] { m_app->quit(); });
    }

private:
    std::shared_ptr<PowerPointApp> m_app;
};

} // namespace

ComAutomation::ComAutomation()
{
    ComOptions options;
    options.log = [](const std::string &text) { qCDebug(lcOffice) << text.c_str(); };
    m_core = std::make_unique<PowerPointAutomation>(std::move(options));
}

ComAutomation::~ComAutomation() = default;

std::shared_ptr<PresentationApp> ComAutomation::create()
{
    return guarded([&]() -> std::shared_ptr<PresentationApp> {
        return std::make_shared<ComApp>(m_core->create());
    });
}

std::shared_ptr<PresentationApp> ComAutomation::getRunning()
{
    return guarded([&]() -> std::shared_ptr<PresentationApp> {
        return std::make_shared<ComApp>(m_core->getRunning());
    });
}

bool ComAutomation::isInstalled()
{
    return PowerPointAutomation::registered();
}

bool ComAutomation::someoneElsesRunning()
{
    return m_core->othersRunning();
}

void ComAutomation::shutdown()
{
    m_core->shutdown();
}

QString ComAutomation::refusal(const PrintSettings &asked) const
{
    if (asked.sides)
        return QStringLiteral("on Windows two-sided printing is the printer's own setting, which "
                              "PowerPoint cannot change: set it in the printer's preferences "
                              "and leave out --sides.");
    return {};
}

} // namespace deckrun::com
