// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/win/WinFiles.h"

#include <windows.h>

#include <memory>

namespace deckrun::win {

namespace {

std::string narrow(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text)
        out += (c > 0 && c < 128) ? static_cast<char>(c) : '?';
    return out;
}

std::wstring withSeparator(const std::wstring &folder)
{
    return !folder.empty() && folder.back() == L'\\' ? folder : folder + L'\\';
}

struct FindCloser {
    void operator()(HANDLE h) const
    {
        if (h != INVALID_HANDLE_VALUE)
            FindClose(h);
    }
};
using Find = std::unique_ptr<void, FindCloser>;

struct ErrorCode {
    DWORD error;
    int code;
};

// What the folder walker must tell apart: 70 and 76 drop a folder, any other
// code keeps it.
const ErrorCode ListingErrors[] = {
    {ERROR_ACCESS_DENIED, code::PermissionDenied},
    {ERROR_SHARING_VIOLATION, code::PermissionDenied},
    {ERROR_LOCK_VIOLATION, code::PermissionDenied},
    {ERROR_NETWORK_ACCESS_DENIED, code::PermissionDenied},
    {ERROR_PATH_NOT_FOUND, code::PathNotFound},
    {ERROR_INVALID_DRIVE, code::PathNotFound},
    {ERROR_BAD_NETPATH, code::PathNotFound},
    {ERROR_BAD_NET_NAME, code::PathNotFound},
    {ERROR_DIRECTORY, code::PathNotFound},
    {ERROR_INVALID_NAME, code::BadFileName},
    {ERROR_BAD_PATHNAME, code::BadFileName},
    {ERROR_NOT_READY, code::DiskNotReady},
    {ERROR_DEV_NOT_EXIST, code::DeviceUnavailable},
    {ERROR_CRC, code::DeviceIoError},
    {ERROR_SECTOR_NOT_FOUND, code::DeviceIoError},
    {ERROR_GEN_FAILURE, code::DeviceIoError},
    {ERROR_IO_DEVICE, code::DeviceIoError},
};

[[noreturn]] void listingFailed(const std::wstring &folder, DWORD error)
{
    const int c = listingErrorCode(error);
    throw FileError(listingErrorText(c) + L": " + folder, c);
}

} // namespace

FileError::FileError(std::wstring description, int code)
    : std::runtime_error(narrow(description)), m_description(std::move(description)), m_code(code)
{}

int listingErrorCode(unsigned long systemError)
{
    for (const ErrorCode &e : ListingErrors)
        if (e.error == systemError)
            return e.code;
    return code::PathFileAccessError;
}

std::wstring listingErrorText(int c)
{
    switch (c) {
    case code::BadFileName:
        return L"Bad file name or number";
    case code::FileNotFound:
        return L"File not found";
    case code::DeviceIoError:
        return L"Device I/O error";
    case code::DeviceUnavailable:
        return L"Device unavailable";
    case code::PermissionDenied:
        return L"Permission denied";
    case code::DiskNotReady:
        return L"Disk not ready";
    case code::PathNotFound:
        return L"Path not found";
    default:
        return L"Path/File access error";
    }
}

bool fileIsPresent(const std::wstring &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return !path.empty() && GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != 0;
}

int attributes(const std::wstring &path)
{
    const DWORD value = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
    if (value == INVALID_FILE_ATTRIBUTES)
        throw FileError(L"File not found: " + path, code::FileNotFound);
    return static_cast<int>(value & 0xFFFF);
}

bool isExistingFile(const std::wstring &path)
{
    if (path.empty())
        return false;
    const HANDLE h =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

std::vector<std::wstring> listFiles(const std::wstring &folder, const std::wstring &pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const Find find(FindFirstFileW((withSeparator(folder) + pattern).c_str(), &data));
    if (find.get() == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.emplace_back(data.cFileName);
    } while (FindNextFileW(find.get(), &data));
    return names;
}

std::vector<std::wstring> subFolders(const std::wstring &folder, std::vector<std::wstring> *partial)
{
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    const Find find(FindFirstFileW((withSeparator(folder) + L"*").c_str(), &data));
    if (find.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) // an empty root has no "." entry
            return found;
        if (partial)
            *partial = found;
        listingFailed(folder, error);
    }
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            found.emplace_back(data.cFileName);
    } while (FindNextFileW(find.get(), &data));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        if (partial)
            *partial = found;
        listingFailed(folder, error);
    }
    return found;
}

bool isRootFolder(const std::wstring &folder)
{
    // The walker hands a chosen drive root on as "C:\" plus its own backslash:
    // compare the path the system makes of it, not the text.
    wchar_t full[MAX_PATH + 1] = {};
    const DWORD n = GetFullPathNameW(withSeparator(folder).c_str(), MAX_PATH, full, nullptr);
    if (n == 0 || n > MAX_PATH)
        return false;
    wchar_t root[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(full, root, MAX_PATH))
        return false;
    return CompareStringOrdinal(withSeparator(full).c_str(), -1, withSeparator(root).c_str(), -1,
                                TRUE) == CSTR_EQUAL;
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> folderIdentity(const std::wstring &folder)
{
    const HANDLE h = CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return std::make_pair(static_cast<std::uint64_t>(info.dwVolumeSerialNumber),
                          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) |
                              info.nFileIndexLow);
}

unsigned ansiCode(char32_t character)
{
    constexpr unsigned Missing = 63; // "?"
    if (GetACP() == CP_UTF8)         // a system set to UTF-8 has every character
        return character == 0xFFFD ? Missing : static_cast<unsigned>(character);
    wchar_t units[2];
    int count = 1;
    if (character >= 0x10000 && character <= 0x10FFFF) {
        const char32_t v = character - 0x10000;
        units[0] = static_cast<wchar_t>(0xD800 + (v >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + (v & 0x3FF));
        count = 2;
    } else if (character <= 0xFFFF) {
        units[0] = static_cast<wchar_t>(character);
    } else {
        return Missing;
    }
    char bytes[4] = {};
    BOOL missing = FALSE;
    // No "best fit": a character the page lacks is "?", not a look-alike.
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, count, bytes,
                                      sizeof bytes, nullptr, &missing);
    if (n <= 0 || n > 2 || missing)
        return Missing;
    const auto byte = [&](int i) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[i]));
    };
    return n == 1 ? byte(0) : (byte(0) << 8) | byte(1);
}

} // namespace deckrun::win
