// Paths in the system's code page, for the files that hold 8-bit names: a
// path is written exactly or in its short (8.3) form, never with characters
// silently changed into others.
#pragma once

#include <string>

// The text in the system's code page; false when a character has no exact
// equivalent there (best-fit look-alikes included).
bool ToAnsiExactly(const wchar_t* text, std::string& ansi);

// The short (8.3) form of a file or folder on disk; the path itself when it
// has none (a missing file, a name too long for the buffer).
std::wstring ShortPathOf(const wchar_t* path);

// The path exactly, else its short form; false when neither can be written
// exactly.
bool AnsiPathOf(const wchar_t* path, std::string& ansi);
