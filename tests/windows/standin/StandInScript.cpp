// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in's script: read when it starts, from script.txt in its folder,
// then from DECKRUN_STANDIN_SCRIPT (the keys are listed in StandInServer.cpp).

#include "StandInState.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace standin {

namespace {

/** A scripted text: "\0" stands for a NUL. */
std::wstring unescaped(const std::wstring &text)
{
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'0') {
            out += L'\0';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

/** "OutputType:5|NumberOfCopies:2": the deck's own print options. */
void readDeck(Script &s, const std::wstring &value)
{
    for (const std::wstring &item : split(value, L'|')) {
        const auto colon = item.find(L':');
        if (colon != std::wstring::npos)
            s.deck[item.substr(0, colon)] = std::wcstol(item.c_str() + colon + 1, nullptr, 10);
    }
}

void readLine(Script &s, std::string line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    const auto eq = line.find('=');
    if (eq == std::string::npos)
        return;
    const std::string key = line.substr(0, eq);
    const std::string raw = line.substr(eq + 1);
    const std::wstring value = utf16(raw);
    if (key == "name") {
        s.name = value;
    } else if (key == "printers") {
        s.printers = split(value, L'|');
    } else if (key == "open-error") {
        s.openError = unescaped(value);
    } else if (key == "open-error-number") {
        s.openErrorNumber = static_cast<WORD>(std::stoul(raw));
    } else if (key == "open-error-scode") {
        s.openErrorScode = static_cast<HRESULT>(std::stoul(raw, nullptr, 16));
    } else if (key == "printer-kept") {
        s.printerKept = value;
        s.keepsPrinter = true;
    } else if (key == "busy") {
        s.busy = std::stoi(raw);
    } else if (key == "busy-for") {
        s.busyFor = static_cast<DWORD>(std::stoul(raw));
    } else if (key == "busy-answer") {
        s.busyAnswer = value;
    } else if (key == "hang") {
        s.hang = split(value, L'|');
    } else if (key == "open-error-file") {
        s.openErrorFile = value;
    } else if (key == "fault-starts") {
        s.faultStarts = std::stoi(raw);
    } else if (key == "deck") {
        readDeck(s, value);
    } else if (key == "not-kept") {
        s.notKept = split(value, L'|');
    } else if (key == "slides") {
        s.slides = std::stol(raw);
    }
}

/** How many servers were started from the folder before this one. */
int earlierStarts(const std::wstring &folder)
{
    std::ifstream in((folder + L"\\calls.log").c_str());
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        n += line.rfind("started ", 0) == 0;
    return n;
}

} // namespace

std::wstring utf16(const std::string &text)
{
    if (text.empty())
        return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string utf8(const std::wstring &text)
{
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::vector<std::wstring> split(const std::wstring &text, wchar_t separator)
{
    std::vector<std::wstring> items;
    std::wstringstream list(text);
    std::wstring item;
    while (std::getline(list, item, separator))
        items.push_back(item);
    return items;
}

Script readScript(const std::wstring &folder)
{
    Script s;
    std::ifstream in((folder + L"\\script.txt").c_str());
    std::string line;
    while (std::getline(in, line))
        readLine(s, line);
    if (const char *lines = std::getenv("DECKRUN_STANDIN_SCRIPT")) {
        std::stringstream list(lines);
        while (std::getline(list, line, ';'))
            readLine(s, line);
    }
    if (s.faultStarts >= 0 && earlierStarts(folder) >= s.faultStarts) {
        const Script plain;
        s.openError = plain.openError;
        s.openErrorNumber = plain.openErrorNumber;
        s.openErrorScode = plain.openErrorScode;
        s.keepsPrinter = false;
        s.busy = 0;
        s.busyFor = 0;
        s.hang.clear();
        s.notKept.clear();
    }
    return s;
}

} // namespace standin
