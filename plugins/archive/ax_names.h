// Entry names as the host sees them: checked, split into components,
// converted to the ANSI code page, and ordered like the viewer orders folders.
#pragma once

#include <string>
#include <vector>

namespace ax {

// The viewer's natural order of two texts: letters A-Z folded to a-z, digit
// runs compared by value (unsigned 32-bit, wrapping), everything else by code
// unit. Negative, 0 or positive.
int CompareNatural(const wchar_t* a, size_t lengthA, const wchar_t* b, size_t lengthB);

// Paths with '\' separators, component by component; a path that runs out
// first is smaller.
bool NaturalLess(const std::wstring& a, const std::wstring& b);

// One component of a name: where it starts and how long it is.
struct Span {
    size_t start;
    size_t length;
};

// Splits an entry name at '/' and '\'. False for a name that must never be
// listed: empty, a leading separator, a drive letter, a '..' component, or a
// trailing separator (a folder). Empty and '.' components are dropped.
bool SplitEntryName(const std::wstring& name, std::vector<Span>& components);

// To the ANSI code page. A character the code page cannot hold becomes '_';
// the result says whether the text came through unchanged.
bool ToAnsi(const wchar_t* text, size_t length, std::string& out);
std::wstring FromAnsi(const std::string& text);

// The key under which names are compared without letter case: ASCII A-Z
// folded, '/' read as '\'. Done on UTF-16, so a double-byte character's
// trail byte (0x5C, 0x41-0x5A in Shift-JIS) is never folded or split.
std::wstring FoldName(std::wstring text);

}  // namespace ax
