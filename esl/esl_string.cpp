#include "esl_string.h"

#include <windows.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "esl_heap.h"

namespace {

// Units up to the first zero, but never more than nMax (negative: no limit
// but the int range), so that a caller's length never makes us read past it.
template <class T>
int BoundedLength(const T* psz, int nMax) {
    if (!psz)
        return 0;
    const int limit = nMax < 0 ? INT_MAX : nMax;
    int n = 0;
    while (n < limit && psz[n])
        ++n;
    return n;
}

// Both return the number of units written (or needed, for a null target).
int ConvertUnits(const char* src, int nSrc, wchar_t* dst, int nDst) {
    return ::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, src, nSrc, dst, nDst);
}
int ConvertUnits(const wchar_t* src, int nSrc, char* dst, int nDst) {
    return ::WideCharToMultiByte(CP_ACP, 0, src, nSrc, dst, nDst, nullptr, nullptr);
}

bool IsLead(char ch) {
    return ::IsDBCSLeadByte(static_cast<BYTE>(ch)) != FALSE;
}
bool IsLead(wchar_t) {
    return false;
}

template <class T>
unsigned Unit(T ch) {
    return static_cast<typename std::make_unsigned<T>::type>(ch);
}

unsigned FoldAscii(unsigned ch) {
    return ch >= 'A' && ch <= 'Z' ? ch + ('a' - 'A') : ch;
}

bool IsSeparator(unsigned ch) {
    return ch == '\\' || ch == '/';
}

