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
    EXPECT_EQ(10, s.GetCapacity());
    ASSERT_EQ(0, s.Append('a'));
    EXPECT_EQ(11 + 11 / 2 + 1, s.GetCapacity());
    EXPECT_EQ("0123456789a", Narrow(s));

    EWideString w;
    ASSERT_EQ(0, w.Append(L"abc"));
    EXPECT_EQ(3 + 1 + 1, w.GetCapacity());
    ASSERT_EQ(0, w.Append(L"de"));
    EXPECT_EQ(5, w.GetCapacity()) << "no growth while it fits";
    ASSERT_EQ(0, w.Append(L'f'));
    EXPECT_EQ(6 + 3 + 1, w.GetCapacity());
}

TEST(StringGrowth, EveryOperationLeavesATerminatingZero) {
    EString s;
    EXPECT_STREQ("", s.CharPtr()) << "an empty string without a buffer still reads as \"\"";
    s.Append("abc");
    EXPECT_EQ('\0', s.CharPtr()[3]);
    s.SetLength(1);
    EXPECT_STREQ("a", s.CharPtr());
    s.Empty();
    EXPECT_STREQ("", s.CharPtr());
    s.FreeString();
    EXPECT_EQ(0, s.GetCapacity());
    EXPECT_STREQ("", s.CharPtr());
}

TEST(StringGrowth, SizesBeyondTheLimitFailAndLeaveTheStringAsItWas) {
    EString s("keep");
    const int capacity = s.GetCapacity();
    EXPECT_NE(0, s.Reserve(-1));
    EXPECT_NE(0, s.Reserve(EString::kMaxLength + 1));
    EXPECT_NE(0, s.Reserve(INT_MAX));
    EXPECT_EQ(nullptr, s.GetBuffer(-5));
    EXPECT_EQ(nullptr, s.GetBuffer(INT_MAX));
    EXPECT_EQ("keep", Narrow(s));
    EXPECT_EQ(capacity, s.GetCapacity());

    EWideString w(L"keep");
    EXPECT_NE(0, w.Reserve(EWideString::kMaxLength + 1)) << "the byte count would not fit in 31 bits";
    EXPECT_EQ(L"keep", Wide(w));
}

TEST(StringGrowth, AppendingAPartOfItselfSurvivesTheMove) {
    EString s;
    ASSERT_EQ(0, s.Reserve(3));
    ASSERT_EQ(0, s.Assign("abc"));
    ASSERT_EQ(3, s.GetCapacity());
    ASSERT_EQ(0, s.Append(s.CharPtr() + 1));  // the buffer moves while appending
    EXPECT_EQ("abcbc", Narrow(s));
    s.Append(s);
    EXPECT_EQ("abcbcabcbc", Narrow(s));
    s.Assign(s.CharPtr() + 5, 3);
    EXPECT_EQ("abc", Narrow(s));
    s = s.CharPtr();
    EXPECT_EQ("abc", Narrow(s));
}

TEST(StringGrowth, CopyMoveAndBufferFilling) {
    EWideString a(L"text");
    EWideString b(a);
    EXPECT_NE(a.CharPtr(), b.CharPtr()) << "a copy owns its own units";
    EWideString c(std::move(a));
    EXPECT_EQ(L"text", Wide(c));
    EXPECT_EQ(0, a.GetLength());
    b = c + L"!";
    EXPECT_EQ(L"text!", Wide(b));
    EXPECT_EQ(L"text?", Wide(c + L'?')) << "a unit is appended, not used as a pointer offset";
    EXPECT_EQ(L"<text>", Wide(L"<" + c + L">"));

    EString filled;
    char* p = filled.GetBuffer(8);
    ASSERT_NE(nullptr, p);
    std::memcpy(p, "12345678", 8);
    filled.SetLength(-1);  // no zero was written: the length stops at the room
    EXPECT_EQ("12345678", Narrow(filled));
    filled.SetLength(1000);
    EXPECT_EQ(filled.GetCapacity(), filled.GetLength());
}

