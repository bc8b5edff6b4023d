// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows file system on real files of the Wine drive: attribute values,
// the opening test without access rights, the system's wildcard listing,
// sub-folder listing with its codes, the drive-root walk and the code page.

#include "platform/win/WinFiles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace deckrun::win;

namespace {

std::string utf8(const std::wstring &text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::wstring environment(const wchar_t *name)
{
    wchar_t value[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
    return n && n < MAX_PATH ? std::wstring(value, n) : std::wstring();
}

void removeTree(const std::wstring &folder)
{
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(folder.c_str());
}

/** A folder of the test's own under the Wine drive's temporary folder. */
class WinFiles : public testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        const auto *info = testing::UnitTest::GetInstance()->current_test_info();
        const std::string name = info->name();
        m_root = std::wstring(temp) + L"deckrun-files-" + std::to_wstring(GetCurrentProcessId()) +
                 L"-" + std::wstring(name.begin(), name.end());
        ASSERT_TRUE(CreateDirectoryW(m_root.c_str(), nullptr));
    }
    void TearDown() override { removeTree(m_root); }

    std::wstring at(const std::wstring &name) const { return m_root + L"\\" + name; }
    std::wstring file(const std::wstring &name, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE)
    {
        const std::wstring path = at(name);
        const HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << utf8(path);
        CloseHandle(h);
        EXPECT_TRUE(SetFileAttributesW(path.c_str(), attributes)) << utf8(path);
        return path;
    }
    std::wstring folder(const std::wstring &name, DWORD attributes = 0)
    {
        const std::wstring path = at(name);
        EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << utf8(path);
        if (attributes) {
            EXPECT_TRUE(SetFileAttributesW(path.c_str(), attributes)) << utf8(path);
        }
        return path;
    }

    std::wstring m_root;
};

std::vector<std::wstring> sorted(std::vector<std::wstring> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

// The walker's folder test: a root folder is searched whatever its value,
// others unless hidden and system together (22, 1046).
bool walkerSearches(const std::wstring &folder)
{
    if (isRootFolder(folder))
        return true;
    const int value = attributes(folder);
    return value != 22 && value != 1046;
}

} // namespace

TEST_F(WinFiles, AttributeValuesAreTheSystemsOwn)
{
    struct Case {
        const wchar_t *name;
        bool isFolder;
        DWORD set;
        int value;
    };
    const Case cases[] = {
        // (Wine keeps the archive bit on every file and no read-only bit on
        // folders: a hidden file without archive (2) and a folder of 23 are
        // Windows-only cases.)
        {L"lock.ppt", false, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, 34},
        {L"hidden system.ppt", false,
         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE, 38},
        {L"read-only.ppt", false, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, 33},
        {L"hidden read-only.ppt", false,
         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, 35},
        {L"plain.ppt", false, FILE_ATTRIBUTE_ARCHIVE, 32},
        {L"System Volume Information", true, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, 22},
        {L"hidden", true, FILE_ATTRIBUTE_HIDDEN, 18},
        {L"folder", true, 0, 16},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(utf8(c.name));
        const std::wstring path = c.isFolder ? folder(c.name, c.set) : file(c.name, c.set);
        EXPECT_EQ(attributes(path), c.value);
    }
    try {
        attributes(at(L"missing.ppt"));
        ADD_FAILURE() << "a missing file has attributes";
    } catch (const FileError &e) {
        EXPECT_EQ(e.code(), code::FileNotFound);
    }
}

TEST_F(WinFiles, TheOpeningTestAsksForNoAccess)
{
    const std::wstring plain = file(L"deck.ppt");
    const std::wstring readOnly = file(L"read-only.ppt", FILE_ATTRIBUTE_READONLY);
    const std::wstring locked = file(L"open elsewhere.ppt");
    // Another program holds it open and shares nothing: without access
    // rights it still opens, as on Windows.
    const HANDLE holder = CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(isExistingFile(plain));
    EXPECT_TRUE(isExistingFile(readOnly));
    EXPECT_TRUE(isExistingFile(locked));
    CloseHandle(holder);
    EXPECT_FALSE(isExistingFile(folder(L"a folder.ppt")));
    EXPECT_FALSE(isExistingFile(at(L"missing.ppt")));
    EXPECT_FALSE(isExistingFile(L""));
    EXPECT_TRUE(fileIsPresent(plain));
    EXPECT_FALSE(fileIsPresent(at(L"missing.ppt")));
}

TEST_F(WinFiles, TheWildcardListingIsTheSystems)
{
    file(L"a.ppt");
    file(L"B.PPT");
    file(L"hidden.ppt", FILE_ATTRIBUTE_HIDDEN);
    file(L"system.ppt", FILE_ATTRIBUTE_SYSTEM);
    file(L"notes.txt");
    file(L"old.ppt.bak");
    folder(L"folder.ppt");
    const std::vector<std::wstring> ppt = listFiles(m_root, L"*.ppt");
    // Case-insensitive, hidden and system files included, folders left out.
    for (const wchar_t *name : {L"a.ppt", L"B.PPT", L"hidden.ppt", L"system.ppt"})
        EXPECT_NE(std::find(ppt.begin(), ppt.end(), name), ppt.end()) << utf8(name);
    for (const wchar_t *name : {L"notes.txt", L"old.ppt.bak", L"folder.ppt"})
        EXPECT_EQ(std::find(ppt.begin(), ppt.end(), name), ppt.end()) << utf8(name);
    EXPECT_EQ(sorted(listFiles(m_root + L"\\", L"?.ppt")),
              (std::vector<std::wstring>{L"B.PPT", L"a.ppt"}));
    EXPECT_EQ(listFiles(m_root, L"*.TXT"), (std::vector<std::wstring>{L"notes.txt"}));
    EXPECT_EQ(listFiles(at(L"missing"), L"*.*").size(), 0u);
}

TEST_F(WinFiles, SubFolderListingKeepsItsCodes)
{
    folder(L"A");
    folder(L"B");
    file(L"c.ppt");
    EXPECT_EQ(sorted(subFolders(m_root)), (std::vector<std::wstring>{L".", L"..", L"A", L"B"}));

    // Path not found (76): the folder is dropped.
    try {
        subFolders(at(L"gone"));
        ADD_FAILURE() << "a missing folder was listed";
    } catch (const FileError &e) {
        EXPECT_EQ(e.code(), code::PathNotFound);
    }

    // Permission denied (70): another program holds the folder and shares nothing.
    const std::wstring held = folder(L"held");
    const HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    try {
        subFolders(held);
        ADD_FAILURE() << "a folder held by another program was listed";
    } catch (const FileError &e) {
        EXPECT_EQ(e.code(), code::PermissionDenied) << utf8(e.description());
    }
    CloseHandle(holder);
}

TEST_F(WinFiles, AListingFailureOtherThan70Or76KeepsItsOwnCode)
{
    // The test command puts a folder there that is a link to itself: listing
    // it fails with neither "permission denied" nor "path not found".
    const std::wstring loop = L"C:\\deckrun-fixtures\\loop";
    if (GetFileAttributesW(L"C:\\deckrun-fixtures") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no link loop on this machine (the Wine test command makes one)";
    try {
        subFolders(loop);
        ADD_FAILURE() << "a link loop was listed";
    } catch (const FileError &e) {
        EXPECT_NE(e.code(), code::PermissionDenied);
        EXPECT_NE(e.code(), code::PathNotFound);
        EXPECT_EQ(e.code(), code::PathFileAccessError) << utf8(e.description());
    }

    struct Case {
        unsigned long error;
        int code;
    };
    const Case cases[] = {
        {ERROR_ACCESS_DENIED, 70},     {ERROR_SHARING_VIOLATION, 70},
        {ERROR_PATH_NOT_FOUND, 76},    {ERROR_BAD_NETPATH, 76},
        {ERROR_NOT_READY, 71},         {ERROR_IO_DEVICE, 57},
        {ERROR_INVALID_NAME, 52},      {ERROR_CANT_RESOLVE_FILENAME, 75},
        {ERROR_NOT_ENOUGH_MEMORY, 75},
    };
    for (const Case &c : cases)
        EXPECT_EQ(listingErrorCode(c.error), c.code) << c.error;
}

TEST_F(WinFiles, ADriveRootIsSearchedWhateverItsValue)
{
    // The test command maps a drive letter onto a folder of its own.
    const std::wstring drive = environment(L"DECKRUN_TEST_DRIVE");
    if (drive.empty())
        GTEST_SKIP() << "no drive of the test's own (DECKRUN_TEST_DRIVE)";
    const std::wstring root = drive + L"\\";
    ASSERT_TRUE(SetFileAttributesW(root.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    // The walker's first entry: the chosen "R:\" followed by its own backslash.
    const std::wstring walked = root + L"\\";
    EXPECT_EQ(attributes(walked), 22);
    EXPECT_TRUE(isRootFolder(root));
    EXPECT_TRUE(isRootFolder(walked));
    EXPECT_TRUE(isRootFolder(drive));
    EXPECT_TRUE(walkerSearches(walked));
    EXPECT_TRUE(isRootFolder(L"C:\\\\"));
    EXPECT_EQ(sorted(subFolders(walked)), (std::vector<std::wstring>{L"A", L"B"}));

    // Below the root, 22 still means "not searched".
    EXPECT_FALSE(isRootFolder(root + L"A\\"));
    EXPECT_FALSE(isRootFolder(walked + L"A\\"));
    ASSERT_TRUE(
        SetFileAttributesW((root + L"A").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_FALSE(walkerSearches(walked + L"A\\"));
    EXPECT_TRUE(walkerSearches(walked + L"B\\"));
    SetFileAttributesW((root + L"A").c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesW(root.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(isRootFolder(m_root));
}

TEST(CodePage, ACharacterHasItsSingleByteCode)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "the table is for the Western code page 1252; this system has " << GetACP();
    struct Case {
        char32_t character;
        unsigned code;
    };
    const Case cases[] = {
        {U'A', 65},       {U'\t', 9},          {U'?', 63},       {U'\u00e4', 228}, // ä
        {U'\u00a0', 160}, {U'\u2019', 146},    {U'\u201c', 147}, {U'\u2013', 150}, // ’ “ –
        {U'\u20ac', 128},                                                          // €
        {U'\u0101', 63}, // ā: no look-alike "a" in its place
        {U'\u65e5', 63},  {U'\U0001F600', 63}, {U'\x7f', 127},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ansiCode(c.character), c.code) << std::hex << static_cast<unsigned>(c.character);
    // So a folder named with a typographic apostrophe is unsafe on Windows:
    // its code lies between 127 and 159.
    const unsigned apostrophe = ansiCode(U'\u2019');
    EXPECT_TRUE(apostrophe >= 127 && apostrophe <= 159);
}
