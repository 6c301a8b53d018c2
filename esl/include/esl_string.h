// The foundation library's strings: EString holds 8-bit text in the system
// code page (Shift-JIS on a Japanese system), EWideString UTF-16 text. Both
// keep their units on the global heap, always followed by a zero unit.
//
// Lengths and positions are in units (bytes for EString, UTF-16 code units
// for EWideString). Operations that allocate return an ESLError: on failure
// (out of memory, or a size beyond what 32 bits can hold) the string is left
// as it was.
#pragma once

#include <cstdint>
#include <type_traits>

#include "esl_error.h"
#include "esl_object.h"

template <class T>
class EGenString : public ESLObject {
    static_assert(std::is_same<T, char>::value || std::is_same<T, wchar_t>::value,
                  "EGenString holds 8-bit or UTF-16 units");

public:
    using CharType = T;
    // The units of the other width, converted through the system code page.
    using OtherCharType = typename std::conditional<std::is_same<T, char>::value, wchar_t, char>::type;

    ESL_RUNTIME_CLASS((std::is_same<T, char>::value ? "EString" : "EWideString"), ESLObject);
    // Longest string: its buffer (with the terminating zero) fits in a
    // positive 32-bit byte count.
    static constexpr int kMaxLength = static_cast<int>(0x7FFFFFFF / sizeof(T)) - 1;

    EGenString() noexcept = default;
    // Up to the first zero unit, or at most nLength units (-1: up to the zero).
    EGenString(const T* psz, int nLength = -1) noexcept;
    // Conversion through the system code page (MultiByteToWideChar with
    // precomposed characters, or WideCharToMultiByte without a default
    // character). A null source gives an empty string that has a buffer.
    explicit EGenString(const OtherCharType* psz, int nLength = -1) noexcept;
    explicit EGenString(const EGenString<OtherCharType>& str) noexcept;
    EGenString(std::nullptr_t) noexcept {}
    EGenString(const EGenString& str) noexcept;
    EGenString(EGenString&& str) noexcept;
    ~EGenString() override;

    EGenString& operator=(const EGenString& str) noexcept;
    EGenString& operator=(EGenString&& str) noexcept;
    EGenString& operator=(const T* psz) noexcept;

    // Room for at least nCapacity units (plus the terminating zero); the
    // contents are kept. Never shrinks.
    virtual ESLError Reserve(int nCapacity) noexcept;
    // Gives the buffer back; the string becomes empty.
    virtual void FreeString() noexcept;

    //--- contents
    int GetLength() const noexcept { return m_nLength; }
    int GetCapacity() const noexcept { return m_nCapacity; }
    bool IsEmpty() const noexcept { return m_nLength == 0; }
    // Never null: an empty string without a buffer gives "".
    const T* CharPtr() const noexcept { return m_pBuffer ? m_pBuffer : EmptyText(); }
    operator const T*() const noexcept { return CharPtr(); }
    // The unit at nIndex; 0 outside 0..length-1. A template so that every
    // integer type of index picks this rather than the built-in pointer one.
    template <class I, class = typename std::enable_if<std::is_integral<I>::value>::type>
    T operator[](I nIndex) const noexcept {
        const auto i = static_cast<std::int64_t>(nIndex);  // huge unsigned values turn negative
        return i >= 0 && i < m_nLength ? m_pBuffer[i] : T(0);
    }
    T GetAt(int nIndex) const noexcept { return (*this)[nIndex]; }
    // Ignored outside 0..length-1.
    void SetAt(int nIndex, T ch) noexcept;

    // Writable room for nLength units and the terminating zero (a zero is
    // placed after them), for filling by a system call; null on failure.
    // Finish with SetLength.
    T* GetBuffer(int nLength) noexcept;
    // The new length (clipped to the capacity; -1: up to the first zero).
    void SetLength(int nLength) noexcept;
    // Length 0, the buffer is kept.
    void Empty() noexcept;

    //--- changing
    ESLError Assign(const T* psz, int nLength = -1) noexcept;
    ESLError Append(T ch) noexcept;
    ESLError Append(const T* psz, int nLength = -1) noexcept;
    ESLError Append(const EGenString& str) noexcept;
    EGenString& operator+=(T ch) noexcept {
        Append(ch);
        return *this;
    }
    EGenString& operator+=(const T* psz) noexcept {
        Append(psz);
        return *this;
    }
    EGenString& operator+=(const EGenString& str) noexcept {
        Append(str);
        return *this;
    }

