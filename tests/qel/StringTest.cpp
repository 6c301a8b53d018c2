#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "qel_string.h"

TEST(CWString, EmptyStringsGiveAnEmptyTextNeverNull) {
    qel::CWString empty;
    ASSERT_NE(nullptr, empty.c_str());
    EXPECT_STREQ(L"", empty.c_str());
    EXPECT_EQ(0u, empty.Length());
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_STREQ(L"", qel::CWString(static_cast<const wchar_t*>(nullptr)).c_str());
    EXPECT_STREQ(L"", qel::CWString(static_cast<const char*>(nullptr)).c_str());

    qel::CWString moved(L"x");
    qel::CWString target(std::move(moved));
    EXPECT_STREQ(L"", moved.c_str()) << "a moved-from string reads as empty";  // NOLINT(bugprone-use-after-move)
    moved += L"again";
    EXPECT_STREQ(L"again", moved.c_str()) << "and can be used again";
    EXPECT_STREQ(L"x", target.c_str());
}

TEST(CWString, ConvertsEightBitTextWithTheAnsiCodePage) {
    // Shift-JIS: the trail byte of '表' and of 'ソ' is 0x5C, a backslash.
    const char sjis[] = "表\\ソ";
    ASSERT_EQ(5u, sizeof(sjis) - 1) << "the source must be stored as Shift-JIS";
    qel::CWString s(sjis);
    EXPECT_STREQ(L"表\\ソ", s.c_str());
    EXPECT_EQ(3u, s.Length());
    s += "表";
    EXPECT_STREQ(L"表\\ソ表b", (s + "b").c_str());
}

TEST(CWString, CopiesAreIndependent) {
    qel::CWString a(L"page");
    qel::CWString b(a);
    b += L'1';
    EXPECT_STREQ(L"page", a.c_str());
    EXPECT_STREQ(L"page1", b.c_str());

    qel::CWString c;
    c = b;
    b.Clear();
    EXPECT_STREQ(L"page1", c.c_str());
    EXPECT_TRUE(b.IsEmpty());
    c = L"other";
    c = c;  // self-assignment keeps the text
    EXPECT_STREQ(L"other", c.c_str());
    c = static_cast<const wchar_t*>(nullptr);
    EXPECT_STREQ(L"", c.c_str());
}

TEST(CWString, AppendAndConcatenate) {
    qel::CWString s(L"ab");
    s += qel::CWString(L"cd");
    s += L'e';
    s += L"fg";
    s += static_cast<const wchar_t*>(nullptr);
    s += "hi";
    EXPECT_STREQ(L"abcdefghi", s.c_str());
    EXPECT_EQ(9u, s.Length());
    s += s;  // appending itself must survive the buffer moving
    EXPECT_STREQ(L"abcdefghiabcdefghi", s.c_str());

    qel::CWString x(L"x");
    EXPECT_STREQ(L"xy", (x + qel::CWString(L"y")).c_str());
    EXPECT_STREQ(L"xy", (x + L'y').c_str());
    EXPECT_STREQ(L"xyz", (x + L"yz").c_str());
    EXPECT_STREQ(L"x", x.c_str()) << "+ leaves its operand";
    EXPECT_STREQ(L"abc", qel::CWString(L"abcdef", 3).c_str());

    // Growth well past the first capacity keeps every unit.
    qel::CWString big;
    std::wstring expected;
    for (int i = 0; i < 5000; ++i) {
        big += wchar_t(L'a' + i % 26);
        expected += wchar_t(L'a' + i % 26);
    }
    EXPECT_EQ(expected, std::wstring(big.c_str()));
}

// CWString against CWString is covered by the natural-order property test.
TEST(CWString, ComparesWithWideTextNaturally) {
    EXPECT_TRUE(qel::CWString(L"SPI") == L"spi");
    EXPECT_TRUE(qel::CWString(L"a7") != L"a8");
    EXPECT_TRUE(qel::CWString(L"page9") < L"Page10");
    EXPECT_TRUE(qel::CWString(L"Page10") > L"page9");
}
