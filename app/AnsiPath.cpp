#include "AnsiPath.h"

#include <windows.h>

#include <cwchar>

bool ToAnsiExactly(const wchar_t* text, std::string& ansi) {
    // The UTF-8 code page takes no best-fit flag; it has no look-alikes anyway.
    const DWORD flags = ::GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int size = ::WideCharToMultiByte(CP_ACP, flags, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    std::string converted(size_t(size), '\0');
    if (::WideCharToMultiByte(CP_ACP, flags, text, -1, &converted[0], size, nullptr, nullptr) != size)
        return false;
    // The default character is not reported reliably on every system: the
    // text read back is the test.
    const int units = ::MultiByteToWideChar(CP_ACP, 0, converted.c_str(), -1, nullptr, 0);
    if (units <= 0)
        return false;
    std::wstring back(size_t(units), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, converted.c_str(), -1, &back[0], units);
    if (std::wcscmp(back.c_str(), text) != 0)
        return false;
    converted.resize(size_t(size) - 1);
    ansi = std::move(converted);
    return true;
}

std::wstring ShortPathOf(const wchar_t* path) {
    wchar_t shortPath[MAX_PATH];
    const DWORD length = ::GetShortPathNameW(path, shortPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return path;
    return std::wstring(shortPath, length);
}

bool AnsiPathOf(const wchar_t* path, std::string& ansi) {
    return ToAnsiExactly(path, ansi) || ToAnsiExactly(ShortPathOf(path).c_str(), ansi);
}
