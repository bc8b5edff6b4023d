// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one failure every layer of the COM core throws, up to the Qt adapter
// (ComPresentation.cpp), which turns it into the program's own. Free of the
// Windows headers, so that the adapter includes none.

#include "platform/com/ComText.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace deckrun::com {

/** A failed automation call, with the description the application gave. */
class ComError : public std::runtime_error {
public:
    /** Why a call failed, where its caller treats it apart. */
    enum class Kind {
        Failed,       // the application refused or raised
        NotAnswering, // it is there, but did not answer (or stayed busy) until the deadline
    };

    ComError(std::wstring description, long code, Kind kind = Kind::Failed)
        : std::runtime_error(narrow(description)), m_description(std::move(description)),
          m_code(code), m_kind(kind)
    {}
    const std::wstring &description() const { return m_description; }
    long code() const { return m_code; }
    Kind kind() const { return m_kind; }

private:
    std::wstring m_description;
    long m_code;
    Kind m_kind;
};

} // namespace deckrun::com