// Appends, assignments of parts of itself and truncations agree with
// std::string, and the capacity always follows the growth rule.
TEST(StringGrowth, RandomEditsMatchAStandardString) {
    std::mt19937 random(1958);
    std::uniform_int_distribution<int> op(0, 4), size(0, 40);
    EString s;
    std::string model;
    for (int step = 0; step < 5000; ++step) {
        const int before = s.GetCapacity();
        const int n = size(random);
        switch (op(random)) {
        case 0: {
            const std::string text(n, static_cast<char>('a' + step % 26));
            ASSERT_EQ(0, s.Append(text.c_str()));
            model += text;
            break;
        }
        case 1:
            ASSERT_EQ(0, s.Append(static_cast<char>('A' + step % 26)));
            model += static_cast<char>('A' + step % 26);
            break;
        case 2: {
            const int from = s.GetLength() ? n % s.GetLength() : 0;
            ASSERT_EQ(0, s.Append(s.CharPtr() + from, n));
            model += model.substr(from, n);
            break;
        }
        case 3:
            s.SetLength(std::min(n, s.GetLength()));  // longer would show what a filler wrote
            model.resize(std::min<std::size_t>(model.size(), n));
            break;
        default: {
            const int from = s.GetLength() ? n % s.GetLength() : 0;
            ASSERT_EQ(0, s.Assign(s.CharPtr() + from));
            model = model.substr(from);
        }
        }
        ASSERT_EQ(model, Narrow(s)) << "step " << step;
        ASSERT_EQ('\0', s.CharPtr()[s.GetLength()]);
        if (s.GetCapacity() != before) {
            const int length = s.GetLength();
            ASSERT_EQ(length + length / 2 + 1, s.GetCapacity()) << "step " << step;
        }
    }
}

TEST(StringGrowth, IndexingOutsideTheStringGivesZero) {
    EString s("ab");
    EXPECT_EQ('a', s[0]);
    EXPECT_EQ('b', s[std::size_t(1)]);
    EXPECT_EQ('\0', s[2]);
    EXPECT_EQ('\0', s[-1]);
    EXPECT_EQ('\0', s[INT64_MAX]);
    s.SetAt(5, 'x');
    s.SetAt(-1, 'x');
    s.SetAt(1, 'c');
    EXPECT_EQ("ac", Narrow(s));
    EXPECT_EQ(L'\0', EWideString()[0]);
}

//--- construction and conversion

TEST(StringConversion, SystemCodePageIsShiftJis) {
    ASSERT_EQ(932u, ::GetACP());
}

TEST(StringConversion, LengthLimitsTheSourceAndStopsAtItsZero) {
    EXPECT_EQ(L"abc", Wide(EWideString(L"abcdef", 3)));
    EXPECT_EQ("ab", Narrow(EString("ab\0cd", 5))) << "never read past the source's zero";
    EXPECT_EQ("abcdef", Narrow(EString("abcdef", -1)));
    EXPECT_EQ("", Narrow(EString("abc", 0)));
    EXPECT_EQ("", Narrow(EString(static_cast<const char*>(nullptr), 10)));
}

TEST(StringConversion, ShiftJisRoundTripsThroughUtf16) {
    struct Row {
        const char* sjis;
        const wchar_t* utf16;
    };
    const Row rows[] = {
        {"日本語", L"日本語"},
        {"背景色変更", L"背景色変更"},
        {"表示", L"表示"},  // 表 = 0x95 0x5C: its trail byte is a backslash
        {"ソフト\\表\\", L"ソフト\\表\\"},
        {"ｶﾀｶﾅ", L"ｶﾀｶﾅ"},  // single-byte kana
        {"plain ASCII", L"plain ASCII"},
        {"", L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sjis);
        EWideString wide(row.sjis);
        EXPECT_EQ(std::wstring(row.utf16), Wide(wide));
        EString back(wide);
        EXPECT_EQ(std::string(row.sjis), Narrow(back));
        EXPECT_EQ(std::string(row.sjis), Narrow(EString(row.utf16)));
    }
    EXPECT_EQ(std::string("\x95\x5C"), Narrow(EString(L"表")));
}

