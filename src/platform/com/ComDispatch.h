// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Late-bound automation (IDispatch): counted references, texts and variants,
// calls by member name with the server's own description when it raises, and
// calls tried again while the server answers busy, up to the deadline of the
// call in hand. Knows no application: the caller names the server
// (LateBound), and an apartment (ComApartment.h) sets the call in hand.

#include "platform/com/ComError.h"

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace deckrun::com {

/** One counted reference to an automation object; released when dropped. */
class Dispatch {
public:
    Dispatch() = default;
    /** Takes over a reference the caller already holds. */
    explicit Dispatch(IDispatch *adopted) : m_p(adopted) {}
    Dispatch(const Dispatch &other);
    Dispatch(Dispatch &&other) noexcept;
    Dispatch &operator=(Dispatch other) noexcept;
    ~Dispatch();

    IDispatch *get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    IDispatch *m_p = nullptr;
};

/**
 * The call in hand on this thread while an apartment makes it: its deadline,
 * and where a busy answer is noted for the thread that waits for it. Set for
 * as long as it lives. A call made without one is not tried again when busy.
 */
class CallInHand {
public:
    CallInHand(std::chrono::steady_clock::time_point deadline, std::atomic<long> &busyAnswer);
    ~CallInHand();
    CallInHand(const CallInHand &) = delete;
    CallInHand &operator=(const CallInHand &) = delete;

    /** This thread's; null when it has none. */
    static const CallInHand *current();
    std::chrono::steady_clock::time_point deadline() const { return m_deadline; }
    void noteBusy(HRESULT hr) const { m_busyAnswer.store(hr); }

private:
    std::chrono::steady_clock::time_point m_deadline;
    std::atomic<long> &m_busyAnswer;
};

/** "Call rejected" or "retry later": the server is busy and the call may go through later. */
bool isBusy(HRESULT hr);

/** The system's text for a result code; empty when the system has no text for it. */
std::wstring systemText(HRESULT hr);

/** Throws ComError for `hr`: `what`, or without it the system's text for `hr`. */
[[noreturn]] void fail(HRESULT hr, const std::wstring &what);
/** Throws ComError with the system's text when `hr` failed. */
void check(HRESULT hr);

/**
 * Makes one call into the server, again while it answers busy, until it goes
 * through or the deadline of the call in hand has passed (what the busy
 * answer asks a caller to do). Returns the call's last result.
 */
HRESULT whileBusy(const std::function<HRESULT()> &call);

/**
 * COM on the calling thread, for calls outside an apartment; an apartment's
 * thread has it already.
 */
void ensureCom();

class Bstr {
public:
    explicit Bstr(const std::wstring &text)
        : m_b(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
        if (!m_b && !text.empty())
            fail(E_OUTOFMEMORY, std::wstring());
    }
    ~Bstr() { SysFreeString(m_b); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    BSTR *address() { return &m_b; }
    BSTR get() const { return m_b; }

private:
    BSTR m_b;
};

struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
};

/** A text as the server sent it: all of it, without the NULs a BSTR may hold. */
std::wstring wholeText(BSTR text);

/** A VT_BOOL: true is -1. */
VARIANT boolean(bool value);

/** A VT_I4. */
VARIANT number(long value);

/**
 * Late-bound calls into the objects of one automation server. Its name words
 * the failures the server raises without a description of its own
 * ("<server> reported error 1004.").
 */
class LateBound {
public:
    explicit constexpr LateBound(const wchar_t *server) : m_server(server) {}

    /** One call; the server's own description when it raises. */
    void invoke(IDispatch *object, DISPID id, WORD flags, std::vector<VARIANT> &argsReversed,
                std::vector<DISPID> &named, VARIANT *result) const;
    /** A property or method without arguments; `member` null: the default member. */
    void getValue(const Dispatch &object, const wchar_t *member, Variant &result) const;
    std::wstring getText(const Dispatch &object, const wchar_t *member) const;
    /** A property read as a number (VT_I4), whatever type the server sends it as. */
    long getNumber(const Dispatch &object, const wchar_t *member) const;
    Dispatch getObject(const Dispatch &object, const wchar_t *member) const;
    /** A property put: the value by value, as the one named argument DISPID_PROPERTYPUT. */
    void putProperty(const Dispatch &object, const wchar_t *member, VARIANT value) const;
    void callMethod(const Dispatch &object, const wchar_t *member) const;
    /** A method with these arguments in their order, by value; its result in `result`. */
    void callWith(const Dispatch &object, const wchar_t *member, std::vector<VARIANT> args,
                  Variant &result) const;

private:
    const wchar_t *m_server;
};

} // namespace deckrun::com
