// Character encodings of the description reader and writer, and the number
// scanner that integer attributes and "&#...;" share.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstddef>
#include <cstring>

#include "esl_description_internal.h"

const char kDescriptionBadEncoding[] = "不正な文字エンコーディングが指定されました。";
const char kDescriptionUncarriedUnit[] = "タグ名、属性名または注釈にこの文字エンコーディングで書けない文字があります。";

namespace esl_description {

namespace {

ESLError BadEncoding() noexcept {
    return reinterpret_cast<ESLError>(kDescriptionBadEncoding);
}

//--- Shift-JIS: the system code page

ESLError DecodeShiftJIS(const BYTE* ptr, std::size_t n, UnitBuffer& out) noexcept {
    out.Clear();
    const void* pZero = std::memchr(ptr, 0, n);
    if (pZero)
        n = static_cast<const BYTE*>(pZero) - ptr;
    if (n == 0)
        return eslErrorSuccess;
    if (n > INT_MAX)
        return eslErrorGeneral;
    // Never more units than bytes.
    if (!out.Resize(n))
        return eslErrorGeneral;
    const int nUnits = ::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, reinterpret_cast<const char*>(ptr),
                                             static_cast<int>(n), out.Data(), static_cast<int>(n));
    if (nUnits <= 0) {
        out.Clear();
        return eslErrorGeneral;
    }
    out.Resize(static_cast<std::size_t>(nUnits));
    return eslErrorSuccess;
}

ESLError EncodeShiftJIS(const wchar_t* ptr, std::size_t n, ByteBuffer& out) noexcept {
    if (n == 0)
        return eslErrorSuccess;
    if (n > INT_MAX / 2)
        return eslErrorGeneral;
    int nBytes = ::WideCharToMultiByte(CP_ACP, 0, ptr, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0)
        return eslErrorGeneral;
    const std::size_t nOld = out.Size();
    if (!out.Resize(nOld + nBytes))
        return eslErrorGeneral;
    nBytes = ::WideCharToMultiByte(CP_ACP, 0, ptr, static_cast<int>(n), out.Data() + nOld, nBytes, nullptr, nullptr);
    out.Resize(nOld + (nBytes > 0 ? nBytes : 0));
    return nBytes > 0 ? eslErrorSuccess : eslErrorGeneral;
}

//--- UTF-8 on 16-bit units

ESLError DecodeUTF8(const BYTE* p, std::size_t n, UnitBuffer& out) noexcept {
    out.Clear();
    if (!out.Resize(n))
        return eslErrorGeneral;
    wchar_t* pOut = out.Data();
    const BYTE* const pEnd = p + n;
    while (p < pEnd) {
        const BYTE b = *p++;
        if (b < 0x80) {
            *pOut++ = b;
            continue;
        }
        // The run of 1 bits from bit 5 down gives the continuation count - 1.
        int nRun = 0;
        while (nRun < 6 && (b & (0x20 >> nRun)))
            ++nRun;
        const int nFollow = nRun + 1;
        std::uint32_t code = b & (0x3Fu >> nFollow);
        for (int i = 0; i < nFollow && p < pEnd; ++i)
            code = (code << 6) | (*p++ & 0x3F);
        *pOut++ = static_cast<wchar_t>(code & 0xFFFF);
    }
    out.Resize(pOut - out.Data());
    return eslErrorSuccess;
}

ESLError EncodeUTF8(const wchar_t* p, std::size_t n, ByteBuffer& out) noexcept {
    if (n > SIZE_MAX / 3 || !out.Expect(n * 3))
        return eslErrorGeneral;
    const std::size_t nOld = out.Size();
    out.Resize(nOld + n * 3);
    char* pOut = out.Data() + nOld;
    for (const wchar_t* pEnd = p + n; p < pEnd; ++p) {
        const unsigned c = static_cast<unsigned>(*p);
        if (c < 0x80) {
            *pOut++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *pOut++ = static_cast<char>(0xC0 | (c >> 6));
            *pOut++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *pOut++ = static_cast<char>(0xE0 | (c >> 12));
            *pOut++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *pOut++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out.Resize(pOut - out.Data());
    return eslErrorSuccess;
}

//--- UTF-16 little-endian

ESLError DecodeUTF16(const BYTE* p, std::size_t n, UnitBuffer& out) noexcept {
    out.Clear();
    const std::size_t nUnits = n / 2;  // an odd last byte is dropped
    if (!out.Resize(nUnits))
        return eslErrorGeneral;
    for (std::size_t i = 0; i < nUnits; ++i)
        out[i] = static_cast<wchar_t>(p[2 * i] | (p[2 * i + 1] << 8));
    return eslErrorSuccess;
}

ESLError EncodeUTF16(const wchar_t* p, std::size_t n, ByteBuffer& out) noexcept {
    if (n > SIZE_MAX / 2 || !out.Expect(n * 2))
        return eslErrorGeneral;
    for (std::size_t i = 0; i < n; ++i) {
        const char pair[2] = {static_cast<char>(p[i] & 0xFF), static_cast<char>(p[i] >> 8)};
        out.Append(pair, 2);
    }
    return eslErrorSuccess;
}

//--- JIS X 0208 <-> Shift-JIS

bool IsShiftJISLead(BYTE b) noexcept {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

void JisToShiftJIS(BYTE j1, BYTE j2, char* pOut) noexcept {
    const BYTE s1 = static_cast<BYTE>(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0));
    BYTE s2;
    if (j1 & 1)
        s2 = static_cast<BYTE>(j2 + (j2 < 0x60 ? 0x1F : 0x20));
    else
        s2 = static_cast<BYTE>(j2 + 0x7E);
    pOut[0] = static_cast<char>(s1);
    pOut[1] = static_cast<char>(s2);
}

// False for pairs outside the JIS X 0208 rows (user-defined and vendor rows).
bool ShiftJISToJis(BYTE s1, BYTE s2, BYTE& j1, BYTE& j2) noexcept {
    if (!IsShiftJISLead(s1) || s2 < 0x40 || s2 == 0x7F || s2 > 0xFC)
        return false;
    int row = (s1 - (s1 <= 0x9F ? 0x70 : 0xB0)) * 2;
    int cell;
    if (s2 < 0x9F) {
        --row;
        cell = s2 - (s2 >= 0x80 ? 0x20 : 0x1F);
    } else {
        cell = s2 - 0x7E;
    }
    if (row < 0x21 || row > 0x7E || cell < 0x21 || cell > 0x7E)
        return false;
    j1 = static_cast<BYTE>(row);
    j2 = static_cast<BYTE>(cell);
    return true;
}

bool PushBytes(ByteBuffer& out, const char* p, std::size_t n) noexcept {
    return out.Append(p, n);
}

ESLError DecodeISO2022JP(const BYTE* p, std::size_t n, UnitBuffer& out) noexcept {
    ByteBuffer sjis;
    if (!sjis.Reserve(n))
        return eslErrorGeneral;
    bool bDouble = false;
    const BYTE* const pEnd = p + n;
    while (p < pEnd) {
        const BYTE b = *p;
        if (b == 0x1B && pEnd - p >= 3) {
            if (p[1] == '$' && (p[2] == 'B' || p[2] == '@')) {
                bDouble = true;
                p += 3;
                continue;
            }
            if (p[1] == '(' && (p[2] == 'B' || p[2] == 'J')) {
                bDouble = false;
                p += 3;
                continue;
            }
        }
        // Controls end a two-byte pair: a line break inside a two-byte run
        // is taken as it is rather than pairing it with the next byte.
        if (bDouble && b > 0x20) {
            if (pEnd - p < 2)
                break;  // half a pair at the end
            char pair[2];
            JisToShiftJIS(p[0], p[1], pair);
            sjis.Append(pair, 2);
            p += 2;
            continue;
        }
        sjis.Append(reinterpret_cast<const char*>(p), 1);
        ++p;
    }
    return DecodeShiftJIS(reinterpret_cast<const BYTE*>(sjis.Data()), sjis.Size(), out);
}

ESLError EncodeISO2022JP(const wchar_t* p, std::size_t n, ByteBuffer& out) noexcept {
    ByteBuffer sjis;
    ESLError err = EncodeShiftJIS(p, n, sjis);
    if (err)
        return err;
    if (!out.Expect(sjis.Size() + sjis.Size() / 2 + 8))
        return eslErrorGeneral;
    bool bDouble = false;
    const BYTE* s = reinterpret_cast<const BYTE*>(sjis.Data());
    const BYTE* const sEnd = s + sjis.Size();
    while (s < sEnd) {
        BYTE j1, j2;
        if (sEnd - s >= 2 && ShiftJISToJis(s[0], s[1], j1, j2)) {
            if (!bDouble && !PushBytes(out, "\x1B$B", 3))
                return eslErrorGeneral;
            bDouble = true;
            const char pair[2] = {static_cast<char>(j1), static_cast<char>(j2)};
            if (!PushBytes(out, pair, 2))
                return eslErrorGeneral;
            s += 2;
            continue;
        }
        if (bDouble && !PushBytes(out, "\x1B(B", 3))
            return eslErrorGeneral;
        bDouble = false;
        // Half-width kana and vendor rows have no JIS X 0208 code: their
        // Shift-JIS bytes are kept, which this reader takes back unchanged.
        const std::size_t nTake = (IsShiftJISLead(*s) && sEnd - s >= 2) ? 2 : 1;
        if (!PushBytes(out, reinterpret_cast<const char*>(s), nTake))
            return eslErrorGeneral;
        s += nTake;
    }
    if (bDouble && !PushBytes(out, "\x1B(B", 3))
        return eslErrorGeneral;
    return eslErrorSuccess;
}

ESLError DecodeEUCJP(const BYTE* p, std::size_t n, UnitBuffer& out) noexcept {
    ByteBuffer sjis;
    if (!sjis.Reserve(n))
        return eslErrorGeneral;
    const BYTE* const pEnd = p + n;
    while (p < pEnd) {
        const BYTE b = *p;
        if (b < 0x80) {
            sjis.Append(reinterpret_cast<const char*>(p), 1);
            ++p;
        } else if (b == 0x8E) {
            if (pEnd - p >= 2)
                sjis.Append(reinterpret_cast<const char*>(p + 1), 1);
            p += std::min<std::ptrdiff_t>(2, pEnd - p);  // a cut sequence ends the text
        } else if (b == 0x8F) {
            // JIS X 0212 has no Shift-JIS form.
            sjis.Append("?", 1);
            p += std::min<std::ptrdiff_t>(3, pEnd - p);
        } else if (b >= 0xA1 && b <= 0xFE && pEnd - p >= 2 && p[1] >= 0xA1 && p[1] <= 0xFE) {
            char pair[2];
            JisToShiftJIS(static_cast<BYTE>(b - 0x80), static_cast<BYTE>(p[1] - 0x80), pair);
            sjis.Append(pair, 2);
            p += 2;
        } else {
            ++p;  // a lone lead byte
        }
    }
    return DecodeShiftJIS(reinterpret_cast<const BYTE*>(sjis.Data()), sjis.Size(), out);
}

ESLError EncodeEUCJP(const wchar_t* p, std::size_t n, ByteBuffer& out) noexcept {
    ByteBuffer sjis;
    ESLError err = EncodeShiftJIS(p, n, sjis);
    if (err)
        return err;
    if (!out.Expect(sjis.Size() + 8))
        return eslErrorGeneral;
    const BYTE* s = reinterpret_cast<const BYTE*>(sjis.Data());
    const BYTE* const sEnd = s + sjis.Size();
    while (s < sEnd) {
        const BYTE b = *s;
        bool bOk = true;
        if (b >= 0xA1 && b <= 0xDF) {
            const char kana[2] = {static_cast<char>(0x8E), static_cast<char>(b)};
            bOk = PushBytes(out, kana, 2);
            ++s;
        } else if (IsShiftJISLead(b) && sEnd - s >= 2) {
            BYTE j1, j2;
            if (ShiftJISToJis(s[0], s[1], j1, j2)) {
                const char pair[2] = {static_cast<char>(j1 | 0x80), static_cast<char>(j2 | 0x80)};
                bOk = PushBytes(out, pair, 2);
            } else {
                bOk = PushBytes(out, "?", 1);  // vendor rows have no EUC-JP code
            }
            s += 2;
        } else {
            bOk = PushBytes(out, reinterpret_cast<const char*>(s), 1);
            ++s;
        }
        if (!bOk)
            return eslErrorGeneral;
    }
    return eslErrorSuccess;
}

using Decoder = ESLError (*)(const BYTE*, std::size_t, UnitBuffer&) noexcept;
using Encoder = ESLError (*)(const wchar_t*, std::size_t, ByteBuffer&) noexcept;

struct Encoding {
    int nId;
    const char* pszName;  // in the declaration, ASCII case ignored on reading
    Decoder decode;
    Encoder encode;
};

const Encoding kEncodings[] = {
    {EDescription::encodingShiftJIS, "shift_jis", DecodeShiftJIS, EncodeShiftJIS},
    {EDescription::encodingUTF8, "utf-8", DecodeUTF8, EncodeUTF8},
    {EDescription::encodingISO2022JP, "iso-2022-jp", DecodeISO2022JP, EncodeISO2022JP},
    {EDescription::encodingEUCJP, "euc-jp", DecodeEUCJP, EncodeEUCJP},
    {EDescription::encodingUTF16, "utf-16", DecodeUTF16, EncodeUTF16},
};
constexpr int kEncodingCount = sizeof(kEncodings) / sizeof(kEncodings[0]);

const Encoding* FindEncoding(int nEncoding) noexcept {
    for (const Encoding& e : kEncodings) {
        if (e.nId == nEncoding)
            return &e;
    }
    return nullptr;
}

}  // namespace

bool Carries(int nEncoding, wchar_t ch) noexcept {
    if (nEncoding == EDescription::encodingUTF8 || nEncoding == EDescription::encodingUTF16 ||
        (ch >= 0x20 && ch < 0x7F))
        return true;
    // Per encoding and unit: 0 not yet known, 1 carried, 2 not. Threads that
    // learn the same unit at once store the same answer.
    static std::atomic<unsigned char> s_known[kEncodingCount][0x10000];
    if (nEncoding < 0 || nEncoding >= kEncodingCount)
        return false;
    std::atomic<unsigned char>& known = s_known[nEncoding][ch];
    unsigned char state = known.load(std::memory_order_relaxed);
    if (!state) {
        // An escape would switch the reader's mode; a zero ends Shift-JIS text.
        ByteBuffer bytes;
        UnitBuffer units;
        const bool bCarried =
            !(nEncoding == EDescription::encodingISO2022JP && ch == 0x1B) && !EncodeText(nEncoding, &ch, 1, bytes) &&
            !DecodeText(nEncoding, reinterpret_cast<const BYTE*>(bytes.Data()), bytes.Size(), units) &&
            units.Size() == 1 && units[0] == ch;
        state = bCarried ? 1 : 2;
        known.store(state, std::memory_order_relaxed);
    }
    return state == 1;
}

int HexDigitValue(wchar_t ch) noexcept {
    if (ch >= L'0' && ch <= L'9')
        return ch - L'0';
    if (ch >= L'a' && ch <= L'f')
        return ch - L'a' + 10;
    if (ch >= L'A' && ch <= L'F')
        return ch - L'A' + 10;
    return -1;
}

ESLError DecodeText(int nEncoding, const BYTE* ptrData, std::size_t nBytes, UnitBuffer& out) noexcept {
    const Encoding* e = FindEncoding(nEncoding);
    return e ? e->decode(ptrData, nBytes, out) : BadEncoding();
}

ESLError EncodeText(int nEncoding, const wchar_t* ptrText, std::size_t nUnits, ByteBuffer& out) noexcept {
    const Encoding* e = FindEncoding(nEncoding);
    return e ? e->encode(ptrText, nUnits, out) : BadEncoding();
}

int FindEncodingName(const char* ptrName, std::size_t nLength) noexcept {
    for (const Encoding& e : kEncodings) {
        const char* pszName = e.pszName;
        if (std::strlen(pszName) != nLength)
            continue;
        std::size_t j = 0;
        for (; j < nLength; ++j) {
            char c = ptrName[j];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c + 0x20);
            if (c != pszName[j])
                break;
        }
        if (j == nLength)
            return e.nId;
    }
    return -1;
}

const char* GetEncodingName(int nEncoding) noexcept {
    // UTF-16 writes no name: its content follows 8-bit declaration bytes.
    const Encoding* e = FindEncoding(nEncoding);
    return e && nEncoding != EDescription::encodingUTF16 ? e->pszName : "";
}

const wchar_t* ScanNumber(const wchar_t* p, const wchar_t* pEnd, ScannedNumber& result) noexcept {
    while (p < pEnd && IsSpace(*p))
        ++p;
    bool bNegative = false;
    if (p < pEnd && (*p == L'+' || *p == L'-')) {
        bNegative = *p == L'-';
        ++p;
    }
    const wchar_t* const pRun = p;
    const wchar_t* pDot = nullptr;
    bool bLetters = false;
    int nMaxDigit = -1;
    for (; p < pEnd; ++p) {
        if (*p == L'.') {
            if (pDot)
                break;
            pDot = p;
            continue;
        }
        const int d = HexDigitValue(*p);
        if (d < 0)
            break;
        bLetters = bLetters || d >= 10;
        if (d > nMaxDigit)
            nMaxDigit = d;
    }
    const wchar_t* const pRunEnd = p;
    if (nMaxDigit < 0)
        return nullptr;  // no digit at all
    int nRadix = 10;
    if (p < pEnd) {
        switch (*p) {
        case L'h':
        case L'H':
            nRadix = 16;
            ++p;
            break;
        case L'o':
        case L'O':
            nRadix = 8;
            ++p;
            break;
        case L't':
        case L'T':
            nRadix = 10;
            ++p;
            break;
        default:
            if (bLetters)
                return nullptr;
        }
    } else if (bLetters) {
        return nullptr;
    }
    if (nMaxDigit >= nRadix)
        return nullptr;
    std::uint64_t nInteger = 0;
    double rValue = 0.0;
    double rScale = 1.0;
    for (const wchar_t* q = pRun; q < pRunEnd; ++q) {
        if (q == pDot)
            continue;
        const int d = HexDigitValue(*q);
        if (pDot && q > pDot) {
            rScale /= nRadix;
            rValue += d * rScale;
        } else {
            nInteger = nInteger * static_cast<unsigned>(nRadix) + static_cast<unsigned>(d);
            rValue = rValue * nRadix + d;
        }
    }
    result.nInteger = bNegative ? 0 - nInteger : nInteger;
    result.rValue = bNegative ? -rValue : rValue;
    return p;
}

bool EqualNoCase(const wchar_t* a, std::size_t na, const wchar_t* b, std::size_t nb) noexcept {
    if (na != nb)
        return false;
    for (std::size_t i = 0; i < na; ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

ESLError AssignUnits(EWideString& wstr, const wchar_t* ptr, std::size_t n) noexcept {
    if (n > static_cast<std::size_t>(EWideString::kMaxLength))
        return eslErrorInvalidParameter;
    wchar_t* pBuffer = wstr.GetBuffer(static_cast<int>(n));
    if (!pBuffer)
        return eslErrorGeneral;
    if (n)
        std::memmove(pBuffer, ptr, n * sizeof(wchar_t));
    wstr.SetLength(static_cast<int>(n));
    return eslErrorSuccess;
}

}  // namespace esl_description
