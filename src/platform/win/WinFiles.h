// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The file system on Windows, free of Qt so that it runs under Wine on any
// build machine: the real attribute values, the system's own wildcard listing
// (which also matches long extensions through short names), the open test
// without access rights, sub-folder listing with the codes the folder walker
// reads, the drive-root test and the code of a character in the system's
// single-byte code page. WinFileSystem.cpp wraps it into the FileSystem
// interface.

#include "platform/FailureCodes.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace deckrun::win {

/** The failure codes, as the folder walker and the error report read them. */
namespace code = deckrun::code;

/** A failed file-system operation, with its description and code. */
class FileError : public std::runtime_error {
public:
    FileError(std::wstring description, int code);
    const std::wstring &description() const { return m_description; }
    int code() const { return m_code; }

private:
    std::wstring m_description;
    int m_code;
};

/** The code and description for a system error while a folder is listed. */
int listingErrorCode(unsigned long systemError);
std::wstring listingErrorText(int code);

/** True when the path's date and time can be read. */
bool fileIsPresent(const std::wstring &path);
/** The attribute value (low 16 bits); FileError 53 when it cannot be read. */
int attributes(const std::wstring &path);
/** Opens the path with no access rights, only if it exists; false for folders and failures. */
bool isExistingFile(const std::wstring &path);
/** Names of the files (no folders) matching folder + pattern, hidden and system ones included. */
std::vector<std::wstring> listFiles(const std::wstring &folder, const std::wstring &pattern);
/**
 * Names of the sub-folders of `folder` in the system's order ("." and ".."
 * included). Throws FileError with listingErrorCode() when listing fails;
 * `partial` then holds what was read before.
 */
std::vector<std::wstring> subFolders(const std::wstring &folder,
                                     std::vector<std::wstring> *partial = nullptr);
/** True for the root of a volume, also when the path ends in more than one backslash. */
bool isRootFolder(const std::wstring &folder);
/** Volume serial number and file index of a folder; none when it cannot be read. */
std::optional<std::pair<std::uint64_t, std::uint64_t>> folderIdentity(const std::wstring &folder);
/**
 * The code of one character in the system's ANSI code page: its byte (two
 * bytes as one number on a double-byte page), or 63 ("?") when the page
 * lacks it.
 */
unsigned ansiCode(char32_t character);

} // namespace deckrun::win
