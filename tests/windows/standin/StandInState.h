// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the parts of the stand-in automation server share (StandInServer.cpp
// describes the server): its script, its state, the objects it hands out and
// the table of their members, each member answered by a handler of its own
// (the application's in StandInApplication.cpp, the presentation's and its
// print options' in StandInPrintOptions.cpp).

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace standin {

/** What it does, from script.txt and DECKRUN_STANDIN_SCRIPT. */
struct Script {
    std::wstring name = L"Microsoft PowerPoint";
    std::vector<std::wstring> printers{L"Deckrun Test Printer"};
    std::wstring openError;
    WORD openErrorNumber = 0;
    HRESULT openErrorScode = 0;
    std::wstring printerKept;
    bool keepsPrinter = false;
    int busy = 0;
    DWORD busyFor = 0;
    std::wstring busyAnswer; // empty: the two take turns
    std::vector<std::wstring> hang;
    int faultStarts = -1;              // every start
    std::wstring openErrorFile;        // empty: every file
    std::map<std::wstring, long> deck; // the deck's own print options, by member
    std::vector<std::wstring> notKept; // print options taken without being kept
    long slides = 5;                   // the deck's slides
};

Script readScript(const std::wstring &folder);

/** The print options of the open presentation. */
struct PrintState {
    std::map<std::wstring, long> values; // by member name
    std::vector<std::pair<long, long>> ranges;
};

struct Server {
    std::wstring folder;
    Script script;
    bool user = false;         // started by the user, not by COM: in the table for any client
    bool dialog = false;       // a modal dialog is open in it: every call is refused as busy
    HANDLE endAsked = nullptr; // set by whoever started it to end it (a user's)
    int busyAnswers = 0;
    HRESULT lastBusy = S_OK;
    bool opened = false;
    bool visible = false;
    bool printInBackground = true;
    std::wstring printer;
    PrintState print;
    DWORD thread = 0;
    DWORD lastCall = 0;
    DWORD rotCookie = 0;
    bool inRot = false;
    DWORD classCookie = 0;
    bool classRegistered = false;
    LONG references = 0;   // held on all its objects, its own one on the application included
    bool quitting = false; // Quit was called: it ends when its clients let go
    DWORD quitAt = 0;
    HANDLE starter = nullptr; // the process that started it (the client), while it runs
    HWND window = nullptr;    // its main window (a message-only one: no display needed)
};

extern Server server;

std::wstring utf16(const std::string &text);
std::string utf8(const std::wstring &text);
std::vector<std::wstring> split(const std::wstring &text, wchar_t separator);

/** One line per call, written at once, so a test can read it the moment a call returns. */
void record(const std::wstring &line);

/** An exception raised to the caller; `number` (wCode) and `scode` as PowerPoint may send them. */
HRESULT raise(EXCEPINFO *error, const std::wstring &description, WORD number = 0,
              HRESULT scode = E_FAIL);

/** Out of the running-object table and the class table; ends once its clients let go. */
void leave();
/** Ends the message loop. */
void endLoop();
/** Its own reference on the application is the only one left. */
bool noClientLeft();

enum class Kind {
    CreatedApplication,
    FoundApplication,
    Presentations,
    Presentation,
    PrintOptions,
    PrintRanges,
    PrintRange,
};

/** A new object of `kind` with one reference, the caller's; `index`: which range. */
IDispatch *newObject(Kind kind, int index = 0);
/** Every object handed out and not yet freed (all on its one thread). */
extern std::vector<IDispatch *> liveObjects;

/** One call of a member, as its handler sees it. */
struct Call {
    Kind kind;
    int index; // of a PrintRange
    WORD flags;
    DISPPARAMS *params;
    VARIANT *result;
    EXCEPINFO *error;
    bool get;             // a property get or a method
    const VARIANT *value; // a put's value; null for other calls
    UINT argCount;
};

using Handler = HRESULT (*)(const Call &);

struct Member {
    Kind kind;
    const wchar_t *name;
    DISPID id;
    Handler handler;
};

/** A named argument of a method. */
struct NamedArgument {
    Kind kind;
    DISPID member;
    const wchar_t *name;
    DISPID id;
};

std::span<const Member> applicationMembers();
std::span<const NamedArgument> applicationArguments();
std::span<const Member> printMembers();

constexpr DISPID QuitId = 5;

// Results.
HRESULT text(VARIANT *result, const std::wstring &value);
HRESULT integer(VARIANT *result, LONG value);
HRESULT boolean(VARIANT *result, bool value);
HRESULT object(VARIANT *result, Kind kind, int index = 0);

/** A text argument, by value or by reference. */
bool textArgument(const VARIANT &v, std::wstring &out);
/** A number argument of any type that converts to one (VT_BOOL true is -1). */
bool longArgument(const VARIANT &v, long &out);

} // namespace standin
