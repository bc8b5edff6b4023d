// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/com/ComPresentation.h"

#include "platform/Failure.h"
#include "platform/com/ComPowerPoint.h"

namespace deckrun::com {

namespace {

/** Runs one automation call; its failure becomes the program's own, description unchanged. */
template <typename F> auto guarded(F &&call) -> decltype(call())
{
    try {
        return call();
    } catch (const ComError &e) {
        throw Failure(QString::fromStdWString(e.description()), static_cast<int>(e.code()));
    }
}

class ComPresentationObject final : public Presentation {
public:
    explicit ComPresentationObject(Dispatch presentation) : m_presentation(std::move(presentation))
    {}
    void setPrintInBackground(bool background) override
    {
        guarded([&] { ComPowerPoint::setPrintInBackground(m_presentation, background); });
    }
    void printOut() override
    {
        guarded([&] { ComPowerPoint::printOut(m_presentation); });
    }

private:
    Dispatch m_presentation;
};

class ComApp final : public PresentationApp {
public:
    explicit ComApp(Dispatch app) : m_app(std::move(app)) {}
    QString name() override
    {
        return guarded([&] { return QString::fromStdWString(ComPowerPoint::name(m_app)); });
    }
    void setVisible(bool visible) override
    {
        guarded([&] { ComPowerPoint::setVisible(m_app, visible); });
    }
    void open(const QString &fileName) override
    {
        guarded([&] { ComPowerPoint::open(m_app, fileName.toStdWString()); });
    }
    std::shared_ptr<Presentation> activePresentation() override
    {
        return guarded([&]() -> std::shared_ptr<Presentation> {
            return std::make_shared<ComPresentationObject>(
                ComPowerPoint::activePresentation(m_app));
        });
    }
    void setActivePrinter(const QString &printerName) override
    {
        guarded([&] { ComPowerPoint::setActivePrinter(m_app, printerName.toStdWString()); });
    }
    void quit() override
    {
        guarded([&] { ComPowerPoint::quit(m_app); });
    }

private:
    Dispatch m_app;
};

} // namespace

std::shared_ptr<PresentationApp> ComAutomation::create()
{
    return guarded([]() -> std::shared_ptr<PresentationApp> {
        return std::make_shared<ComApp>(ComPowerPoint::create());
    });
}

std::shared_ptr<PresentationApp> ComAutomation::getRunning()
{
    return guarded([]() -> std::shared_ptr<PresentationApp> {
        return std::make_shared<ComApp>(ComPowerPoint::getRunning());
    });
}

} // namespace deckrun::com
