#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "esl_heap.h"
#include "qel_path.h"
#include "qel_string.h"
#include "support/Mutator.h"

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

namespace {

// Bytes of a mutated input as wide text: ASCII as it is (a zero would end the
// text early, so it stands for U+3000), other bytes as units that the order
// treats specially: case pairs outside ASCII, full-width digits and letters,
// surrogates, Japanese.
std::wstring Units(const std::string& bytes) {
    static const wchar_t kHigh[] = {0x00C4, 0x00E4, 0xFF11, 0xFF10, 0xFF21, 0xFF41, 0xD83D, 0xDE00,
                                    0x8868, 0x30BD, 0xFFFD, 0xFF01, 0x00DF, 0x0130, 0x3042, 0x3000};
    std::wstring text;
    for (char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        text += b == 0 ? wchar_t(0x3000) : b < 0x80 ? wchar_t(b) : kHigh[b & 15];
    }
    return text;
}

std::vector<std::wstring> Components(const qel::CPath& path) {
    std::vector<std::wstring> out;
    for (size_t i = 0; i < path.Count(); ++i)
        out.push_back(path.Component(i).c_str());
    return out;
}

// Empty when the path's text normalises to the same components, whatever
// the separator it was built with.
std::string NormalisesOnce(const qel::CPath& path) {
    const std::vector<std::wstring> parts = Components(path);
    std::wstring joined;
    for (size_t i = 0; i < parts.size(); ++i)
        joined += (i ? L"\\" : L"") + parts[i];
    if (joined != path.c_str() || path.IsEmpty() != parts.empty())
        return "the text is not the components joined";
    if (Components(qel::CPath(path.c_str(), L'\\')) != parts || Components(qel::CPath(path.c_str(), L'/')) != parts)
        return "normalising twice changed the path";
    return "";
}

// Empty when less and equal on a, b and c make a strict weak order whose
// equivalence is equal.
template <class Less, class Equal>
std::string OrdersConsistently(const Less& less, const Equal& equal) {
    const int kTriples[][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (const auto& t : kTriples) {
        const int x = t[0], y = t[1], z = t[2];
        if (less(x, y) && less(y, x))
            return "not asymmetric";
        if (equal(x, y) != (!less(x, y) && !less(y, x)))
            return "equality is not the equivalence";
        const bool xy = less(x, y) || equal(x, y), yz = less(y, z) || equal(y, z);
        if (xy && yz && !(less(x, y) || less(y, z) ? less(x, z) : equal(x, z)))
            return "not transitive";
    }
    return "";
}

}  // namespace

// Names and paths from list files and archives: the order matches the model,
// is a strict weak order (so that sorting never meets an inconsistency), and
// a normalised path normalises to itself. An input is three texts split at
// '|'.
TEST(NaturalOrderFuzz, MutatedNamesAndPathsOrderConsistentlyAndNormaliseOnce) {
    const std::vector<std::string> corpus = {
        "img10.jpg|img9.jpg|IMG1.jpg",
        "a7|a007|a",
        "a0|A0b|_",
        "4294967296|0|n4294967301",
        "x10y2|x10y10|\xC4\xE4\xD1",
        "C:\\Books\\IMG1.jpg|c:/books/img01.JPG|C:\\books\\",
        "C:\\a\\.\\b\\..\\c.jpg|\\\\server\\share\\x.jpg|//server/share",
        "a\\\\b|a\\..\\..\\b|\\books\\x.jpg",
        "a\\..\\C:x|C:abc|C:\\\\a\\.0\\..0",
        "\x88\x89\\\x8A.jpg|.hidden|archive.tar.gz",
    };
    const fuzz::Report report = fuzz::Run("order", 31000, 10000, corpus, [](const std::string& input) -> std::string {
        std::vector<std::wstring> texts;
        std::size_t from = 0;
        for (int i = 0; i < 3; ++i) {
            const std::size_t bar = std::min(input.find('|', from), input.size());
            texts.push_back(Units(input.substr(std::min(from, input.size()), bar - std::min(from, input.size()))));
            from = bar + 1;
        }
        for (const std::wstring& a : texts) {
            for (const std::wstring& b : texts) {
                const int c = qel::CompareNatural(a.c_str(), b.c_str());
                if (c != ModelCompare(a, b) || qel::CompareNatural(b.c_str(), a.c_str()) != -c)
                    return "CompareNatural disagrees with the model";
            }
        }
        auto cmp = [&texts](int x, int y) { return qel::CompareNatural(texts[x].c_str(), texts[y].c_str()); };
        std::string broken = OrdersConsistently([&](int x, int y) { return cmp(x, y) < 0; },
                                                [&](int x, int y) { return cmp(x, y) == 0; });
        if (!broken.empty())
            return "names: " + broken;
        const std::vector<qel::CPath> paths = {qel::CPath(texts[0].c_str()), qel::CPath(texts[1].c_str()),
                                               qel::CPath(texts[0].c_str()) / texts[2].c_str()};
        for (const qel::CPath& path : paths) {
            broken = NormalisesOnce(path);
            if (!broken.empty())
                return "path '" + std::string(path.c_str(), path.c_str() + std::wcslen(path.c_str())) + "': " + broken;
        }
        broken = OrdersConsistently([&](int x, int y) { return paths[x] < paths[y]; },
                                    [&](int x, int y) { return paths[x] == paths[y]; });
        if (!broken.empty())
            return "paths: " + broken;
        return eslVerifyHeapChain(nullptr) ? "heap chain broken" : "";
    });
    EXPECT_EQ(0u, report.failures);
}
