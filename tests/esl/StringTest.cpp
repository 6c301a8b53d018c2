// Strings: growth and limits, Shift-JIS conversion, numbers, search, parts and case.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <utility>

#include "esl_string.h"

namespace {

std::string Narrow(const EString& s) {
    return std::string(s.CharPtr(), s.GetLength());
}

// Rows of {result, expected}, reported by their index.
template <class A, class B, std::size_t N>
void ExpectRows(const std::pair<A, B> (&rows)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        EXPECT_EQ(rows[i].second, rows[i].first) << "row " << i;
}

TEST(StringGrowth, LimitsCopiesAndFilledBuffers) {
    EString s("keep");
    const int capacity = s.GetCapacity();
    for (int size : {-1, EString::kMaxLength + 1, INT_MAX})
        EXPECT_NE(0, s.Reserve(size)) << size;
    EXPECT_EQ(nullptr, s.GetBuffer(-5));
    EXPECT_EQ(nullptr, s.GetBuffer(INT_MAX));
    EXPECT_EQ("keep", Narrow(s));
    EXPECT_EQ(capacity, s.GetCapacity()) << "a failure leaves the string as it was";
    EXPECT_NE(0, EWideString(L"keep").Reserve(EWideString::kMaxLength + 1)) << "the byte count must fit in 31 bits";
    EWideString a(L"text");
    EXPECT_NE(a.CharPtr(), EWideString(a).CharPtr()) << "a copy owns its own units";
    EWideString moved(std::move(a));
    EXPECT_EQ(0, a.GetLength());
    // Regression: string + unit used the unit as a pointer offset.
    EXPECT_STREQ(L"<text?>", (L"<" + moved + L'?' + L">").CharPtr());
    EString filled;
    EXPECT_STREQ("", filled.CharPtr()) << "no buffer still reads as \"\"";
    std::memcpy(filled.GetBuffer(8), "12345678", 8);
    filled.SetLength(-1);  // no zero was written: the length stops at the room
    EXPECT_EQ("12345678", Narrow(filled));
    filled.SetLength(1000);
    EXPECT_EQ(filled.GetCapacity(), filled.GetLength());
}

// Edits agree with std::string; growing to n units makes the capacity n + n/2 + 1.
TEST(StringGrowth, RandomEditsMatchAStandardString) {
    EString s;
    ASSERT_EQ(0, s.Reserve(3));
    EXPECT_EQ(3, s.GetCapacity()) << "Reserve asks for exactly that room";
    // Regression: appending a part of itself read the old block after it had moved.
    ASSERT_EQ(0, s.Assign("abc"));
    ASSERT_EQ(0, s.Append(s.CharPtr() + 1));
    ASSERT_EQ(0, s.Append(s));
    std::string model = "abcbcabcbc";
    EXPECT_EQ(model, Narrow(s));
    std::mt19937 random(1958);
    for (int step = 0; step < 5000; ++step) {
        const int before = s.GetCapacity(), n = random() % 41, from = s.GetLength() ? n % s.GetLength() : 0;
        const char letter = static_cast<char>('a' + step % 26);
        const unsigned op = random() % 4;
        if (op == 2) {
            s.SetLength(std::min(n, s.GetLength()));  // longer would show what a filler wrote
            model.resize(std::min<std::size_t>(model.size(), n));
        } else if (op == 3) {
            ASSERT_EQ(0, s.Assign(s.CharPtr() + from));
            model.erase(0, from);
        } else {  // n letters, or a part of itself
            const std::string add = op ? model.substr(from, n) : std::string(n, letter);
            ASSERT_EQ(0, op ? s.Append(s.CharPtr() + from, n) : s.Append(add.c_str()));
            model += add;
        }
        ASSERT_EQ(model, Narrow(s)) << "step " << step;
        ASSERT_EQ('\0', s.CharPtr()[s.GetLength()]);
        const int grown = s.GetLength() + s.GetLength() / 2 + 1;
        ASSERT_TRUE(s.GetCapacity() == before || s.GetCapacity() == grown) << "step " << step;
    }
}

// 表 = 0x95 0x5C: its trail byte is a backslash; ｶﾀｶﾅ are single-byte kana.
TEST(StringConversion, ShiftJisRoundTripsThroughUtf16WithinTheGivenLength) {
    ASSERT_EQ(932u, ::GetACP());
    const std::pair<const char*, const wchar_t*> kRows[] = {
        {"背景色変更", L"背景色変更"}, {"ソフト\\表\\", L"ソフト\\表\\"}, {"ｶﾀｶﾅ", L"ｶﾀｶﾅ"}, {"", L""}};
    for (const auto& [sjis, utf16] : kRows) {
        SCOPED_TRACE(sjis);
        EXPECT_STREQ(utf16, EWideString(sjis).CharPtr());
        EXPECT_EQ(sjis, Narrow(EString(EWideString(sjis))));
        EXPECT_EQ(sjis, Narrow(EString(utf16)));
    }
    EXPECT_STREQ(L"abc", EWideString(L"abcdef", 3).CharPtr());
    EXPECT_EQ("ab", Narrow(EString("ab\0cd", 5))) << "never read past the source's zero";
    EXPECT_EQ(0, EString(static_cast<const char*>(nullptr), 10).GetLength());
    EXPECT_STREQ(L"", EWideString(static_cast<const char*>(nullptr)).CharPtr());
    EXPECT_LE(EWideString("表示", 1).GetLength(), 1) << "only the lead byte of 表";
    EXPECT_STREQ(L"表", EWideString("表示", 2).CharPtr());
}

// Too few digits drop the highest; no sign on what rounds to zero; FromReal gives
// up to nine digits when none are asked for (trailing zeros dropped), never 16.
template <class S>
void ExpectNumbers() {
    const std::tuple<std::int64_t, int, const char*> kDecimals[] = {
        {-5, 0, "-5"},      {0, 0, "0"},         {42, 5, "00042"}, {-5, 4, "-005"},
        {123456, 3, "456"}, {-123456, 3, "-56"}, {-7, 1, "-"},     {-1, -3, "-1"}};
    for (const auto& [value, digits, text] : kDecimals)
        EXPECT_EQ(EString(text), EString(S::FromInteger(value, digits))) << value;
    const std::tuple<std::uint64_t, int, const char*> kHexadecimals[] = {
        {0xFF808080, 0, "FF808080"}, {0x1F, 4, "001F"}, {0x12345, 2, "45"}, {0, 0, "0"}, {1, 8, "00000001"}};
    for (const auto& [value, digits, text] : kHexadecimals)
        EXPECT_EQ(EString(text), EString(S::FromHexadecimal(value, digits))) << value;
    const std::tuple<double, int, const char*> kReals[] = {{3.14159, 2, "3.14"},
                                                           {-0.125, 2, "-0.13"},
                                                           {0.999, 2, "1.00"},
                                                           {2.5, 0, "2.5"},
                                                           {3.0, 0, "3.0"},
                                                           {1e-9, 0, "0.000000001"},
                                                           {1.0 / 3, -1, "0.333333333"},
                                                           {-0.001, 2, "0.00"},
                                                           {INFINITY, 2, "Inf"},
                                                           {-INFINITY, 2, "-Inf"},
                                                           {NAN, 2, "NaN"}};
    for (const auto& [value, digits, text] : kReals)
        EXPECT_EQ(EString(text), EString(S::FromReal(value, digits))) << value;
    const std::pair<S, const char*> kWide[] = {
        {S::FromInteger(INT64_MAX), "9223372036854775807"}, {S::FromInteger(INT64_MIN), "-9223372036854775808"},
        {S::FromHexadecimal(~0ull), "FFFFFFFFFFFFFFFF"},    {S::FromHexadecimal(1, 20), "00000000000000000001"},
        {S::FromReal(1e20, 1), "100000000000000000000.0"},  {S::FromReal(0.5, 40), "0.500000000000000"}};
    for (const auto& [number, text] : kWide)
        EXPECT_EQ(EString(text), EString(number));
    EXPECT_LT(300, S::FromReal(-1.7e308, 1).GetLength()) << "the largest values keep all their digits";
}

TEST(StringNumbers, DecimalHexadecimalAndFixedPoint) {
    ExpectNumbers<EString>();
    ExpectNumbers<EWideString>();
}

// Only ASCII letters fold, never a trail byte (ア is 0x83 0x41, ヂ 0x83 0x61).
TEST(StringCompare, DifferenceOfTheFirstDifferingUnitsWithAsciiFolding) {
    const std::tuple<const wchar_t*, const wchar_t*, bool, bool> kRows[] = {
        {L"Option", L"option", false, true},  {L"xml", L"xml", true, true}, {L"utf", L"utf-8", false, false},
        {L"\u00C4", L"\u00E4", false, false}, {L"Ａ", L"ａ", false, false}, {L"[", L"{", false, false},
        {L"@", L"`", false, false},           {L"ア", L"ヂ", false, false}, {L"アXML", L"アxml", false, true}};
    for (const auto& [a, b, sameCase, sameFolded] : kRows) {
        SCOPED_TRACE(EString(a).CharPtr());
        EXPECT_EQ(sameCase, EWideString(a).Compare(b) == 0);
        EXPECT_EQ(sameFolded, EWideString(a).CompareNoCase(b) == 0);
        const EString na(a), nb(b);
        if (EWideString(na) != a || EWideString(nb) != b)
            continue;  // not in the code page: no 8-bit form to compare
        EXPECT_EQ(sameCase, na.Compare(nb) == 0);
        EXPECT_EQ(sameFolded, na.CompareNoCase(nb) == 0);
    }
    const EString abc("abc"), empty, a("a"), high("\x82\xA0");  // 8-bit units compare as unsigned bytes
    const std::pair<int, int> kResults[] = {{abc.Compare("abd"), 'c' - 'd'}, {EString("ab").Compare("abc"), -'c'},
                                            {empty.Compare(nullptr), 0},     {a.Compare(nullptr), 'a'},
                                            {high.Compare("a") > 0, true},   {a < EString("b"), true}};
    ExpectRows(kResults);
}

// Positions clipped to the string; in EString never on a trail byte.
TEST(StringSearch, FindAndIndexPositions) {
    const EWideString s(L"abcabc"), path(L"a/b/c"), empty;
    const EString t("表\\x"), so("ソ"), sh("ソ表"), ab("ab");  // 表\x is 0x95 0x5C 0x5C 'x'
    const wchar_t* none = nullptr;
    const std::pair<int, int> kRows[] = {{s.Find(L"c", 3), 5},        {s.Find(L"c", -4), 2}, {s.Find(L"", 6), 6},
                                         {s.Find(L"", 7), -1},        {s.Find(L"x"), -1},    {s.Find(L"abc", 4), -1},
                                         {s.Find(L"c", INT_MAX), -1}, {s.Find(L"bca"), 1},   {s.Find(L"abcabcd"), -1},
                                         {s.Find(none), -1},          {s.Find(L'b', 2), 4},  {empty.Find(L"a"), -1},
                                         {path.ReverseFind('/'), 3},  {s.ReverseFind(0), -1}};
    ExpectRows(kRows);
    const std::pair<int, int> kEightBit[] = {
        {t.Find("\\"), 2}, {t.ReverseFind('\\'), 2}, {sh.ReverseFind('\\'), -1}, {so.Find('\\'), -1}, {so.Find(so), 0}};
    ExpectRows(kEightBit);
    const std::pair<int, int> kIndex[] = {{ab[1u], 'b'}, {ab[2], 0}, {ab[-1], 0}, {ab[INT64_MAX], 0}, {empty[0], 0}};
    ExpectRows(kIndex);
}

// Counts are clipped; parts and case keep 表 (its last byte 0x5C) and the like whole.
TEST(StringParts, SubstringsPathsAndCase) {
    const EString s("abcdef"), none;
    EString set("ab"), upper("abcヂxyz表q"), lower("ABCアXYZ");  // ヂ ends in 'a' (0x61), ア in 'A' (0x41)
    set.SetAt(5, 'x');
    set.SetAt(-1, 'x');
    set.SetAt(1, 'c');
    upper.MakeUpper();
    lower.MakeLower();
    const std::tuple<int, int, const char*> kMiddles[] = {{2, INT_MAX, "cdef"}, {INT_MAX, 9, ""}, {-9, -1, "abcdef"},
                                                          {100, -1, ""},        {1, 2, "bc"},     {6, 1, ""}};
    for (const auto& [start, count, text] : kMiddles)
        EXPECT_EQ(text, Narrow(s.Middle(start, count))) << start << ", " << count;
    const std::pair<EString, const char*> kRows[] = {
        {s.Left(-1), "abcdef"},  {s.Left(3), "abc"}, {s.Right(2), "ef"},     {s.Right(INT_MAX), "abcdef"},
        {none.Middle(0, 5), ""}, {set, "ac"},        {upper, "ABCヂXYZ表Q"}, {lower, "abcアxyz"}};
    ExpectRows(kRows);
    const std::pair<const char*, int> kPaths[] = {
        {"C:\\データ\\表.txt", 10}, {"C:\\表\\a.txt", 6}, {"C:\\books\\表", 9}, {"ソ", 0}, {"a/b\\c", 4}, {"dir\\", 4}};
    for (const auto& [path, position] : kPaths)
        EXPECT_EQ(position, EString(path).GetFileNamePosition()) << path;
    EXPECT_EQ("C:\\books\\", Narrow(EString("C:\\books\\表").GetFolderPart()));
    EXPECT_EQ("表", Narrow(EString("C:\\books\\表").GetFileNamePart()));
    EWideString wide(L"Mixed \u00C4 Case");
    wide.MakeLower();
    EXPECT_STREQ(L"mixed \u00C4 case", wide.CharPtr());
}

}  // namespace
