#include "qel_string.h"

#include <windows.h>

#include <climits>
#include <cstdint>
#include <cwchar>

#include "esl_string.h"
#include "qel_exception.h"
#include "qel_inner.h"

#define QEL_SOURCE "qel_string"

namespace qel {

namespace {

inline bool IsDigit(wchar_t ch) {
    return ch >= L'0' && ch <= L'9';
}
inline bool EndsTextRun(wchar_t ch) {
    return ch == 0 || IsDigit(ch);
}
inline wchar_t FoldAscii(wchar_t ch) {
    return ch >= L'A' && ch <= L'Z' ? wchar_t(ch + (L'a' - L'A')) : ch;
}

// The digit run at p as a wrapping unsigned 32-bit value; p moves past it.
inline uint32_t ReadNumber(const wchar_t*& p) {
    uint32_t value = 0;
    for (; IsDigit(*p); ++p)
        value = value * 10u + uint32_t(*p - L'0');
    return value;
}

}  // namespace

int CompareNatural(const wchar_t* a, const wchar_t* b) noexcept {
    if (!a)
        a = L"";
    if (!b)
        b = L"";
    for (;;) {
        // Text runs, compared unit by unit; a run that stops first is a
        // prefix of the other and therefore smaller. Equal units, the common
        // case in a folder of similar names, take the short way.
        for (;; ++a, ++b) {
            wchar_t ca = *a;
            wchar_t cb = *b;
            if (ca == cb) {
                if (ca == 0)
                    return 0;
                if (IsDigit(ca))
                    break;
                continue;
            }
            bool endA = EndsTextRun(ca);
            bool endB = EndsTextRun(cb);
            if (endA || endB) {
                if (!endA)
                    return 1;
                if (!endB)
                    return -1;
                break;
            }
            ca = FoldAscii(ca);
            cb = FoldAscii(cb);
            if (ca != cb)
                return ca < cb ? -1 : 1;
        }
        if (!*a && !*b)
            return 0;
        uint32_t na = ReadNumber(a);
        uint32_t nb = ReadNumber(b);
        if (na != nb)
            return na < nb ? -1 : 1;
    }
}

CWString::CWString() = default;

CWString::CWString(const wchar_t* text) : CWString(text, text ? std::wcslen(text) : 0) {}

CWString::CWString(const wchar_t* text, size_t length) {
    Append(text, length);
}

CWString::CWString(const char* text) {
    if (!text || !*text)
        return;
    EWideString converted(text);
    QEL_FAIL_IF(converted.IsEmpty());
    Own()._string = std::move(converted);
}

CWString::Inner::Inner(const Inner& other) : _pOwner(nullptr) {
    QEL_FAIL_IF(_string.Append(other._string) != eslErrorSuccess);
}

CWString::CWString(const CWString& other) : m_pInner(detail::CopyInner(other.m_pInner, this)) {}

CWString::CWString(CWString&& other) noexcept : m_pInner(detail::TakeInner(other.m_pInner, this)) {}

CWString::~CWString() = default;

CWString& CWString::operator=(const CWString& other) {
    m_pInner = detail::CopyInner(other.m_pInner, this);
    return *this;
}

CWString& CWString::operator=(CWString&& other) noexcept {
    m_pInner = detail::TakeInner(other.m_pInner, this);
    return *this;
}

CWString& CWString::operator=(const wchar_t* text) {
    CWString copy(text);
    return *this = std::move(copy);
}

CWString::Inner& CWString::Own() {
    if (!m_pInner) {
        m_pInner = std::make_unique<Inner>();
        m_pInner->_pOwner = this;
    }
    return *m_pInner;
}

void CWString::Clear() {
    if (m_pInner)
        m_pInner->_string.Empty();
}

CWString& CWString::Append(const wchar_t* text, size_t length) {
    if (!text || length == 0)
        return *this;
    QEL_FAIL_IF(length > size_t(EWideString::kMaxLength));
    QEL_FAIL_IF(Own()._string.Append(text, int(length)) != eslErrorSuccess);
    return *this;
}

CWString& CWString::operator+=(const CWString& other) {
    return Append(other.c_str(), other.Length());
}
CWString& CWString::operator+=(wchar_t ch) {
    return Append(&ch, 1);
}
CWString& CWString::operator+=(const wchar_t* text) {
    return Append(text, text ? std::wcslen(text) : 0);
}
CWString& CWString::operator+=(const char* text) {
    return *this += CWString(text);
}

namespace {
template <class T>
CWString Concatenate(const CWString& a, const T& b) {
    CWString r(a);
    r += b;
    return r;
}
}  // namespace

CWString operator+(const CWString& a, const CWString& b) {
    return Concatenate(a, b);
}
CWString operator+(const CWString& a, wchar_t ch) {
    return Concatenate(a, ch);
}
CWString operator+(const CWString& a, const wchar_t* text) {
    return Concatenate(a, text);
}
CWString operator+(const CWString& a, const char* text) {
    return Concatenate(a, text);
}

}  // namespace qel
