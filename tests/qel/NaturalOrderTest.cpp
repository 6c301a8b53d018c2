#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "esl_heap.h"
#include "qel_path.h"
#include "qel_string.h"
#include "support/Mutator.h"

TEST(CompareNatural, Cases) {
    const struct {
        const char* name;
        const wchar_t *a, *b;
        int expected;
    } cases[] = {
        {"ASCII letters without case", L"Page", L"pAGE", 0},
        {"digit runs by value", L"page9", L"Page10", -1},
        {"leading zeros do not count", L"a7", L"a007", 0},
        {"a missing number is 0", L"a", L"a0", 0},
        {"numbers before text of the same start", L"a1", L"a1b", -1},
        {"later digit runs decide", L"x10y2", L"x10y10", -1},
        {"'_' (95) before 'A' (65), which folds to 'a' (97)", L"_", L"A", -1},
        {"'Z' folds above '_'", L"Z", L"_", 1},
        {"32-bit wrap: 2^32 + 5 is 5", L"n4294967301", L"n5", 0},
        {"no folding outside ASCII", L"\u00C4", L"\u00E4", -1},
        {"full-width digits are text, not numbers", L"a\uFF11\uFF10", L"a\uFF19", -1},
        {"code units, not code points: a surrogate before U+FFFD", L"\U0001F600", L"\uFFFD", -1},
        {"dot run against digits", L".0", L".", 0},
        {"null is empty, and so is a lone 0", nullptr, L"0", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, qel::CompareNatural(c.a, c.b)) << c.name;
        EXPECT_EQ(-c.expected, qel::CompareNatural(c.b, c.a)) << c.name << ", swapped";
    }
    EXPECT_TRUE(qel::CWString(L"SPI") == L"spi" && qel::CWString(L"a7") != L"a8");
    EXPECT_TRUE(qel::CWString(L"page9") < L"Page10" && qel::CWString(L"Page10") > L"page9");
}

// Copies of strings are checked through CPath's, and eight-bit text in its
// Shift-JIS tests.
TEST(CWString, TextIsNeverNullAndSurvivesItsOwnAppend) {
    qel::CWString a(static_cast<const char*>(nullptr)), b(static_cast<const wchar_t*>(nullptr)), c(L"ab", 1);
    qel::CWString moved(std::move(c));
    EXPECT_TRUE(a.c_str() && b.c_str() && c.c_str() && !*a.c_str() && !*b.c_str() && !*c.c_str());  // NOLINT
    c += moved + L'b' + static_cast<const wchar_t*>(nullptr);
    c += c;  // the buffer moves while its own text is appended
    c = c;   // self-assignment keeps the text
    EXPECT_STREQ(L"abab", c.c_str());
}

namespace {

// Bytes of a mutated input as wide text: ASCII as it is, a zero (which would
// end the text early) as U+3000, other bytes in the full-width block, which
// holds digits and letters that are neither numbers nor folded.
std::wstring Units(const std::string& bytes) {
    std::wstring text;
    for (const unsigned char b : bytes)
        text += b == 0 ? wchar_t(0x3000) : b < 0x80 ? wchar_t(b) : wchar_t(0xFF00 | b);
    return text;
}

// The components joined by '\', exactly as they are.
std::wstring Joined(const qel::CPath& path) {
    std::wstring text;
    for (size_t i = 0; i < path.Count(); ++i)
        text += (i ? L"\\" : L"") + std::wstring(path.Component(i).c_str());
    return text;
}

// Empty when cmp (-1, 0 or 1) on three items is antisymmetric and transitive,
// equality included, so that a sort never meets an inconsistency.
template <class Cmp>
std::string OrdersConsistently(const Cmp& cmp) {
    for (int x = 0; x < 3; ++x) {
        for (int y = 0; y < 3; ++y) {
            if (cmp(x, y) != -cmp(y, x))
                return "not antisymmetric";
            for (int z = 0; z < 3; ++z) {
                if (cmp(x, y) <= 0 && cmp(y, z) <= 0 && cmp(x, z) != (cmp(x, y) + cmp(y, z) < 0 ? -1 : 0))
                    return "not transitive";
            }
        }
    }
    return "";
}

}  // namespace

// Names and paths from list files and archives order consistently, and a
// normalised path normalises to itself whatever its separator. An input is
// three texts split at '|'.
TEST(NaturalOrderFuzz, MutatedNamesAndPathsOrderConsistentlyAndNormaliseOnce) {
    const std::vector<std::string> corpus = {"img10.jpg|IMG9.jpg|a007", "a0|A0b|4294967296\xC4\xE4",
                                             "C:\\Books\\.\\IMG1.jpg|c:/books/img01.JPG|C:\\books\\..\\",
                                             "\\\\server\\share\\x.jpg|a\\\\b|\\books\\x.jpg",
                                             "a\\..\\C:x|C:abc|C:\\\\a\\.0\\..0"};
    const fuzz::Report report = fuzz::Run("order", 31000, 4000, corpus, [](const std::string& input) -> std::string {
        std::wstring texts[3];
        for (size_t from = 0, i = 0; i < 3; from = std::min(input.find('|', from), input.size()) + 1, ++i)
            texts[i] = Units(input.substr(std::min(from, input.size()), input.find('|', from) - from));
        std::string broken =
            OrdersConsistently([&](int x, int y) { return qel::CompareNatural(texts[x].c_str(), texts[y].c_str()); });
        const qel::CPath paths[] = {qel::CPath(texts[0].c_str()), qel::CPath(texts[1].c_str()),
                                    qel::CPath(texts[0].c_str()) / texts[2].c_str()};
        for (const qel::CPath& path : paths) {
            if (Joined(path) != path.c_str() || path.IsEmpty() != (path.Count() == 0) ||
                Joined(qel::CPath(path.c_str(), L'\\')) != path.c_str() ||
                Joined(qel::CPath(path.c_str(), L'/')) != path.c_str())
                broken += "a path does not normalise to itself";
        }
        return eslVerifyHeapChain(nullptr) ? "heap chain broken" : broken;
    });
    EXPECT_EQ(0u, report.failures);
}
