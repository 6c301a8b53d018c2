// Shared by the description tree, reader, writer and codecs; not for users.
#pragma once

#include <cstddef>
#include <cstdint>

#include "esl_description.h"

namespace esl_description {

using UnitBuffer = EGenArray<wchar_t>;
using ByteBuffer = EGenArray<char>;

// Bytes to UTF-16 units (replacing out). 0, the bad-encoding message, or
// eslErrorGeneral when memory runs out.
ESLError DecodeText(int nEncoding, const BYTE* ptrData, std::size_t nBytes, UnitBuffer& out) noexcept;
// UTF-16 units to bytes, appended to out; the same results.
ESLError EncodeText(int nEncoding, const wchar_t* ptrText, std::size_t nUnits, ByteBuffer& out) noexcept;
// Whether a unit goes through a write and a read in the encoding unchanged:
// every unit in UTF-8 and UTF-16, the code page's repertoire in the
// Shift-JIS family (learnt once per unit and process).
bool Carries(int nEncoding, wchar_t ch) noexcept;

// The encoding's index in the declaration table (ASCII case ignored), or -1.
int FindEncodingName(const char* ptrName, std::size_t nLength) noexcept;
// The name written in the declaration ("" for UTF-16).
const char* GetEncodingName(int nEncoding) noexcept;

// Value of a hexadecimal digit of either case, or -1.
int HexDigitValue(wchar_t ch) noexcept;

struct ScannedNumber {
    std::uint64_t nInteger;  // the integer part, modulo 2^64, sign applied
    double rValue;
};
// The number rule: white space, an optional sign, a run of 0-9, a-f, A-F and
// at most one ".", then an optional radix letter h, o or t (consumed). The
// end of the number, or null when the text is not a number.
const wchar_t* ScanNumber(const wchar_t* p, const wchar_t* pEnd, ScannedNumber& result) noexcept;

inline bool IsSpace(wchar_t ch) noexcept {
    return ch <= 0x20;
}

// Units with the same value compare equal; A-Z fold to a-z and nothing else.
inline wchar_t FoldAscii(wchar_t ch) noexcept {
    return (ch >= L'A' && ch <= L'Z') ? wchar_t(ch + 0x20) : ch;
}
bool EqualNoCase(const wchar_t* a, std::size_t na, const wchar_t* b, std::size_t nb) noexcept;

// The named character references of text and XML values; "nbsp" is a plain
// space here, not U+00A0 (and the writer writes a space as "&#32;").
struct Entity {
    const wchar_t* pwszName;
    wchar_t ch;
};
constexpr Entity kEntities[] = {{L"lt", L'<'}, {L"gt", L'>'}, {L"quot", L'"'}, {L"amp", L'&'}, {L"nbsp", L' '}};

// Backslash escapes of dialect values by letter: the letter at i stands for
// the unit at i. The writer uses the first four; the rest it writes as "\x".
constexpr wchar_t kDialectLetters[] = L"\\nrtvbaf?\"'";
constexpr wchar_t kDialectUnits[] = L"\\\n\r\t\v\b\a\f?\"'";
constexpr int kDialectLettersWritten = 4;

// The length of the comment at p (on the '!' of "!--") through the '>' that
// follows at least two '-', or 0 when it does not end within n units.
inline std::size_t CommentEnd(const wchar_t* p, std::size_t n) noexcept {
    int nDashes = 0;
    for (std::size_t i = 3; i < n; ++i) {
        if (p[i] == L'>' && nDashes >= 2)
            return i + 1;
        nDashes = p[i] == L'-' ? nDashes + 1 : 0;
    }
    return 0;
}

// Classes of units for the word rule: after white space, a symbol is a word
// by itself, a run of other ASCII punctuation is an operator word, and a name
// runs over letters, digits, "_?@.-:" and every unit outside ASCII.
enum CharClass : unsigned char { kSpace, kSymbol, kOperator, kName };

struct ClassTable {
    CharClass table[128];
    constexpr ClassTable() : table() {
        for (int c = 0; c < 128; ++c) {
            if (c <= 0x20)
                table[c] = kSpace;
            else if (c == '"' || c == ';' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}')
                table[c] = kSymbol;
            else if ((c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') ||
                     (c >= '{' && c <= '~'))
                table[c] = (c == '.' || c == '-' || c == ':' || c == '_' || c == '?' || c == '@') ? kName : kOperator;
            else
                table[c] = kName;
        }
    }
};
constexpr ClassTable kClasses;

inline CharClass ClassOf(wchar_t ch) noexcept {
    return ch < 128 ? kClasses.table[ch] : kName;
}

// Copies units including zero units (the string's Assign stops at a zero).
ESLError AssignUnits(EWideString& wstr, const wchar_t* ptr, std::size_t n) noexcept;

}  // namespace esl_description
