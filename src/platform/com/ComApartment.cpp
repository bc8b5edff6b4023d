// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/com/ComApartment.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace deckrun::com {

namespace {

using Clock = std::chrono::steady_clock;

/**
 * The message filter of an apartment's thread: COM asks it what to do when
 * the server refuses a call as busy, and it says "again a little later" until
 * the deadline of the call in hand. (Wine does not ask it: there the busy
 * answer comes back as the call's result, and whileBusy tries again.)
 */
// COM interfaces have no virtual destructor by design: the object deletes
// itself in Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class BusyFilter final : public IMessageFilter {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMessageFilter)) {
            *out = static_cast<IMessageFilter *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Lives as long as its thread's apartment; COM's references do not own it.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override
    {
        return SERVERCALL_ISHANDLED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD rejectType) override
    {
        const CallInHand *call = CallInHand::current();
        if (!call)
            return static_cast<DWORD>(-1);
        call->noteBusy(rejectType == SERVERCALL_RETRYLATER ? RPC_E_SERVERCALL_RETRYLATER
                                                           : RPC_E_CALL_REJECTED);
        return static_cast<DWORD>(retryAfterBusy(Clock::now(), call->deadline()));
    }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override
    {
        return PENDINGMSG_WAITDEFPROCESS;
    }
};
#pragma GCC diagnostic pop

/** A call posted to an apartment, as its two threads share it. */
struct Outcome {
    std::exception_ptr error;
    std::atomic<long> busyAnswer{S_OK}; // the last busy answer of this call
    Event done;
};

} // namespace

long retryAfterBusy(Clock::time_point now, Clock::time_point deadline)
{
    if (now >= deadline)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    return static_cast<long>(std::clamp<long long>(left.count(), 100, 250));
}

std::shared_ptr<Apartment> Apartment::start(std::function<void(const std::string &)> log)
{
    auto apartment = std::make_shared<Apartment>();
    apartment->m_log = std::move(log);
    Event ready;
    HRESULT started = E_UNEXPECTED;
    try {
        std::thread([apartment, &ready, &started] { apartment->run(ready, started); }).detach();
    } catch (const std::system_error &) {
        throw ComError(L"The automation thread could not be started.",
                       static_cast<long>(E_OUTOFMEMORY));
    }
    // The thread signals as soon as COM is set up on it, a matter of milliseconds.
    WaitForSingleObject(ready.get(), INFINITE);
    check(started);
    return apartment;
}

std::optional<Overdue> Apartment::callUntil(Clock::time_point deadline,
                                            std::function<void(Apartment &)> work,
                                            const ComError &whenGone)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_brokenBy)
            std::rethrow_exception(m_brokenBy);
        if (m_abandoned)
            throw whenGone;
    }
    auto outcome = std::make_shared<Outcome>();
    post(Task{[outcome, work = std::move(work), deadline](Apartment &a) {
                  {
                      const CallInHand call(deadline, outcome->busyAnswer);
                      try {
                          work(a);
                      } catch (...) {
                          outcome->error = std::current_exception();
                      }
                  }
                  outcome->done.set();
              },
              [outcome, whenGone](const std::exception_ptr &why) {
                  outcome->error = why ? why : std::make_exception_ptr(whenGone);
                  outcome->done.set();
              }});
    if (!waitHandlingMessages(outcome->done.get(), deadline))
        return Overdue{outcome->busyAnswer.load()};
    if (!outcome->error)
        return std::nullopt;
    try {
        std::rethrow_exception(outcome->error);
    } catch (const ComError &e) {
        // Refused as busy until the deadline: as good as no answer.
        if (!isBusy(e.code()))
            throw;
        return Overdue{e.code()};
    }
}

void Apartment::post(Task task)
{
    std::exception_ptr why;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_over) {
            m_tasks.push_back(std::move(task));
            m_wake.set();
            return;
        }
        why = m_brokenBy;
    }
    if (task.cancel)
        task.cancel(why);
}

void Apartment::releaseLater(std::uint64_t id)
{
    post(Task{[id](Apartment &a) { a.release(id); }, nullptr});
}

void Apartment::abandon()
{
    std::deque<Task> dropped;
    {
        const std::lock_guard lock(m_mutex);
        m_abandoned = true;
        m_over = true;
        std::swap(dropped, m_tasks);
        m_wake.set();
    }
    for (Task &task : dropped)
        if (task.cancel)
            task.cancel(nullptr);
}

void Apartment::finish()
{
    const std::lock_guard lock(m_mutex);
    m_over = true;
    m_wake.set();
}

bool Apartment::abandoned() const
{
    const std::lock_guard lock(m_mutex);
    return m_abandoned;
}

std::uint64_t Apartment::keep(Dispatch object)
{
    const std::uint64_t id = m_nextId++;
    m_objects.emplace(id, std::move(object));
    return id;
}

const Dispatch &Apartment::object(std::uint64_t id) const
{
    const auto found = m_objects.find(id);
    if (found == m_objects.end())
        fail(E_POINTER, L"Object variable not set");
    return found->second;
}

void Apartment::run(const Event &ready, HRESULT &started)
{
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    started = hr;
    ready.set(); // `ready` and `started` belong to the starter: not touched after this
    if (FAILED(hr))
        return;
    BusyFilter filter;
    IMessageFilter *previous = nullptr;
    const bool filtered = SUCCEEDED(CoRegisterMessageFilter(&filter, &previous));
    serve();
    m_objects.clear();
    if (filtered) {
        CoRegisterMessageFilter(previous, nullptr);
        if (previous)
            previous->Release();
    }
    CoUninitialize();
}

void Apartment::serve()
{
    for (;;) {
        std::deque<Task> tasks;
        bool over = false;
        {
            const std::lock_guard lock(m_mutex);
            std::swap(tasks, m_tasks);
            over = m_over;
        }
        for (Task &task : tasks) {
            if (abandoned()) {
                if (task.cancel)
                    task.cancel(nullptr);
                continue;
            }
            // What escapes a task would end the process: it is told instead,
            // and the apartment goes on with the next.
            try {
                task.run(*this);
            } catch (const std::exception &e) {
                log(std::string("a task of the automation thread failed: ") + e.what());
            } catch (...) {
                log("a task of the automation thread failed");
            }
        }
        if (over && tasks.empty())
            break;
        if (!tasks.empty())
            continue; // more may have come meanwhile
        try {
            waitForWork(m_wake.get());
        } catch (const ComError &e) {
            breakDown(e);
            break;
        }
    }
}

void Apartment::breakDown(const ComError &why)
{
    log(why.what());
    std::deque<Task> dropped;
    {
        const std::lock_guard lock(m_mutex);
        m_brokenBy = std::make_exception_ptr(why);
        m_abandoned = true;
        m_over = true;
        std::swap(dropped, m_tasks);
    }
    for (Task &task : dropped)
        if (task.cancel)
            task.cancel(m_brokenBy);
}

void Apartment::log(const std::string &text) const
{
    if (m_log)
        m_log(text);
}

} // namespace deckrun::com
