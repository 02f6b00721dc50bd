// Names at the edge between the system's UTF-16 and the program's 8-bit ANSI
// text. The program keeps every path in the ANSI code page and calls the A
// functions; where a name comes from a W call (its own path, the command
// line, directory listings) it must be converted without loss, or not used.
#pragma once
#include <string>

namespace oup::win32 {

// ANSI text to UTF-16, in the ANSI code page.
std::wstring Widen(const std::string& ansi);

// The text in the ANSI code page when every character has a byte of its own
// there. A best-fit replacement ("ł" as "l") is refused: it could name a
// different file.
bool ToAnsiExact(const std::wstring& wide, std::string& ansi);

// A form of path that the A functions reach the same file by: the path
// itself when it converts exactly, else its short (8.3) path when that one
// does. Empty when there is none (8.3 names off, as on many data volumes and
// always on ReFS, give the long path back unchanged). The path must exist for
// its short form to be found.
std::string UsableAnsiPath(const std::wstring& path);

// The same for a file that may not exist yet (a log to be created): when the
// path has no usable form, its directory's usable form and the name, if the
// name converts exactly. Empty when neither works.
std::string UsableAnsiPathToCreate(const std::wstring& path);

// The path in the ANSI code page for a message, a '?' for each character
// that has no byte there. Never a path to use: '?' is no file name character.
std::string ShownAnsi(const std::wstring& wide);

// Text in the ANSI code page as UTF-8, through UTF-16.
std::string AnsiToUtf8(const std::string& ansi);

// The full (long) form of an existing path whose components may be short
// names; empty when it cannot be had (the path is not there).
std::wstring LongPath(const std::wstring& path);

}  // namespace oup::win32