    //--- comparison and search
    // The difference of the first differing units (8-bit units as unsigned
    // bytes); the shorter side compares as if followed by its zero. A null
    // or empty side is empty.
    int Compare(const T* psz) const noexcept;
    // The same with the ASCII letters A-Z folded to a-z; nothing else is
    // folded (in EString not the trail byte of a double-byte character).
    int CompareNoCase(const T* psz) const noexcept;
    // Position of the first occurrence at or after nStart, or -1. In EString
    // an occurrence never starts on the trail byte of a double-byte character.
    int Find(const T* pszText, int nStart = 0) const noexcept;
    int Find(T ch, int nStart = 0) const noexcept;
    // Position of the last occurrence of ch, or -1 (in EString never a
    // trail byte).
    int ReverseFind(T ch) const noexcept;

    // Substrings; counts and positions out of range are clipped, a negative
    // count means the rest.
    EGenString Left(int nCount) const noexcept;
    EGenString Middle(int nStart, int nCount = -1) const noexcept;
    EGenString Right(int nCount) const noexcept;

    //--- paths (in EString multi-byte aware: a trail byte equal to '\\' or
    // '/' is never taken for a separator)
    // Position just after the last '\\' or '/', or 0 without one.
    int GetFileNamePosition() const noexcept;
    // The text after the last separator.
    EGenString GetFileNamePart() const noexcept;
    // The text up to and including the last separator.
    EGenString GetFolderPart() const noexcept;
    // ASCII letters only; lead and trail bytes are left as they are.
    void MakeUpper() noexcept;
    void MakeLower() noexcept;

    //--- numbers
    // "-" for negatives, then the digits. With nDigits >= 1 exactly nDigits
    // characters, the sign included, zero-padded after the sign (the highest
    // digits dropped when the value is longer).
    static EGenString FromInteger(std::int64_t nValue, int nDigits = 0) noexcept;
    // Upper-case digits; with nDigits >= 1 exactly that many (zero-padded, the
    // highest digits dropped), otherwise as many as the value needs.
    static EGenString FromHexadecimal(std::uint64_t nValue, int nDigits = 0) noexcept;
    // Sign, integer digits, ".", then nDigits fraction digits rounded at the
    // last (at most 15). With nDigits < 1, up to nine fraction digits with
    // trailing zeros dropped (at least one kept).
    static EGenString FromReal(double rValue, int nDigits = 0) noexcept;

    //--- operators
    friend EGenString operator+(const EGenString& a, const EGenString& b) noexcept {
        EGenString r(a);
        r.Append(b);
        return r;
    }
    friend EGenString operator+(const EGenString& a, const T* b) noexcept {
        EGenString r(a);
        r.Append(b);
        return r;
    }
    // Without this, string + unit would compile as pointer arithmetic.
    friend EGenString operator+(const EGenString& a, T ch) noexcept {
        EGenString r(a);
        r.Append(ch);
        return r;
    }
    friend EGenString operator+(const T* a, const EGenString& b) noexcept {
        EGenString r(a);
        r.Append(b);
        return r;
    }
    friend bool operator==(const EGenString& a, const EGenString& b) noexcept { return a.Compare(b.CharPtr()) == 0; }
    friend bool operator==(const EGenString& a, const T* b) noexcept { return a.Compare(b) == 0; }
    friend bool operator==(const T* a, const EGenString& b) noexcept { return b.Compare(a) == 0; }
    friend bool operator!=(const EGenString& a, const EGenString& b) noexcept { return !(a == b); }
    friend bool operator!=(const EGenString& a, const T* b) noexcept { return !(a == b); }
    friend bool operator!=(const T* a, const EGenString& b) noexcept { return !(a == b); }
    friend bool operator<(const EGenString& a, const EGenString& b) noexcept { return a.Compare(b.CharPtr()) < 0; }

private:
    static const T* EmptyText() noexcept;
    // Makes room for nLength units by the growth rule n + n/2 + 1.
    ESLError Grow(int nLength) noexcept;
    ESLError AllocateExactly(int nCapacity) noexcept;
    bool IsLeadUnit(T ch) const noexcept;
    void Terminate() noexcept;

    T* m_pBuffer = nullptr;
    int m_nLength = 0;
    int m_nCapacity = 0;
};

extern template class EGenString<char>;
extern template class EGenString<wchar_t>;

using EString = EGenString<char>;
using EWideString = EGenString<wchar_t>;
