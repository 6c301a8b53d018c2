#include "ax_names.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

namespace ax {

namespace {

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}
wchar_t FoldAscii(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
}
bool IsSeparator(wchar_t c) {
    return c == L'/' || c == L'\\';
}

std::string NarrowAnsi(const wchar_t* text, int count) {
    int n = ::WideCharToMultiByte(CP_ACP, 0, text, count, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_ACP, 0, text, count, &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring WidenAnsi(const char* text, int count) {
    int n = ::MultiByteToWideChar(CP_ACP, 0, text, count, nullptr, 0);
    std::wstring out(n > 0 ? n : 0, L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_ACP, 0, text, count, &out[0], n);
    return out;
}

// One code point (one or two UTF-16 units) through the code page and back.
bool RoundTrips(const wchar_t* unit, int count, std::string& narrow) {
    narrow = NarrowAnsi(unit, count);
    return !narrow.empty() && WidenAnsi(narrow.data(), static_cast<int>(narrow.size())) == std::wstring(unit, count);
}

}  // namespace

int CompareNatural(const wchar_t* a, size_t lengthA, const wchar_t* b, size_t lengthB) {
    size_t i = 0, j = 0;
    for (;;) {
        // Text run: up to the next digit or the end.
        for (;;) {
            bool endA = i == lengthA || IsDigit(a[i]);
            bool endB = j == lengthB || IsDigit(b[j]);
            if (endA || endB) {
                if (endA != endB)
                    return endA ? -1 : 1;
                break;
            }
            wchar_t ca = FoldAscii(a[i]), cb = FoldAscii(b[j]);
            if (ca != cb)
                return ca < cb ? -1 : 1;
            ++i;
            ++j;
        }
        if (i == lengthA && j == lengthB)
            return 0;
        // Number run, wrapping like the viewer's.
        std::uint32_t na = 0, nb = 0;
        for (; i < lengthA && IsDigit(a[i]); ++i)
            na = na * 10u + static_cast<std::uint32_t>(a[i] - L'0');
        for (; j < lengthB && IsDigit(b[j]); ++j)
            nb = nb * 10u + static_cast<std::uint32_t>(b[j] - L'0');
        if (na != nb)
            return na < nb ? -1 : 1;
    }
}

bool NaturalLess(const std::wstring& a, const std::wstring& b) {
    size_t i = 0, j = 0;
    for (;;) {
        size_t endA = std::min(a.find(L'\\', i), a.size()), endB = std::min(b.find(L'\\', j), b.size());
        int c = CompareNatural(a.data() + i, endA - i, b.data() + j, endB - j);
        if (c != 0)
            return c < 0;
        bool lastA = endA == a.size(), lastB = endB == b.size();
        if (lastA || lastB)
            return lastA && !lastB;
        i = endA + 1;
        j = endB + 1;
    }
}

bool SplitEntryName(const std::wstring& name, std::vector<Span>& components) {
    components.clear();
    if (name.empty() || IsSeparator(name.front()) || IsSeparator(name.back()))
        return false;
    for (size_t start = 0; start <= name.size();) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        size_t length = end - start;
        const wchar_t* part = name.data() + start;
        if (length == 2 && part[0] == L'.' && part[1] == L'.')
            return false;
        if (length > 0 && !(length == 1 && part[0] == L'.'))
            components.push_back({start, length});
        start = end + 1;
    }
    // 'C:x.jpg' or 'C:\x.jpg' would name a place outside the archive.
    return !components.empty() && !(components.front().length >= 2 && name[components.front().start + 1] == L':');
}

bool ToAnsi(const wchar_t* text, size_t length, std::string& out) {
    bool ascii = true;
    for (size_t k = 0; k < length; ++k)
        ascii = ascii && text[k] < 0x80;
    if (ascii) {
        out.assign(text, text + length);
        return true;
    }
    out = NarrowAnsi(text, static_cast<int>(length));
    if (WidenAnsi(out.data(), static_cast<int>(out.size())) == std::wstring(text, length))
        return true;
    // Character by character: only those the code page cannot hold (best-fit
    // look-alikes included, since they would not convert back) become '_'.
    out.clear();
    std::string one;
    for (size_t k = 0; k < length;) {
        int units = (IS_HIGH_SURROGATE(text[k]) && k + 1 < length && IS_LOW_SURROGATE(text[k + 1])) ? 2 : 1;
        if (RoundTrips(&text[k], units, one))
            out += one;
        else
            out += '_';
        k += units;
    }
    return false;
}

std::wstring FromAnsi(const std::string& text) {
    bool ascii = true;
    for (char c : text)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        return std::wstring(text.begin(), text.end());
    return WidenAnsi(text.data(), static_cast<int>(text.size()));
}

std::wstring FoldName(std::wstring text) {
    for (wchar_t& c : text)
        c = c == L'/' ? L'\\' : FoldAscii(c);
    return text;
}

}  // namespace ax
