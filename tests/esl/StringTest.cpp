#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <utility>

#include "esl_string.h"

namespace {

std::string Narrow(const EString& s) {
    return std::string(s.CharPtr(), s.GetLength());
}
std::wstring Wide(const EWideString& s) {
    return std::wstring(s.CharPtr(), s.GetLength());
}

//--- growth and buffer

TEST(StringGrowth, GrowingToNUnitsMakesTheCapacityNPlusHalfNPlusOne) {
    EString s;
    ASSERT_EQ(0, s.Reserve(10));
    EXPECT_EQ(10, s.GetCapacity()) << "Reserve asks for exactly that room";
    ASSERT_EQ(0, s.Assign("0123456789"));
    ASSERT_EQ(0, s.Append('a'));
    EXPECT_EQ(11 + 11 / 2 + 1, s.GetCapacity());
    EWideString w;
    ASSERT_EQ(0, w.Append(L"abc"));
    EXPECT_EQ(3 + 1 + 1, w.GetCapacity());
}

TEST(StringGrowth, SizesBeyondTheLimitFailAndLeaveTheStringAsItWas) {
    EString s("keep");
    const int capacity = s.GetCapacity();
    for (int size : {-1, EString::kMaxLength + 1, INT_MAX})
        EXPECT_NE(0, s.Reserve(size)) << size;
    EXPECT_EQ(nullptr, s.GetBuffer(-5));
    EXPECT_EQ(nullptr, s.GetBuffer(INT_MAX));
    EXPECT_EQ("keep", Narrow(s));
    EXPECT_EQ(capacity, s.GetCapacity());
    EWideString w(L"keep");
    EXPECT_NE(0, w.Reserve(EWideString::kMaxLength + 1)) << "the byte count would not fit in 31 bits";
}

// Regression: appending a part of itself read the old block after it had moved.
TEST(StringGrowth, AppendingAPartOfItselfSurvivesTheMove) {
    EString s;
    ASSERT_EQ(0, s.Reserve(3));
    ASSERT_EQ(0, s.Assign("abc"));
    ASSERT_EQ(0, s.Append(s.CharPtr() + 1));
    EXPECT_EQ("abcbc", Narrow(s));
    s.Append(s);
    EXPECT_EQ("abcbcabcbc", Narrow(s));
    s = s.CharPtr() + 5;
    EXPECT_EQ("abcbc", Narrow(s));
}

TEST(StringGrowth, CopyMoveTerminatorAndBufferFilling) {
    EWideString a(L"text");
    EXPECT_NE(a.CharPtr(), EWideString(a).CharPtr()) << "a copy owns its own units";
    EWideString c(std::move(a));
    EXPECT_EQ(L"text", Wide(c));
    EXPECT_EQ(0, a.GetLength());
    // Regression: string + unit used the unit as a pointer offset.
    EXPECT_EQ(L"text?", Wide(c + L'?'));
    EXPECT_EQ(L"<text>", Wide(L"<" + c + L">"));

    EString filled;
    EXPECT_STREQ("", filled.CharPtr()) << "no buffer still reads as \"\"";
    char* p = filled.GetBuffer(8);
    ASSERT_NE(nullptr, p);
    std::memcpy(p, "12345678", 8);
    filled.SetLength(-1);  // no zero was written: the length stops at the room
    EXPECT_EQ("12345678", Narrow(filled));
    filled.SetLength(1000);
    EXPECT_EQ(filled.GetCapacity(), filled.GetLength());
    filled.Empty();
    EXPECT_STREQ("", filled.CharPtr());
    filled.FreeString();
    EXPECT_EQ(0, filled.GetCapacity());
    EXPECT_STREQ("", filled.CharPtr());
}

// Appends, assignments of parts of itself and truncations agree with
// std::string, and the capacity always follows the growth rule.
TEST(StringGrowth, RandomEditsMatchAStandardString) {
    std::mt19937 random(1958);
    std::uniform_int_distribution<int> op(0, 4), size(0, 40);
    EString s;
    std::string model;
    for (int step = 0; step < 5000; ++step) {
        const int before = s.GetCapacity(), n = size(random);
        const int from = s.GetLength() ? n % s.GetLength() : 0;
        const char letter = static_cast<char>('a' + step % 26);
        switch (op(random)) {
        case 0:
            ASSERT_EQ(0, s.Append(std::string(n, letter).c_str()));
            model += std::string(n, letter);
            break;
        case 1:
            ASSERT_EQ(0, s.Append(letter));
            model += letter;
            break;
        case 2:
            ASSERT_EQ(0, s.Append(s.CharPtr() + from, n));
            model += model.substr(from, n);
            break;
        case 3:
            s.SetLength(std::min(n, s.GetLength()));  // longer would show what a filler wrote
            model.resize(std::min<std::size_t>(model.size(), n));
            break;
        default:
            ASSERT_EQ(0, s.Assign(s.CharPtr() + from));
            model = model.substr(from);
        }
        ASSERT_EQ(model, Narrow(s)) << "step " << step;
        ASSERT_EQ('\0', s.CharPtr()[s.GetLength()]);
        const int grown = s.GetLength() + s.GetLength() / 2 + 1;
        ASSERT_TRUE(s.GetCapacity() == before || s.GetCapacity() == grown) << "step " << step;
    }
}

TEST(StringGrowth, IndexingOutsideTheStringGivesZero) {
    EString s("ab");
    EXPECT_EQ('b', s[std::size_t(1)]);
    for (std::int64_t at : {std::int64_t(2), std::int64_t(-1), INT64_MAX})
        EXPECT_EQ('\0', s[at]) << at;
    s.SetAt(5, 'x');
    s.SetAt(-1, 'x');
    s.SetAt(1, 'c');
    EXPECT_EQ("ac", Narrow(s));
    EXPECT_EQ(L'\0', EWideString()[0]);
}

//--- conversion and numbers

TEST(StringConversion, LengthLimitsTheSourceAndStopsAtItsZero) {
    EXPECT_EQ(L"abc", Wide(EWideString(L"abcdef", 3)));
    EXPECT_EQ("ab", Narrow(EString("ab\0cd", 5))) << "never read past the source's zero";
    EXPECT_EQ("", Narrow(EString(static_cast<const char*>(nullptr), 10)));
    EXPECT_STREQ(L"", EWideString(static_cast<const char*>(nullptr)).CharPtr());
    EXPECT_EQ(0, EString(static_cast<const wchar_t*>(nullptr)).GetLength());
    EXPECT_LE(EWideString("表示", 1).GetLength(), 1) << "only the lead byte of 表";
    EXPECT_EQ(L"表", Wide(EWideString("表示", 2)));
}

// 表 = 0x95 0x5C: its trail byte is a backslash; ｶﾀｶﾅ are single-byte kana.
TEST(StringConversion, ShiftJisRoundTripsThroughUtf16) {
    ASSERT_EQ(932u, ::GetACP());
    const std::pair<const char*, const wchar_t*> rows[] = {
        {"背景色変更", L"背景色変更"},
        {"ソフト\\表\\", L"ソフト\\表\\"},
        {"ｶﾀｶﾅ", L"ｶﾀｶﾅ"},
        {"ASCII", L"ASCII"},
        {"", L""},
    };
    for (const auto& [sjis, utf16] : rows) {
        SCOPED_TRACE(sjis);
        EXPECT_EQ(utf16, Wide(EWideString(sjis)));
        EXPECT_EQ(sjis, Narrow(EString(EWideString(sjis))));
        EXPECT_EQ(sjis, Narrow(EString(utf16)));
    }
    EXPECT_EQ("\x95\x5C", Narrow(EString(L"表")));
}

// Too few digits drop the highest ones; rounding carries; no sign on a value
// that rounds to zero; FromReal with no digits gives up to nine, trailing zeros
// dropped, and never more than fifteen.
TEST(StringNumbers, DecimalHexadecimalAndFixedPoint) {
    const std::tuple<std::int64_t, int, const char*> decimals[] = {
        {-5, 0, "-5"},
        {0, 0, "0"},
        {42, 5, "00042"},
        {-5, 4, "-005"},
        {123456, 3, "456"},
        {-123456, 3, "-56"},
        {-7, 1, "-"},
        {-1, -3, "-1"},
        {INT64_MAX, 0, "9223372036854775807"},
        {INT64_MIN, 0, "-9223372036854775808"},
    };
    for (const auto& [value, digits, text] : decimals) {
        SCOPED_TRACE(text);
        EXPECT_EQ(text, Narrow(EString::FromInteger(value, digits)));
        EXPECT_EQ(Wide(EWideString(text)), Wide(EWideString::FromInteger(value, digits)));
    }
    const std::tuple<std::uint64_t, int, const char*> hexadecimals[] = {
        {0xFF808080u, 0, "FF808080"},
        {0x1Fu, 4, "001F"},
        {0x12345u, 2, "45"},
        {0, 0, "0"},
        {~0ull, 0, "FFFFFFFFFFFFFFFF"},
        {0x1u, 20, "00000000000000000001"},
    };
    for (const auto& [value, digits, text] : hexadecimals) {
        SCOPED_TRACE(text);
        EXPECT_EQ(text, Narrow(EString::FromHexadecimal(value, digits)));
        EXPECT_EQ(Wide(EWideString(text)), Wide(EWideString::FromHexadecimal(value, digits)));
    }
    const double inf = std::numeric_limits<double>::infinity();
    const std::tuple<double, int, const char*> reals[] = {
        {3.14159, 2, "3.14"},
        {-0.125, 2, "-0.13"},
        {0.999, 2, "1.00"},
        {2.5, 0, "2.5"},
        {3.0, 0, "3.0"},
        {1e-9, 0, "0.000000001"},
        {1.0 / 3.0, -1, "0.333333333"},
        {-0.001, 2, "0.00"},
        {1e20, 1, "100000000000000000000.0"},
        {0.5, 40, "0.500000000000000"},
        {inf, 2, "Inf"},
        {-inf, 2, "-Inf"},
        {std::nan(""), 2, "NaN"},
    };
    for (const auto& [value, digits, text] : reals) {
        SCOPED_TRACE(text);
        EXPECT_EQ(text, Narrow(EString::FromReal(value, digits)));
        EXPECT_EQ(Wide(EWideString(text)), Wide(EWideString::FromReal(value, digits)));
    }
    EXPECT_LT(300, EString::FromReal(-1.7e308, 1).GetLength()) << "the largest values keep all their digits";
}

//--- comparison and search

// Only ASCII letters fold: not Latin-1, not full-width, not the punctuation
// between the cases, and never a trail byte (ア is 0x83 0x41, ヂ 0x83 0x61).
TEST(StringCompare, CaseSensitiveAndAsciiFolding) {
    const std::tuple<const wchar_t*, const wchar_t*, bool, bool> rows[] = {
        {L"Option", L"option", false, true},  {L"xml", L"xml", true, true}, {L"utf", L"utf-8", false, false},
        {L"\u00C4", L"\u00E4", false, false}, {L"Ａ", L"ａ", false, false}, {L"[", L"{", false, false},
        {L"@", L"`", false, false},           {L"ア", L"ヂ", false, false}, {L"アXML", L"アxml", false, true},
    };
    for (const auto& [a, b, sameCase, sameFolded] : rows) {
        SCOPED_TRACE(EString(a).CharPtr());
        EXPECT_EQ(sameCase, EWideString(a).Compare(b) == 0);
        EXPECT_EQ(sameFolded, EWideString(a).CompareNoCase(b) == 0);
        const EString na(a), nb(b);
        if (EWideString(na) != a || EWideString(nb) != b)
            continue;  // not in the code page: no 8-bit form to compare
        EXPECT_EQ(sameCase, na.Compare(nb) == 0);
        EXPECT_EQ(sameFolded, na.CompareNoCase(nb) == 0);
    }
}

TEST(StringCompare, ResultIsTheDifferenceOfTheFirstDifferingUnits) {
    EXPECT_EQ('c' - 'd', EString("abc").Compare("abd"));
    EXPECT_EQ(-'c', EString("ab").Compare("abc"));
    EXPECT_EQ(0, EString().Compare(nullptr));
    EXPECT_EQ(0, EString("").CompareNoCase(nullptr));
    EXPECT_EQ('a', EString("a").Compare(nullptr));
    EXPECT_GT(EString("\x82\xA0").Compare("a"), 0) << "8-bit units compare as unsigned bytes";
    EXPECT_GT(EWideString(L"\xFF21").Compare(L"a"), 0);
    EXPECT_TRUE(EString("a") < EString("b"));
    EXPECT_TRUE("abd" != EString("abc"));
}

TEST(StringFind, PositionsAndOutOfRangeStarts) {
    const std::tuple<const wchar_t*, int, int> rows[] = {
        {L"c", 3, 5},    {L"c", -4, 2},   {L"", 6, 6},    {L"", 7, -1},        {L"x", 0, -1},
        {L"abc", 4, -1}, {L"c", 100, -1}, {L"bca", 0, 1}, {L"abcabcd", 0, -1}, {L"c", INT_MAX, -1},
    };
    const EWideString s(L"abcabc");
    for (const auto& [text, start, expected] : rows) {
        SCOPED_TRACE(testing::Message() << "'" << EString(text).CharPtr() << "' from " << start);
        EXPECT_EQ(expected, s.Find(text, start));
    }
    EXPECT_EQ(-1, s.Find(static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(4, s.Find(L'b', 2));
    EXPECT_EQ(-1, EWideString().Find(L"a"));
    EXPECT_EQ(3, EWideString(L"a/b/c").ReverseFind(L'/'));
    EXPECT_EQ(-1, EWideString(L"abc").ReverseFind(L'\0'));
}

TEST(StringFind, NeverMatchesOnATrailByte) {
    const EString s("表\\x");  // 0x95 0x5C 0x5C 'x'
    EXPECT_EQ(2, s.Find("\\"));
    EXPECT_EQ(2, s.ReverseFind('\\'));
    EXPECT_EQ(-1, EString("ソ表").ReverseFind('\\'));
    EXPECT_EQ(-1, EString("ソ").Find('\\'));
    EXPECT_EQ(0, EString("ソ").Find("ソ"));
}

TEST(StringSubstrings, CountsAreClippedToTheString) {
    const EString s("abcdef");
    const std::tuple<int, int, const char*> rows[] = {
        {2, INT_MAX, "cdef"},
        {INT_MAX, INT_MAX, ""},
        {INT_MIN, INT_MIN, "abcdef"},
        {100, -1, ""},
    };
    for (const auto& [start, count, expected] : rows)
        EXPECT_EQ(expected, Narrow(s.Middle(start, count))) << "Middle(" << start << ", " << count << ")";
    EXPECT_EQ("abcdef", Narrow(s.Left(-1)));
    EXPECT_EQ("abc", Narrow(s.Left(3)));
    EXPECT_EQ("ef", Narrow(s.Right(2)));
    EXPECT_EQ("abcdef", Narrow(s.Right(INT_MAX)));
    EXPECT_EQ("", Narrow(EString().Middle(0, 5)));
}

//--- paths and case

// In C:\books\表 the trail byte 0x5C is the last byte.
TEST(StringPaths, FileAndFolderPartsKeepDoubleByteCharactersWhole) {
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"C:\\データ\\表.txt", "C:\\データ\\", "表.txt"},
        {"C:\\表\\a.txt", "C:\\表\\", "a.txt"},
        {"C:\\books\\表", "C:\\books\\", "表"},
        {"ソ", "", "ソ"},
        {"a/b\\c", "a/b\\", "c"},
        {"dir\\", "dir\\", ""},
        {"", "", ""},
    };
    for (const auto& [path, folder, file] : rows) {
        SCOPED_TRACE(path);
        EXPECT_EQ(folder, Narrow(EString(path).GetFolderPart()));
        EXPECT_EQ(file, Narrow(EString(path).GetFileNamePart()));
    }
}

TEST(StringPaths, CaseChangesTouchOnlyAsciiLetters) {
    EString upper("abcヂxyz表q");  // ヂ ends in 'a' (0x61), 表 in '\\'
    upper.MakeUpper();
    EXPECT_EQ("ABCヂXYZ表Q", Narrow(upper));
    EString lower("ABCアXYZ");  // ア ends in 'A' (0x41)
    lower.MakeLower();
    EXPECT_EQ("abcアxyz", Narrow(lower));
    EWideString wide(L"Mixed \u00C4 Case");
    wide.MakeLower();
    EXPECT_EQ(L"mixed \u00C4 case", Wide(wide));
}

}  // namespace