TEST(StringConversion, ANullSourceGivesAnEmptyStringWithABuffer) {
    EWideString w(static_cast<const char*>(nullptr));
    EXPECT_EQ(0, w.GetLength());
    EXPECT_STREQ(L"", w.CharPtr());
    EString n(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(0, n.GetLength());
}

TEST(StringConversion, ACutDoubleByteCharacterDoesNotReadPastTheLength) {
    EWideString w("表示", 1);  // only the lead byte of 表
    EXPECT_LE(w.GetLength(), 1);
    EXPECT_EQ(L"表", Wide(EWideString("表示", 2)));
}

//--- numbers

TEST(StringNumbers, Decimal) {
    struct Row {
        std::int64_t value;
        int digits;
        const char* text;
    };
    const Row rows[] = {
        {-5, 0, "-5"},
        {0, 0, "0"},
        {1234, 0, "1234"},
        {42, 5, "00042"},
        {-5, 4, "-005"},
        {123456, 3, "456"},  // the highest digits are dropped
        {-123456, 3, "-56"},
        {-7, 1, "-"},
        {7, 1, "7"},
        {INT64_MAX, 0, "9223372036854775807"},
        {INT64_MIN, 0, "-9223372036854775808"},
        {-1, -3, "-1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(row.text, Narrow(EString::FromInteger(row.value, row.digits)));
        EXPECT_EQ(Wide(EWideString(row.text)), Wide(EWideString::FromInteger(row.value, row.digits)));
    }
}

TEST(StringNumbers, Hexadecimal) {
    struct Row {
        std::uint64_t value;
        int digits;
        const char* text;
    };
    const Row rows[] = {
        {0xFF808080u, 8, "FF808080"},
        {0xFF808080u, 0, "FF808080"},
        {0x1Fu, 4, "001F"},
        {0x12345u, 2, "45"},
        {0, 0, "0"},
        {0, 3, "000"},
        {0xABCDEFu, 0, "ABCDEF"},
        {0xFFFFFFFFFFFFFFFFull, 0, "FFFFFFFFFFFFFFFF"},
        {0x1u, 20, "00000000000000000001"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(row.text, Narrow(EString::FromHexadecimal(row.value, row.digits)));
        EXPECT_EQ(Wide(EWideString(row.text)), Wide(EWideString::FromHexadecimal(row.value, row.digits)));
    }
}

TEST(StringNumbers, FixedPoint) {
    struct Row {
        double value;
        int digits;
        const char* text;
    };
    const Row rows[] = {
        {3.14159, 2, "3.14"},
        {-0.125, 2, "-0.13"},  // rounded at the last digit: 12.5 + 0.5
        {0.999, 2, "1.00"},    // the carry reaches the integer part
        {2.5, 0, "2.5"},       // up to nine digits, trailing zeros dropped
        {3.0, 0, "3.0"},
        {0.000000001, 0, "0.000000001"},
        {1.0 / 3.0, -1, "0.333333333"},
        {-0.001, 2, "0.00"},  // no sign on a value that rounds to zero
        {12.0, 3, "12.000"},
        {1e20, 1, "100000000000000000000.0"},
        {0.5, 40, "0.500000000000000"},  // at most fifteen digits
        {std::numeric_limits<double>::infinity(), 2, "Inf"},
        {-std::numeric_limits<double>::infinity(), 2, "-Inf"},
        {std::nan(""), 2, "NaN"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(row.text, Narrow(EString::FromReal(row.value, row.digits)));
        EXPECT_EQ(Wide(EWideString(row.text)), Wide(EWideString::FromReal(row.value, row.digits)));
    }
    EXPECT_LT(300, EString::FromReal(-1.7e308, 1).GetLength()) << "the largest values keep all their digits";
}

//--- comparison and search

TEST(StringCompare, CaseSensitiveAndAsciiFolding) {
    struct Row {
        const char* name;
        const wchar_t* a;
        const wchar_t* b;
        bool sameCase;
        bool sameFolded;
    };
    const Row rows[] = {
        {"Option/option", L"Option", L"option", false, true},
        {"equal", L"xml", L"xml", true, true},
        {"prefix", L"utf", L"utf-8", false, false},
        {"Latin-1 letters are not folded", L"\u00C4", L"\u00E4", false, false},
        {"full-width letters are not folded", L"Ａ", L"ａ", false, false},
        {"punctuation between the cases", L"[", L"{", false, false},
        {"@ and `", L"@", L"`", false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EWideString a(row.a);
        EXPECT_EQ(row.sameCase, a.Compare(row.b) == 0);
        EXPECT_EQ(row.sameFolded, a.CompareNoCase(row.b) == 0);
        EString n(row.a);
        EString nb(row.b);
        if (EWideString(n) != row.a || EWideString(nb) != row.b)
            continue;  // not in the code page: no 8-bit form to compare
        EXPECT_EQ(row.sameCase, n.Compare(nb) == 0);
        EXPECT_EQ(row.sameFolded, n.CompareNoCase(nb) == 0);
    }
}

TEST(StringCompare, TrailBytesAreNeverFolded) {
    // ア is 0x83 0x41 and ヂ is 0x83 0x61: folding the trail byte as if it were
    // 'A' would make them equal.
    EXPECT_NE(0, EString("ア").CompareNoCase("ヂ"));
    EXPECT_EQ(0, EString("アXML").CompareNoCase("アxml"));
}

TEST(StringCompare, ResultIsTheDifferenceOfTheFirstDifferingUnits) {
    EXPECT_EQ('c' - 'd', EString("abc").Compare("abd"));
    EXPECT_EQ(-'c', EString("ab").Compare("abc"));
    EXPECT_EQ('c', EString("abc").Compare("ab"));
    EXPECT_EQ(0, EString().Compare(nullptr));
    EXPECT_EQ(0, EString().Compare(""));
    EXPECT_EQ(0, EString("").CompareNoCase(nullptr));
    EXPECT_EQ('a', EString("a").Compare(nullptr));
    EXPECT_GT(EString("\x82\xA0").Compare("a"), 0) << "8-bit units compare as unsigned bytes";
    EXPECT_GT(EWideString(L"\xFF21").Compare(L"a"), 0);
    EXPECT_TRUE(EString("a") < EString("b"));
    EXPECT_TRUE(EString("abc") == "abc");
    EXPECT_TRUE("abd" != EString("abc"));
}

TEST(StringFind, PositionsAndOutOfRangeStarts) {
    struct Row {
        const wchar_t* text;
        int start;
        int expected;
    };
    const EWideString s(L"abcabc");
    const Row rows[] = {
        {L"c", 0, 2},  {L"c", 3, 5},    {L"c", -4, 2},   {L"", 2, 2},    {L"", 6, 6},         {L"", 7, -1},
        {L"x", 0, -1}, {L"abc", 4, -1}, {L"c", 100, -1}, {L"bca", 0, 1}, {L"abcabcd", 0, -1}, {L"c", INT_MAX, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "'" << EString(row.text).CharPtr() << "' from " << row.start);
        EXPECT_EQ(row.expected, s.Find(row.text, row.start));
    }
    EXPECT_EQ(-1, s.Find(static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(4, s.Find(L'b', 2));
    EXPECT_EQ(-1, EWideString().Find(L"a"));
}

TEST(StringFind, NeverMatchesOnATrailByte) {
    const EString s("表\\x");  // 0x95 0x5C 0x5C 'x'
    EXPECT_EQ(2, s.Find("\\"));
    EXPECT_EQ(2, s.ReverseFind('\\'));
    EXPECT_EQ(-1, EString("ソ表").ReverseFind('\\'));
    EXPECT_EQ(3, EWideString(L"a/b/c").ReverseFind(L'/'));
    EXPECT_EQ(-1, EWideString(L"abc").ReverseFind(L'\0'));
    EXPECT_EQ(-1, EString("ソ").Find('\\'));
    EXPECT_EQ(0, EString("ソ").Find("ソ"));
}

TEST(StringSubstrings, CountsAreClipped) {
    struct Row {
        int start;
        int count;
        const char* expected;
    };
    const EString s("abcdef");
    const Row rows[] = {
        {0, -1, "abcdef"}, {-5, 2, "ab"},        {4, 100, "ef"},         {6, 1, ""},
        {100, -1, ""},     {2, INT_MAX, "cdef"}, {INT_MAX, INT_MAX, ""}, {INT_MIN, INT_MIN, "abcdef"},
        {1, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "Middle(" << row.start << ", " << row.count << ")");
        EXPECT_EQ(row.expected, Narrow(s.Middle(row.start, row.count)));
    }
    EXPECT_EQ("abcdef", Narrow(s.Left(-1)));
    EXPECT_EQ("abcdef", Narrow(s.Left(INT_MAX)));
    EXPECT_EQ("", Narrow(s.Left(0)));
    EXPECT_EQ("abc", Narrow(s.Left(3)));
    EXPECT_EQ("ef", Narrow(s.Right(2)));
    EXPECT_EQ("abcdef", Narrow(s.Right(INT_MAX)));
    EXPECT_EQ("", Narrow(EString().Middle(0, 5)));
}

TEST(StringSubstrings, RandomRangesStayInsideTheString) {
    std::mt19937 random(58);
    const EWideString s(L"0123456789");
    const std::wstring model = L"0123456789";
    std::uniform_int_distribution<int> value(-15, 15);
    for (int i = 0; i < 2000; ++i) {
        const int start = value(random), count = value(random);
        const std::size_t from = static_cast<std::size_t>(std::max(0, std::min(start, 10)));
        const std::wstring expected = model.substr(from, count < 0 ? std::wstring::npos : count);
        ASSERT_EQ(expected, Wide(s.Middle(start, count))) << start << ", " << count;
    }
}

//--- paths

TEST(StringPaths, FileAndFolderPartsKeepDoubleByteCharactersWhole) {
    struct Row {
        const char* path;
        const char* folder;
        const char* file;
    };
    const Row rows[] = {
        {"C:\\データ\\表.txt", "C:\\データ\\", "表.txt"},
        {"C:\\表\\a.txt", "C:\\表\\", "a.txt"},
        {"C:\\books\\表", "C:\\books\\", "表"},  // the trail byte 0x5C is the last byte
        {"ソ", "", "ソ"},
        {"a/b\\c", "a/b\\", "c"},
        {"dir\\", "dir\\", ""},
        {"name", "", "name"},
        {"", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const EString path(row.path);
        EXPECT_EQ(row.folder, Narrow(path.GetFolderPart()));
        EXPECT_EQ(row.file, Narrow(path.GetFileNamePart()));
    }
}

TEST(StringPaths, ConvertedPathFindsTheRightFileName) {
    const EString path(EWideString(L"D:\\漫画\\表紙.jpg"));
    EXPECT_EQ("表紙.jpg", Narrow(path.GetFileNamePart()));
    EXPECT_EQ(L"表紙.jpg", Wide(EWideString(path.GetFileNamePart())));
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
