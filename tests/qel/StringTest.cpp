#include <gtest/gtest.h>

#include <utility>

#include "qel_string.h"

// Eight-bit text in the ANSI code page is converted by CPath's tests.
TEST(CWString, TextIsNeverNullAndCopiesAreIndependent) {
    for (const qel::CWString& empty : {qel::CWString(), qel::CWString(static_cast<const wchar_t*>(nullptr)),
                                       qel::CWString(static_cast<const char*>(nullptr))})
        EXPECT_TRUE(empty.c_str() && !*empty.c_str() && empty.IsEmpty());
    qel::CWString a(L"page"), b(a), c;
    b += L'1';
    c = b;
    b.Clear();
    c = c;  // self-assignment keeps the text
    EXPECT_STREQ(L"page", a.c_str());
    EXPECT_STREQ(L"page1", c.c_str());
    EXPECT_TRUE(b.IsEmpty());
    qel::CWString moved(std::move(c));
    EXPECT_STREQ(L"", c.c_str());  // NOLINT(bugprone-use-after-move)
    c += L"again";
    EXPECT_STREQ(L"again", c.c_str()) << "a moved-from string can be used again";
    c = static_cast<const wchar_t*>(nullptr);
    EXPECT_STREQ(L"", c.c_str());
}

TEST(CWString, AppendsAndCompares) {
    qel::CWString s(L"ab", 1);
    s += static_cast<const wchar_t*>(nullptr);
    s += "b";
    s += s;  // appending itself must survive the buffer moving
    const qel::CWString x(L"x");
    EXPECT_STREQ(L"ababxyzw", (s + x + L'y' + L"z" + "w").c_str());
    EXPECT_STREQ(L"x", x.c_str()) << "+ leaves its operand";
    EXPECT_TRUE(qel::CWString(L"SPI") == L"spi" && qel::CWString(L"a7") != L"a8");
    EXPECT_TRUE(qel::CWString(L"page9") < L"Page10" && qel::CWString(L"Page10") > L"page9");
}
