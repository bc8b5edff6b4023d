// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The codes of the failures Deckrun raises and reads, each named once. The
// error report quotes a failure's description; the code says which failure it
// is where a handler treats one kind apart (the folder walker skipping an
// unreadable folder, "Add PowerPoint File(s)" asking for "Add All"). The
// numbers are those the program has always used. Free of Qt: the Windows
// file-system core uses them too.

namespace deckrun::code {

inline constexpr int Overflow = 6;
inline constexpr int TypeMismatch = 13;
inline constexpr int BadFileName = 52;
inline constexpr int FileNotFound = 53;
inline constexpr int DeviceIoError = 57;
inline constexpr int DeviceUnavailable = 68;
inline constexpr int PermissionDenied = 70;
inline constexpr int DiskNotReady = 71;
inline constexpr int PathFileAccessError = 75;
inline constexpr int PathNotFound = 76;
inline constexpr int ObjectNotSet = 91;          // "Object variable or With block variable not set"
inline constexpr int InvalidFileFormat = 321;    // the skin file is not a skin
inline constexpr int InvalidPropertyValue = 380; // a selector index out of range
inline constexpr int CannotCreateObject = 429;   // the presentation application is not running
inline constexpr int NotAnswering = 462;   // the application runs, but does not answer in time
inline constexpr int InvalidPicture = 481; // the hand cursor file is unreadable
inline constexpr int PrinterError = 482;   // no printers are installed
inline constexpr int FileNameBufferTooSmall = 20476; // too many files chosen in the file dialog
inline constexpr int IndexOutOfBounds = 35600;       // a queue position that is not there

} // namespace deckrun::code
