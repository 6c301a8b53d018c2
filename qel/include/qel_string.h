// The in-house wide string and the natural order that every lookup map and
// the page order use: ASCII letters without case, digit runs by value.
#pragma once

#include <cstddef>
#include <memory>

#include "esl_string.h"

namespace qel {

// -1, 0 or 1. Runs of other characters compare by 16-bit code unit with only
// 'A' to 'Z' folded to lower case; runs of '0' to '9' compare as unsigned
// 32-bit values (wrapping, an empty run being 0). A null text is empty.
int CompareNatural(const wchar_t* a, const wchar_t* b) noexcept;

class CWString {
public:
    CWString();
    CWString(const wchar_t* text);  // NOLINT: wide text converts freely
    CWString(const wchar_t* text, size_t length);
    // 8-bit text in the ANSI code page, up to its NUL.
    explicit CWString(const char* text);
    CWString(const CWString& other);
    CWString(CWString&& other) noexcept;
    ~CWString();

    CWString& operator=(const CWString& other);
    CWString& operator=(CWString&& other) noexcept;
    CWString& operator=(const wchar_t* text);

    // Never null: an empty string gives "".
    const wchar_t* c_str() const noexcept { return m_pInner ? m_pInner->_string.CharPtr() : L""; }
    size_t Length() const noexcept { return m_pInner ? size_t(m_pInner->_string.GetLength()) : 0; }
    bool IsEmpty() const noexcept { return Length() == 0; }
    void Clear();

    CWString& Append(const wchar_t* text, size_t length);
    CWString& operator+=(const CWString& other);
    CWString& operator+=(wchar_t ch);
    CWString& operator+=(const wchar_t* text);
    CWString& operator+=(const char* text);

private:
    // Made on first use: an empty or moved-from string has none.
    struct Inner {
        CWString* _pOwner = nullptr;
        EWideString _string;
        Inner() = default;
        Inner(const Inner& other);  // raises when memory runs out
    };
    Inner& Own();

    std::unique_ptr<Inner> m_pInner;
};

CWString operator+(const CWString& a, const CWString& b);
CWString operator+(const CWString& a, wchar_t ch);
CWString operator+(const CWString& a, const wchar_t* text);
CWString operator+(const CWString& a, const char* text);

inline bool operator==(const CWString& a, const CWString& b) noexcept {
    return CompareNatural(a.c_str(), b.c_str()) == 0;
}
inline bool operator!=(const CWString& a, const CWString& b) noexcept {
    return CompareNatural(a.c_str(), b.c_str()) != 0;
}
inline bool operator<(const CWString& a, const CWString& b) noexcept {
    return CompareNatural(a.c_str(), b.c_str()) < 0;
}
inline bool operator>(const CWString& a, const CWString& b) noexcept {
    return CompareNatural(a.c_str(), b.c_str()) > 0;
}
inline bool operator==(const CWString& a, const wchar_t* b) noexcept {
    return CompareNatural(a.c_str(), b) == 0;
}
inline bool operator!=(const CWString& a, const wchar_t* b) noexcept {
    return CompareNatural(a.c_str(), b) != 0;
}
inline bool operator<(const CWString& a, const wchar_t* b) noexcept {
    return CompareNatural(a.c_str(), b) < 0;
}
inline bool operator>(const CWString& a, const wchar_t* b) noexcept {
    return CompareNatural(a.c_str(), b) > 0;
}

}  // namespace qel
