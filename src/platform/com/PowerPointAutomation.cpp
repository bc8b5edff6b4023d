// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/com/PowerPointAutomation.h"

#include "platform/OfficeDeadline.h"
#include "platform/com/ComApartment.h"
#include "platform/com/ComPowerPoint.h"
#include "platform/com/ComText.h"
#include "platform/com/PowerPointProcesses.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <utility>
#include <variant>
#include <vector>

namespace deckrun::com {

namespace {

std::wstring secondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

/** What a call fails with when the PowerPoint it was meant for was stopped or let go. */
ComError noLongerRunning()
{
    return ComError(std::wstring(ComPowerPoint::Name) + L" is no longer running.",
                    static_cast<long>(CO_E_SERVER_STOPPING));
}

} // namespace

// --- the deadline and what is stopped when it passes ---------------------------

/** The process a call was meant for, looked for only when its deadline passed. */
using ProcessOfCall = std::function<std::shared_ptr<PowerPointProcess>()>;

/** What the automation and every reference it handed out share. */
struct AutomationState {
    ComOptions options;
    PowerPointProcesses processes;        // the ones seen, while they run
    std::shared_ptr<Apartment> apartment; // where calls go; a fresh one after a hang
    // A PowerPoint of Deckrun's that did not answer the running check: it
    // would take the next call too.
    std::shared_ptr<PowerPointProcess> hung;

    explicit AutomationState(ComOptions given) : options(std::move(given)), processes(options.log)
    {}

    void log(const std::string &text) const
    {
        if (options.log)
            options.log(text);
    }

    std::shared_ptr<Apartment> currentApartment()
    {
        if (!apartment || apartment->abandoned())
            apartment = Apartment::start(options.log);
        return apartment;
    }

    /** Deckrun's own PowerPoint that did not answer the running check is stopped before use. */
    void stopHungBeforeUse()
    {
        if (const auto process = std::exchange(hung, nullptr)) {
            log("stopping the PowerPoint that did not answer the running check");
            processes.stop(process);
        }
    }

    /**
     * Runs `work` in `apt` with the deadline of `kind`, waiting for it and
     * handling messages meanwhile. When it outlives its deadline (also: when
     * it was refused as busy until then) the apartment is abandoned and the
     * call's process, `process()`, stopped if Deckrun started it.
     */
    template <typename R, typename F>
    R call(const std::shared_ptr<Apartment> &apt, const ProcessOfCall &process, OfficeCall kind,
           F work)
    {
        const double seconds = officeDeadline(kind);
        auto answer = apt->call<R>(deadlineAfter(seconds), std::move(work), noLongerRunning());
        if (R *value = std::get_if<R>(&answer))
            return std::move(*value);
        expired(apt, process ? process() : nullptr, kind, seconds,
                std::get<Overdue>(answer).busyAnswer);
    }

    [[noreturn]] void expired(const std::shared_ptr<Apartment> &apt,
                              const std::shared_ptr<PowerPointProcess> &process, OfficeCall kind,
                              double seconds, long busy)
    {
        apt->abandon();
        if (apartment == apt)
            apartment.reset();
        const std::wstring late = std::wstring(ComPowerPoint::Name) + L" did not answer within " +
                                  secondsText(seconds) + L" seconds";
        const long code = isBusy(busy) ? busy : static_cast<long>(RPC_E_TIMEOUT);
        const std::wstring busyToo = isBusy(busy) ? L": it stayed busy" : L"";
        if (kind == OfficeCall::RunningCheck) {
            // It runs, but does not answer: stopped when a run needs
            // PowerPoint, if it is Deckrun's own.
            if (process && process->ours())
                hung = process;
            throw ComError(late + busyToo + L".", code, ComError::Kind::NotAnswering);
        }
        if (processes.stop(process))
            throw ComError(late + L" and was stopped" + busyToo + L".", code,
                           ComError::Kind::NotAnswering);
        throw ComError(late + busyToo + L"; it was left running, as Deckrun did not start it.",
                       code, ComError::Kind::NotAnswering);
    }

    void shutdown()
    {
        // What Deckrun holds is let go first: a PowerPoint told to quit ends then.
        if (apartment) {
            apartment->finish();
            apartment.reset();
        }
        processes.endOurs();
    }
};

/** An automation object held in an apartment, as the calling thread sees it. */
struct RemoteObject {
    std::shared_ptr<AutomationState> state;
    std::shared_ptr<Apartment> apartment;
    std::uint64_t id = 0;
    std::shared_ptr<PowerPointProcess> process; // the PowerPoint it lives in; null when not known

    RemoteObject(std::shared_ptr<AutomationState> s, std::shared_ptr<Apartment> a,
                 std::uint64_t object, std::shared_ptr<PowerPointProcess> p)
        : state(std::move(s)), apartment(std::move(a)), id(object), process(std::move(p))
    {}
    ~RemoteObject() { apartment->releaseLater(id); }
    RemoteObject(const RemoteObject &) = delete;
    RemoteObject &operator=(const RemoteObject &) = delete;

