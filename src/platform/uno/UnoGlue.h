// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The glue between Deckrun and the office's UNO runtime, shared by the office
// backend's files: text and property conversion, the wording of failures,
// and calls run on a thread of their own under a deadline. Only the files of
// platform/uno/ include it.

#include "platform/Failure.h"
#include "platform/OfficeDeadline.h"

#include <QString>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/Sequence.hxx>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

#include <algorithm>
#include <chrono>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <type_traits>

namespace css = com::sun::star;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

namespace deckrun::uno {

using SteadyClock = std::chrono::steady_clock;

inline const QString Product = QStringLiteral("LibreOffice Impress");

inline OUString ou(const QString &s)
{
    return OUString(reinterpret_cast<const sal_Unicode *>(s.utf16()),
                    static_cast<sal_Int32>(s.size()));
}

inline QString qs(const OUString &s)
{
    return QString(reinterpret_cast<const QChar *>(s.getStr()), s.getLength());
}

template <typename T> css::uno::Sequence<T> sequence(std::initializer_list<T> items)
{
    css::uno::Sequence<T> s(static_cast<sal_Int32>(items.size()));
    std::copy(items.begin(), items.end(), s.getArray());
    return s;
}

inline css::beans::PropertyValue property(const char *name, const css::uno::Any &value)
{
    css::beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

/** The office's own words for a failure, or a plain statement when it gave none. */
inline QString describe(const css::uno::Exception &e)
{
    const QString message = qs(e.Message).trimmed();
    return message.isEmpty() ? QStringLiteral("LibreOffice did not answer.") : message;
}

inline QString secondsText(double seconds)
{
    return QString::number(seconds, 'g', 6);
}

inline QString notAnswering(double seconds)
{
    return QStringLiteral("%1 did not answer within %2 seconds and was stopped.")
        .arg(Product, secondsText(seconds));
}

inline QString stoppedUnexpectedly(const QString &doing)
{
    return doing.isEmpty()
               ? Product + QStringLiteral(" stopped unexpectedly.")
               : QStringLiteral("%1 stopped unexpectedly while %2.").arg(Product, doing);
}

/**
 * Runs `job` on a thread of its own while the calling thread waits in an
 * event loop of its own (on the window's thread the window repaints, answers
 * clicks and can be closed meanwhile). True when the job ended in time. When
 * `deadline` passes first, `expired` runs (from a timer, so in whatever event
 * loop the thread is in then, a modal dialog's included) and the result is
 * false; the job's thread is left to end by itself, never joined, so the job
 * must hold nothing of the caller's but what it owns.
 */
bool runOnOwnThread(std::function<void()> job, SteadyClock::time_point deadline,
                    const std::function<void()> &expired = {});

/**
 * Waits in an event loop of the calling thread until `done` (looked at every
 * few milliseconds) is true; false when `deadline` passes first, after
 * `expired` has run, on time even under a modal dialog.
 */
bool waitUntil(const std::function<bool()> &done, SteadyClock::time_point deadline,
               const std::function<void()> &expired = {});

/**
 * `work` on a thread of its own until `deadline` (see runOnOwnThread):
 * its result, or what it threw rethrown, or nothing when the deadline passed.
 */
template <typename F>
std::optional<std::invoke_result_t<F>> runOffThread(F work, SteadyClock::time_point deadline,
                                                    const std::function<void()> &expired = {})
{
    using R = std::invoke_result_t<F>;
    struct Outcome {
        std::optional<R> value;
        std::exception_ptr error;
    };
    // Shared with the job: a job left running still has somewhere to put its result.
    auto outcome = std::make_shared<Outcome>();
    const bool ended = runOnOwnThread(
        [outcome, work = std::move(work)]() mutable {
            try {
                outcome->value.emplace(work());
            } catch (...) {
                outcome->error = std::current_exception();
            }
        },
        deadline, expired);
    if (!ended)
        return std::nullopt;
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    return std::move(outcome->value);
}

/**
 * The process's UNO runtime, made once. The bootstrap file must be known
 * before the first UNO call, or the first call into the office crashes.
 */
Reference<css::uno::XComponentContext> localContext(const QString &programDir);

/**
 * The adapter's edge: whatever `body` throws reaches the caller as a Failure.
 * UNO exceptions that no step worded are prefixed with `context`.
 */
template <typename F> auto edge(const QString &context, F body) -> decltype(body())
{
    try {
        return body();
    } catch (const Failure &) {
        throw;
    } catch (const css::uno::Exception &e) {
        throw Failure(context + describe(e));
    } catch (const std::exception &e) {
        throw Failure(context + QString::fromLocal8Bit(e.what()));
    } catch (...) {
        throw Failure(context + QStringLiteral("an unknown error."));
    }
}

} // namespace deckrun::uno
