#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "qel_string.h"

namespace {

struct OrderCase {
    const char* name;
    const wchar_t* a;
    const wchar_t* b;
    int expected;
};

const OrderCase kOrderCases[] = {
    {"equal texts", L"page", L"page", 0},
    {"both empty", L"", L"", 0},
    {"ASCII letters without case", L"Page", L"pAGE", 0},
    {"digit runs by value", L"page9", L"Page10", -1},
    {"leading zeros do not count", L"a7", L"a007", 0},
    {"a missing number is 0", L"a", L"a0", 0},
    {"a missing number is 0 before more text", L"a", L"a0b", -1},
    {"numbers before text of the same start", L"a1", L"a1b", -1},
    {"later digit runs decide", L"x10y2", L"x10y10", -1},
    {"prefix is smaller", L"ab", L"abc", -1},
    {"empty is smallest", L"", L"a", -1},
    {"digits before letters", L"1", L"a", -1},
    {"'_' (95) before 'a' (97)", L"_", L"a", -1},
    {"'_' before 'A' too, which folds to 'a'", L"_", L"A", -1},
    {"'Z' folds above '_'", L"Z", L"_", 1},
    {"32-bit wrap: 2^32 is 0", L"4294967296", L"0", 0},
    {"32-bit wrap: 2^32 + 5 is 5", L"n4294967301", L"n5", 0},
    {"largest 32-bit value", L"4294967295", L"4294967294", 1},
    {"no folding outside ASCII", L"\u00C4", L"\u00E4", -1},
    {"full-width letters are not folded", L"\uFF21", L"\uFF41", -1},
    {"full-width digits are text, not numbers", L"a\uFF11\uFF10", L"a\uFF19", -1},
    {"code units unsigned: U+FF01 after 'z'", L"\uFF01", L"z", 1},
    {"code units, not code points: a surrogate before U+FFFD", L"\U0001F600", L"\uFFFD", -1},
    {"text run against a number run", L"a", L"1", 1},
    {"dot run against digits", L".0", L".", 0},
};

// An independent model of the order: the text as the alternating list (text
// run, number, text run, number, ...), both lists padded with ("", 0) to the
// same length and compared item by item.
using Tokens = std::vector<std::pair<std::wstring, uint32_t>>;

Tokens Tokenise(const std::wstring& s) {
    Tokens tokens;
    for (size_t i = 0; i < s.size();) {
        tokens.emplace_back(L"", 0u);
        for (; i < s.size() && !(s[i] >= L'0' && s[i] <= L'9'); ++i)
            tokens.back().first += (s[i] >= L'A' && s[i] <= L'Z') ? wchar_t(s[i] + 32) : s[i];
        for (; i < s.size() && s[i] >= L'0' && s[i] <= L'9'; ++i)
            tokens.back().second = tokens.back().second * 10u + uint32_t(s[i] - L'0');
    }
    return tokens;
}

int ModelCompare(const std::wstring& a, const std::wstring& b) {
    Tokens ta = Tokenise(a), tb = Tokenise(b);
    ta.resize(std::max(ta.size(), tb.size()), {L"", 0u});
    tb.resize(ta.size(), {L"", 0u});
    return ta < tb ? -1 : tb < ta ? 1 : 0;
}

}  // namespace

TEST(CompareNatural, Cases) {
    for (const OrderCase& c : kOrderCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, qel::CompareNatural(c.a, c.b));
        EXPECT_EQ(-c.expected, qel::CompareNatural(c.b, c.a)) << "swapped";
        EXPECT_EQ(c.expected, ModelCompare(c.a, c.b)) << "the test's own model disagrees";
    }
    EXPECT_EQ(0, qel::CompareNatural(nullptr, L""));
    EXPECT_EQ(-1, qel::CompareNatural(nullptr, L"a"));
    EXPECT_EQ(1, qel::CompareNatural(L"0a", nullptr));
    EXPECT_EQ(0, qel::CompareNatural(L"0", nullptr)) << "a lone 0 is the empty number";
}

// Sorting a folder must never meet an inconsistent comparison: a strict weak
// order whose equivalence is exactly ==, as CWString's operators see it too.
TEST(CompareNatural, IsAConsistentOrderOverRandomNames) {
    // Pieces that meet every rule: case pairs, '_' between the cases, dots,
    // digit runs long enough to wrap, non-ASCII case pairs, full-width digits
    // and a surrogate pair.
    static const wchar_t* const kPieces[] = {
        L"a",  L"A",          L"b",           L"B",      L"_",      L".",      L"0",          L"1", L"7", L"9",
        L"00", L"4294967296", L"99999999999", L"\u00E4", L"\u00C4", L"\uFF11", L"\U0001F600", L"z", L"-"};
    std::mt19937 rng(5858);
    std::vector<std::wstring> names(400);
    for (std::wstring& name : names)
        for (int n = int(rng() % 7); n > 0; --n)
            name += kPieces[rng() % (sizeof(kPieces) / sizeof(kPieces[0]))];

    const size_t count = names.size();
    std::vector<std::vector<int>> cmp(count, std::vector<int>(count));
    size_t equalKeys = 0;
    for (size_t i = 0; i < count; ++i) {
        const qel::CWString wi(names[i].c_str());
        for (size_t j = 0; j < count; ++j) {
            auto pair = [&] { return testing::Message() << "'" << names[i] << "' against '" << names[j] << "'"; };
            const int c = cmp[i][j] = qel::CompareNatural(names[i].c_str(), names[j].c_str());
            ASSERT_EQ(ModelCompare(names[i], names[j]), c) << pair();
            const qel::CWString wj(names[j].c_str());
            ASSERT_EQ(c == 0, wi == wj) << pair();
            ASSERT_EQ(c != 0, wi != wj) << pair();
            ASSERT_EQ(c < 0, wi < wj) << pair();
            ASSERT_EQ(c > 0, wi > wj) << pair();
            equalKeys += c == 0 && names[i] != names[j];
        }
    }
    EXPECT_GT(equalKeys, 100u) << "the sample must hold different texts that are equal keys ('a', 'A0')";
    // Transitivity of both the order and the equivalence on a sample of
    // triples (the full cube would take too long under Wine).
    for (size_t i = 0; i < 120; ++i)
        for (size_t j = 0; j < 120; ++j)
            for (size_t k = 0; k < 120 && cmp[i][j] <= 0; ++k) {
                if (cmp[j][k] > 0)
                    continue;
                const int expected = cmp[i][j] < 0 || cmp[j][k] < 0 ? -1 : 0;
                ASSERT_EQ(expected, cmp[i][k]) << "'" << names[i] << "' '" << names[j] << "' '" << names[k] << "'";
            }
}