// Decimal digits of v, lowest first; the count.
int DecimalDigitsReversed(unsigned long long v, char* out) {
    int n = 0;
    do {
        out[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    return n;
}

}  // namespace

//--- construction

template <class T>
EGenString<T>::EGenString(const T* psz, int nLength) noexcept {
    Assign(psz, nLength);
}

template <class T>
EGenString<T>::EGenString(const OtherCharType* psz, int nLength) noexcept {
    const int nSrc = BoundedLength(psz, nLength);
    if (nSrc == 0) {
        Reserve(0);
        return;
    }
    const int nUnits = ConvertUnits(psz, nSrc, nullptr, 0);
    if (nUnits <= 0 || Grow(nUnits) != eslErrorSuccess)
        return;
    m_nLength = ConvertUnits(psz, nSrc, m_pBuffer, m_nCapacity);
    if (m_nLength < 0)
        m_nLength = 0;
    Terminate();
}

template <class T>
EGenString<T>::EGenString(const EGenString<OtherCharType>& str) noexcept : EGenString(str.CharPtr(), str.GetLength()) {}

template <class T>
EGenString<T>::EGenString(const EGenString& str) noexcept : ESLObject() {
    Assign(str.m_pBuffer, str.m_nLength);
}

template <class T>
EGenString<T>::EGenString(EGenString&& str) noexcept
    : m_pBuffer(str.m_pBuffer), m_nLength(str.m_nLength), m_nCapacity(str.m_nCapacity) {
    str.m_pBuffer = nullptr;
    str.m_nLength = 0;
    str.m_nCapacity = 0;
}

template <class T>
EGenString<T>::~EGenString() {
    if (m_pBuffer)
        eslHeapFree(nullptr, m_pBuffer, 0);
}

template <class T>
EGenString<T>& EGenString<T>::operator=(const EGenString& str) noexcept {
    if (this != &str)
        Assign(str.m_pBuffer, str.m_nLength);
    return *this;
}

template <class T>
EGenString<T>& EGenString<T>::operator=(EGenString&& str) noexcept {
    if (this != &str) {
        FreeString();
        m_pBuffer = str.m_pBuffer;
        m_nLength = str.m_nLength;
        m_nCapacity = str.m_nCapacity;
        str.m_pBuffer = nullptr;
        str.m_nLength = 0;
        str.m_nCapacity = 0;
    }
    return *this;
}

template <class T>
EGenString<T>& EGenString<T>::operator=(const T* psz) noexcept {
    Assign(psz);
    return *this;
}

//--- buffer

template <class T>
const T* EGenString<T>::EmptyText() noexcept {
    static const T kEmpty[1] = {0};
    return kEmpty;
}

template <class T>
ESLError EGenString<T>::AllocateExactly(int nCapacity) noexcept {
    // nCapacity <= kMaxLength, so the byte count fits in 31 bits.
    const DWORD dwBytes = static_cast<DWORD>((static_cast<std::uint64_t>(nCapacity) + 1) * sizeof(T));
    void* ptr = m_pBuffer ? eslHeapReallocate(nullptr, m_pBuffer, dwBytes, 0) : eslHeapAllocate(nullptr, dwBytes, 0);
    if (!ptr)
        return eslErrorGeneral;
    m_pBuffer = static_cast<T*>(ptr);
    m_nCapacity = nCapacity;
    Terminate();
    return eslErrorSuccess;
}

template <class T>
ESLError EGenString<T>::Grow(int nLength) noexcept {
    if (nLength < 0 || nLength > kMaxLength)
        return eslErrorInvalidParameter;
    if (m_pBuffer && nLength <= m_nCapacity)
        return eslErrorSuccess;
    const std::int64_t capacity = static_cast<std::int64_t>(nLength) + nLength / 2 + 1;
    return EGenString::Reserve(static_cast<int>(capacity > kMaxLength ? kMaxLength : capacity));
}

template <class T>
ESLError EGenString<T>::Reserve(int nCapacity) noexcept {
    if (nCapacity < 0 || nCapacity > kMaxLength)
        return eslErrorInvalidParameter;
    if (m_pBuffer && nCapacity <= m_nCapacity)
        return eslErrorSuccess;
    return AllocateExactly(nCapacity > m_nCapacity ? nCapacity : m_nCapacity);
}

template <class T>
void EGenString<T>::FreeString() noexcept {
    if (m_pBuffer)
        eslHeapFree(nullptr, m_pBuffer, 0);
    m_pBuffer = nullptr;
    m_nLength = 0;
    m_nCapacity = 0;
}

template <class T>
void EGenString<T>::Terminate() noexcept {
    if (m_pBuffer)
        m_pBuffer[m_nLength] = 0;
}

template <class T>
bool EGenString<T>::IsLeadUnit(T ch) const noexcept {
    return IsLead(ch);
}

template <class T>
void EGenString<T>::SetAt(int nIndex, T ch) noexcept {
    if (nIndex >= 0 && nIndex < m_nLength)
        m_pBuffer[nIndex] = ch;
}

template <class T>
T* EGenString<T>::GetBuffer(int nLength) noexcept {
    if (Grow(nLength) != eslErrorSuccess)
        return nullptr;
    if (nLength >= m_nLength)
        m_pBuffer[nLength] = 0;
    return m_pBuffer;
}

template <class T>
void EGenString<T>::SetLength(int nLength) noexcept {
    if (!m_pBuffer) {
        m_nLength = 0;
        return;
    }
    if (nLength < 0) {
        m_pBuffer[m_nCapacity] = 0;  // a caller that filled everything left no zero
        nLength = BoundedLength(m_pBuffer, m_nCapacity);
    }
    m_nLength = nLength < m_nCapacity ? nLength : m_nCapacity;
    Terminate();
}

template <class T>
void EGenString<T>::Empty() noexcept {
    m_nLength = 0;
    Terminate();
}

//--- changing

template <class T>
ESLError EGenString<T>::Assign(const T* psz, int nLength) noexcept {
    const int n = BoundedLength(psz, nLength);
    if (m_pBuffer && psz >= m_pBuffer && psz <= m_pBuffer + m_nLength) {
        // A part of ourselves: it already fits.
        std::memmove(m_pBuffer, psz, n * sizeof(T));
        m_nLength = n;
        Terminate();
        return eslErrorSuccess;
    }
    const ESLError err = Grow(n);
    if (err != eslErrorSuccess)
        return err;
    if (n)
        std::memcpy(m_pBuffer, psz, n * sizeof(T));
    m_nLength = n;
    Terminate();
    return eslErrorSuccess;
}

template <class T>
ESLError EGenString<T>::Append(T ch) noexcept {
    if (m_nLength >= kMaxLength)
        return eslErrorInvalidParameter;
    const ESLError err = Grow(m_nLength + 1);
    if (err != eslErrorSuccess)
        return err;
    m_pBuffer[m_nLength++] = ch;
    Terminate();
    return eslErrorSuccess;
}

template <class T>
ESLError EGenString<T>::Append(const T* psz, int nLength) noexcept {
    const int n = BoundedLength(psz, nLength);
    if (n == 0)
        return eslErrorSuccess;
    if (static_cast<std::int64_t>(m_nLength) + n > kMaxLength)
        return eslErrorInvalidParameter;
    // A part of ourselves moves when the buffer does.
    const bool bInside = m_pBuffer && psz >= m_pBuffer && psz <= m_pBuffer + m_nLength;
    const std::ptrdiff_t offset = bInside ? psz - m_pBuffer : 0;
    const ESLError err = Grow(m_nLength + n);
    if (err != eslErrorSuccess)
        return err;
    if (bInside)
        psz = m_pBuffer + offset;
    std::memmove(m_pBuffer + m_nLength, psz, n * sizeof(T));
    m_nLength += n;
    Terminate();
    return eslErrorSuccess;
}

template <class T>
ESLError EGenString<T>::Append(const EGenString& str) noexcept {
    return Append(str.m_pBuffer, str.m_nLength);
}

//--- comparison and search

template <class T>
int EGenString<T>::Compare(const T* psz) const noexcept {
    const T* other = psz ? psz : EmptyText();
    for (int i = 0;; ++i) {
        const unsigned a = i < m_nLength ? Unit(m_pBuffer[i]) : 0;
        const unsigned b = Unit(other[i]);
        if (a != b)
            return static_cast<int>(a) - static_cast<int>(b);
        if (b == 0)
            return 0;
    }
}

template <class T>
int EGenString<T>::CompareNoCase(const T* psz) const noexcept {
    const T* other = psz ? psz : EmptyText();
    bool bTrail = false;  // both sides agree so far, so they share this state
    for (int i = 0;; ++i) {
        unsigned a = i < m_nLength ? Unit(m_pBuffer[i]) : 0;
        unsigned b = Unit(other[i]);
        if (!bTrail) {
            a = FoldAscii(a);
            b = FoldAscii(b);
        }
        if (a != b)
            return static_cast<int>(a) - static_cast<int>(b);
        if (b == 0)
            return 0;
        bTrail = !bTrail && IsLeadUnit(m_pBuffer[i]);
    }
}

template <class T>
int EGenString<T>::Find(const T* pszText, int nStart) const noexcept {
    if (!pszText)
        return -1;
    if (nStart < 0)
        nStart = 0;
    if (nStart > m_nLength)
        return -1;
    const int nText = BoundedLength(pszText, -1);
    if (nText == 0)
        return nStart;
    for (int i = 0; i + nText <= m_nLength;) {
        if (i >= nStart && std::memcmp(m_pBuffer + i, pszText, nText * sizeof(T)) == 0)
            return i;
        i += IsLeadUnit(m_pBuffer[i]) && i + 1 < m_nLength ? 2 : 1;
    }
    return -1;
}

template <class T>
int EGenString<T>::Find(T ch, int nStart) const noexcept {
    const T text[2] = {ch, 0};
    return ch ? Find(text, nStart) : -1;
}

template <class T>
int EGenString<T>::ReverseFind(T ch) const noexcept {
    int nLast = -1;
    for (int i = 0; i < m_nLength;) {
        if (m_pBuffer[i] == ch && ch)
            nLast = i;
        i += IsLeadUnit(m_pBuffer[i]) && i + 1 < m_nLength ? 2 : 1;
    }
    return nLast;
}

template <class T>
EGenString<T> EGenString<T>::Middle(int nStart, int nCount) const noexcept {
    if (nStart < 0)
        nStart = 0;
    if (nStart >= m_nLength)
        return EGenString();
    const int nRest = m_nLength - nStart;
    if (nCount < 0 || nCount > nRest)
        nCount = nRest;
    return EGenString(m_pBuffer + nStart, nCount);
}

template <class T>
EGenString<T> EGenString<T>::Left(int nCount) const noexcept {
    return Middle(0, nCount);
}

template <class T>
EGenString<T> EGenString<T>::Right(int nCount) const noexcept {
    if (nCount < 0 || nCount > m_nLength)
        nCount = m_nLength;
    return Middle(m_nLength - nCount, nCount);
}

//--- paths

template <class T>
int EGenString<T>::GetFileNamePosition() const noexcept {
    int nPos = 0;
    for (int i = 0; i < m_nLength;) {
        if (IsLeadUnit(m_pBuffer[i]) && i + 1 < m_nLength) {
            i += 2;
            continue;
        }
        if (IsSeparator(Unit(m_pBuffer[i])))
            nPos = i + 1;
        ++i;
    }
    return nPos;
}

template <class T>
EGenString<T> EGenString<T>::GetFileNamePart() const noexcept {
    return Middle(GetFileNamePosition());
}

template <class T>
EGenString<T> EGenString<T>::GetFolderPart() const noexcept {
    return Left(GetFileNamePosition());
}

template <class T>
void EGenString<T>::MakeUpper() noexcept {
    for (int i = 0; i < m_nLength; ++i) {
        if (IsLeadUnit(m_pBuffer[i]))
            ++i;
        else if (m_pBuffer[i] >= 'a' && m_pBuffer[i] <= 'z')
            m_pBuffer[i] = static_cast<T>(m_pBuffer[i] - ('a' - 'A'));
    }
}

template <class T>
void EGenString<T>::MakeLower() noexcept {
    for (int i = 0; i < m_nLength; ++i) {
        if (IsLeadUnit(m_pBuffer[i]))
            ++i;
        else if (m_pBuffer[i] >= 'A' && m_pBuffer[i] <= 'Z')
            m_pBuffer[i] = static_cast<T>(m_pBuffer[i] + ('a' - 'A'));
    }
}

//--- numbers

template <class T>
EGenString<T> EGenString<T>::FromInteger(std::int64_t nValue, int nDigits) noexcept {
    const bool bNegative = nValue < 0;
    const unsigned long long magnitude =
        bNegative ? 0ULL - static_cast<unsigned long long>(nValue) : static_cast<unsigned long long>(nValue);
    char digits[24];
    const int nNatural = DecimalDigitsReversed(magnitude, digits);
    const int nTotal = nDigits >= 1 ? nDigits : nNatural + (bNegative ? 1 : 0);
    EGenString r;
    if (r.Reserve(nTotal) != eslErrorSuccess)
        return r;
    if (bNegative)
        r.Append(T('-'));
    const int nWidth = nTotal - r.m_nLength;
    for (int i = nWidth - 1; i >= 0; --i)
        r.Append(i < nNatural ? T(digits[i]) : T('0'));
    return r;
}

template <class T>
EGenString<T> EGenString<T>::FromHexadecimal(std::uint64_t nValue, int nDigits) noexcept {
    static const char kHex[] = "0123456789ABCDEF";
    char digits[16];
    int nNatural = 0;
    do {
        digits[nNatural++] = kHex[nValue & 15];
        nValue >>= 4;
    } while (nValue);
    const int nTotal = nDigits >= 1 ? nDigits : nNatural;
    EGenString r;
    if (r.Reserve(nTotal) != eslErrorSuccess)
        return r;
    for (int i = nTotal - 1; i >= 0; --i)
        r.Append(i < nNatural ? T(digits[i]) : T('0'));
    return r;
}

template <class T>
EGenString<T> EGenString<T>::FromReal(double rValue, int nDigits) noexcept {
    EGenString r;
    if (std::isnan(rValue)) {
        for (const char* p = "NaN"; *p; ++p)
            r.Append(T(*p));
        return r;
    }
    const bool bTrimZeros = nDigits < 1;
    if (bTrimZeros)
        nDigits = 9;
    if (nDigits > 15)
        nDigits = 15;
    const bool bNegative = std::signbit(rValue);
    double magnitude = std::fabs(rValue);
    if (std::isinf(magnitude)) {
        for (const char* p = bNegative ? "-Inf" : "Inf"; *p; ++p)
            r.Append(T(*p));
        return r;
    }
    double integer = std::floor(magnitude);
    double scale = std::pow(10.0, nDigits);
    double fraction = std::floor((magnitude - integer) * scale + 0.5);
    if (fraction >= scale) {
        integer += 1;
        fraction -= scale;
    }
    // Integer digits: exact up to 2^64, beyond that as the C library writes them.
    char text[400];
    int n = 0;
    if (bNegative && (integer > 0 || fraction > 0))
        text[n++] = '-';
    if (integer < 18446744073709551616.0) {
        char rev[24];
        const int nRev = DecimalDigitsReversed(static_cast<unsigned long long>(integer), rev);
        for (int i = nRev - 1; i >= 0; --i)
            text[n++] = rev[i];
    } else {
        n += std::snprintf(text + n, sizeof(text) - n, "%.0f", integer);
    }
    text[n++] = '.';
    char rev[24];
    const int nRev = DecimalDigitsReversed(static_cast<unsigned long long>(fraction), rev);
    for (int i = nDigits - 1; i >= 0; --i)
        text[n++] = i < nRev ? rev[i] : '0';
    if (bTrimZeros) {
        while (text[n - 1] == '0' && text[n - 2] != '.')
            --n;
    }
    if (r.Reserve(n) != eslErrorSuccess)
        return r;
    for (int i = 0; i < n; ++i)
        r.Append(T(text[i]));
    return r;
}

template class EGenString<char>;
template class EGenString<wchar_t>;