    /** Runs `work(object)` in the apartment under the deadline of `kind`. */
    template <typename R, typename F> R call(OfficeCall kind, F work)
    {
        return state->call<R>(
            apartment, [p = process] { return p; }, kind,
            [object = id, work = std::move(work)](Apartment &a) { return work(a.object(object)); });
    }

    /** The object `make(object)` returns, kept in the same apartment, the same PowerPoint. */
    template <typename F> std::shared_ptr<RemoteObject> derive(OfficeCall kind, F make)
    {
        const std::uint64_t made = state->call<std::uint64_t>(
            apartment, [p = process] { return p; }, kind,
            [object = id, make = std::move(make)](Apartment &a) {
                return a.keep(make(a.object(object)));
            });
        return std::make_shared<RemoteObject>(state, apartment, made, process);
    }
};

// --- the object model ----------------------------------------------------------

/** What the calls of one file share. */
struct FileInHand {
    std::wstring path;           // as given to Presentations.Open
    bool printerRefused = false; // ActivePrinter failed: nothing may print elsewhere
    std::wstring refusedPrinter;
};

namespace {

std::wstring fileNameOf(const std::wstring &path)
{
    const auto cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

/** Whether PowerPoint now prints on `wanted`: its name, in any case, or "NAME on PORT". */
bool printerTaken(const std::wstring &wanted, const std::wstring &now)
{
    const std::wstring a = lowered(wanted);
    const std::wstring b = lowered(now);
    return a == b ||
           (b.size() > a.size() + 4 && b.starts_with(a) && b.compare(a.size(), 4, L" on ") == 0);
}

} // namespace

PowerPointPresentation::PowerPointPresentation(std::shared_ptr<RemoteObject> presentation,
                                               std::shared_ptr<FileInHand> file)
    : m_presentation(std::move(presentation)), m_file(std::move(file))
{}

void PowerPointPresentation::setPrintInBackground(bool background)
{
    m_presentation->call<bool>(OfficeCall::Printer, [background](const Dispatch &p) {
        ComPowerPoint::setPrintInBackground(p, background);
        return true;
    });
}

PrintRequest PowerPointPresentation::printOut(const PrintRequest &asked)
{
    if (m_file && m_file->printerRefused) {
        const std::wstring file = L"\"" + fileNameOf(m_file->path) + L"\"";
        throw ComError(m_file->refusedPrinter.empty()
                           ? file + L" was not printed: no printer was chosen."
                           : file + L" was not printed: the printer \"" + m_file->refusedPrinter +
                                 L"\" could not be set.",
                       static_cast<long>(E_ABORT));
    }
    // Read back before the print: nothing after PrintOut may fail a file that printed.
    PrintRequest now =
        m_presentation->call<PrintRequest>(OfficeCall::Printer, [asked](const Dispatch &p) {
            const Dispatch options = ComPowerPoint::printOptions(p);
            applyPrintOptions(options, asked);
            return readPrintOptions(options);
        });
    m_presentation->call<bool>(OfficeCall::Print, [](const Dispatch &p) {
        ComPowerPoint::printOut(p);
        return true;
    });
    return now;
}

void PowerPointPresentation::close()
{
    m_presentation->call<bool>(OfficeCall::Quit, [](const Dispatch &p) {
        ComPowerPoint::closePresentation(p);
        return true;
    });
}

PowerPointApp::PowerPointApp(std::shared_ptr<RemoteObject> app, std::shared_ptr<FileInHand> file)
    : m_app(std::move(app)), m_file(std::move(file))
{}

std::wstring PowerPointApp::name()
{
    return m_app->call<std::wstring>(OfficeCall::RunningCheck,
                                     [](const Dispatch &a) { return ComPowerPoint::name(a); });
}

void PowerPointApp::setVisible(bool visible)
{
    m_app->call<bool>(OfficeCall::Start, [visible](const Dispatch &a) {
        ComPowerPoint::setVisible(a, visible);
        return true;
    });
}

void PowerPointApp::open(const std::wstring &path)
{
    m_file->path = path;
    m_app->call<bool>(OfficeCall::Load, [path](const Dispatch &a) {
        ComPowerPoint::open(a, path);
        return true;
    });
}

void PowerPointApp::openHidden(const std::wstring &path)
{
    m_file->path = path;
    m_app->call<bool>(OfficeCall::Load, [path](const Dispatch &a) {
        ComPowerPoint::open(a, path, true);
        return true;
    });
}

std::shared_ptr<PowerPointPresentation> PowerPointApp::activePresentation()
{
    // A short read: the deadline of the printer's calls.
    auto presentation = m_app->derive(OfficeCall::Printer, [](const Dispatch &a) {
        return ComPowerPoint::activePresentation(a);
    });
    return std::make_shared<PowerPointPresentation>(std::move(presentation), m_file);
}

void PowerPointApp::setActivePrinter(const std::wstring &printer)
{
    m_file->printerRefused = true; // until PowerPoint has taken it
    m_file->refusedPrinter = printer;
    const std::wstring now =
        m_app->call<std::wstring>(OfficeCall::Printer, [printer](const Dispatch &a) {
            return ComPowerPoint::setActivePrinter(a, printer);
        });
    if (!printerTaken(printer, now))
        throw ComError(L"PrintOptions.ActivePrinter : " + std::wstring(ComPowerPoint::Name) +
                           L" did not take the printer \"" + printer + L"\"; it kept \"" + now +
                           L"\".",
                       static_cast<long>(E_FAIL));
    m_file->printerRefused = false;
    m_file->refusedPrinter.clear();
}

void PowerPointApp::quit()
{
    // A PowerPoint stopped after a deadline has quit already.
    if (m_app->apartment->abandoned())
        return;
    m_app->call<bool>(OfficeCall::Quit, [](const Dispatch &a) {
        ComPowerPoint::quit(a);
        return true;
    });
    if (m_app->process)
        m_app->process->noteQuitAsked();
}

// --- the way to PowerPoint ------------------------------------------------------

namespace {

/** An application just obtained in the apartment, and its process as far as known. */
struct Found {
    std::uint64_t id = 0;
    unsigned long pid = 0;
    std::intptr_t window = 0;
    bool wasRunning = false;
};

/**
 * The process of a PowerPoint just obtained: from its window, else the one
 * that appeared since `before` (none for one found running).
 */
unsigned long processOf(const Dispatch &app, const std::vector<unsigned long> *before,
                        const std::wstring &image, std::intptr_t &window)
{
    try {
        if (const unsigned long pid = ComPowerPoint::processId(app, &window))
            return pid;
    } catch (const ComError &e) {
        if (isBusy(e.code()))
            throw; // busy until the deadline: as good as no answer
    }
    return before ? appearedSince(*before, image) : 0;
}

} // namespace

PowerPointAutomation::PowerPointAutomation(ComOptions options)
    : m_state(std::make_shared<AutomationState>(std::move(options)))
{}

PowerPointAutomation::~PowerPointAutomation()
{
    shutdown();
}

std::shared_ptr<PowerPointApp> PowerPointAutomation::create()
{
    AutomationState &s = *m_state;
    s.stopHungBeforeUse();
    const auto apt = s.currentApartment();
    const std::wstring image = s.processes.image();
    // Taken before the create: a PowerPoint that appears while it hangs is the one it started.
    const std::vector<unsigned long> before = processesOf(image);
    // By value: a hung call may come back after the automation is gone.
    const auto start = [image, before](Apartment &a) {
        Dispatch app = ComPowerPoint::create();
        Found f;
        f.pid = processOf(app, &before, image, f.window);
        f.wasRunning = std::find(before.begin(), before.end(), f.pid) != before.end();
        f.id = a.keep(std::move(app));
        return f;
    };
    const auto startedMeanwhile = [&s, &image, &before] {
        return s.processes.track(appearedSince(before, image), true, 0);
    };
    const Found found = s.call<Found>(apt, startedMeanwhile, OfficeCall::Start, start);
    auto remote = std::make_shared<RemoteObject>(
        m_state, apt, found.id, s.processes.track(found.pid, !found.wasRunning, found.window));
    return std::make_shared<PowerPointApp>(std::move(remote), std::make_shared<FileInHand>());
}

std::shared_ptr<PowerPointApp> PowerPointAutomation::getRunning()
{
    AutomationState &s = *m_state;
    const auto apt = s.currentApartment();
    const auto find = [image = s.processes.image()](Apartment &a) {
        Dispatch app = ComPowerPoint::getRunning();
        Found f;
        f.pid = processOf(app, nullptr, image, f.window);
        f.wasRunning = true;
        f.id = a.keep(std::move(app));
        return f;
    };
    // One found running that does not answer is nobody's to stop.
    const Found found = s.call<Found>(apt, nullptr, OfficeCall::RunningCheck, find);
    auto remote = std::make_shared<RemoteObject>(m_state, apt, found.id,
                                                 s.processes.track(found.pid, false, found.window));
    return std::make_shared<PowerPointApp>(std::move(remote), std::make_shared<FileInHand>());
}

bool PowerPointAutomation::othersRunning()
{
    return m_state->processes.othersRunning();
}

bool PowerPointAutomation::registered()
{
    return ComPowerPoint::registered();
}

void PowerPointAutomation::shutdown()
{
    m_state->shutdown();
}

} // namespace deckrun::com
