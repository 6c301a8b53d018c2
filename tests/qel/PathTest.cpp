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
        {"'_' (95) before 'A' (65), which folds to 'a' (97)", L"_", L"A", -1},
        {"'Z' folds above '_'", L"Z", L"_", 1},
        {"32-bit wrap: 2^32 + 5 is 5", L"n4294967301", L"n5", 0},
        {"no folding outside ASCII", L"\u00C4", L"\u00E4", -1},
        {"full-width digits are text, not numbers", L"a\uFF11\uFF10", L"a\uFF19", -1},
        {"code units, not code points: a surrogate before U+FFFD", L"\U0001F600", L"\uFFFD", -1},
        {"null is empty, and so is a lone 0", nullptr, L"0", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, qel::CompareNatural(c.a, c.b)) << c.name;
        EXPECT_EQ(-c.expected, qel::CompareNatural(c.b, c.a)) << c.name << ", swapped";
    }
    EXPECT_TRUE(qel::CWString(L"page9") < L"Page10" && qel::CWString(L"SPI") == L"spi");
}

// Copies are checked through CPath's, eight-bit text in its Shift-JIS test.
TEST(CWString, TextIsNeverNullAndSurvivesItsOwnAppend) {
    qel::CWString a(static_cast<const char*>(nullptr)), b(static_cast<const wchar_t*>(nullptr)), c(L"ab", 1);
    qel::CWString moved(std::move(c));
    EXPECT_TRUE(a.c_str() && b.c_str() && c.c_str() && !*a.c_str() && !*b.c_str() && !*c.c_str());  // NOLINT
    c += moved + L'b' + static_cast<const wchar_t*>(nullptr);
    c += c;  // the buffer moves while its own text is appended
    c = c;   // self-assignment keeps the text
    EXPECT_STREQ(L"abab", c.c_str());
}

TEST(CPath, NormalisesByEveryRule) {
    const struct {
        const char* rule;
        const wchar_t *input, *text;
        size_t count;  // of components
    } cases[] = {
        {"empty text", L"", L"", 0},
        {"one leading separator", L"/books/x.jpg", L"", 0},
        {"'.' and '..' resolve", L"C:\\a\\.\\b\\..\\c.jpg", L"C:\\a\\c.jpg", 3},
        {"mixed separators, one kept", L"C:\\a/b\\c/", L"C:\\a\\b\\c", 4},
        {"drive root", L"C:\\", L"C:", 1},
        {"network path", L"//server\\share", L"\\\\server\\share", 2},
        {"'..' above the start", L"a\\..\\..\\b", L"", 0},
        {"everything climbed away", L"a\\.\\..", L"", 0},
        {"doubled separator gives an empty component", L"a\\\\b", L"a\\\\b", 3},
        {"doubled separator after a drive", L"C:\\\\a", L"C:\\\\a", 3},
        {"trailing doubled separator", L"a\\\\", L"a", 1},
        // what the joined text would read as otherwise: it normalises to itself
        {"an empty component exposed at the start", L"a\\..\\\\x", L"x", 1},
        {"a drive exposed at the start", L"a\\..\\C:x", L"C:\\x", 2},
        {"a drive and '..' exposed at the start", L"a\\..\\C:..\\x", L"x", 1},
        {"a backslash and a slash start a network path", L"\\/server\\x", L"\\\\server\\x", 2},
        {"a network prefix alone", L"\\\\", L"", 0},
        {"drive-relative name", L"C:abc", L"C:\\abc", 2},
        {"'.0', '..0' and dotted names are names", L"a\\.0\\..0\\...\\.h", L"a\\.0\\..0\\...\\.h", 5},
        {"'..' after the network prefix", L"\\\\server\\..\\x", L"\\\\x", 1},
        {"nothing left for the network prefix", L"\\\\server\\..", L"", 0},
    };
    for (const auto& c : cases) {
        const qel::CPath path(c.input, L'\\');
        EXPECT_STREQ(c.text, path.c_str()) << c.rule;
        EXPECT_TRUE(c.count == path.Count() && (c.count == 0) == path.IsEmpty()) << c.rule;
    }
}

// Eight-bit text is in the ANSI code page, where the trail byte of '表'
// (0x95 0x5C) and of 'ソ' (0x83 0x5C) is a backslash.
TEST(CPath, ShiftJisTrailBytesAreNoSeparators) {
    ASSERT_EQ(0x5C, static_cast<unsigned char>("表"[1])) << "the source must be stored as Shift-JIS";
    EXPECT_STREQ(L"表", qel::CPath("books\\表", L'\\').Component(1).c_str());
    qel::CPath joined = qel::CPath("C:\\表", L'\\') / "能\\ソ";
    joined /= "表";
    EXPECT_STREQ(L"C:\\表\\能\\ソ\\表", joined.c_str());
}

TEST(CPath, PartsAndJoinsWithTheOwnSeparator) {
    const qel::CPath folder(L"C:\\books", L'\\'), path(L"C:\\a\\b\\c.jpg", L'\\');
    EXPECT_STREQ(L"a\\b", path.Sub(1, 2).c_str());
    EXPECT_STREQ(L"b\\c.jpg", path.Sub(2, 100).c_str()) << "cut to what there is";
    EXPECT_STREQ(L"", path.Sub(4, 1).c_str());
    EXPECT_STREQ(L"C:\\a\\b\\c.jpg", path.Head(9).c_str());
    EXPECT_STREQ(L"C:\\a\\b\\c.jpg", path.Tail(4).c_str());
    EXPECT_STREQ(L"", path.Tail(5).c_str()) << "more than Count";
    EXPECT_STREQ(L"", path.Tail(0).c_str());
    EXPECT_STREQ(L"C:\\books\\vol1\\001.jpg", (folder / L"vol1/001.jpg").c_str());
    EXPECT_STREQ(L"C:\\x.jpg", (folder / L"..\\x.jpg").c_str());
    EXPECT_STREQ(L"", (folder / L"..\\..\\..").c_str()) << "climbing above the start";
    EXPECT_STREQ(L"x\\y", (qel::CPath(L'\\') / L"x/y").c_str()) << "an empty path takes the text alone";
    qel::CPath copy(qel::CPath(L"C:\\a\\b", L'/'));
    EXPECT_STREQ(L"C:/a/b/c", (copy / L"c").c_str());
    qel::CPath assigned(L'\\');
    assigned = copy;
    EXPECT_EQ(L'/', assigned.Separator());
    assigned = L"x/y";
    EXPECT_STREQ(L"x\\y", assigned.c_str()) << "wide text always gets the backslash";
    qel::CPath moved(std::move(copy));
    EXPECT_TRUE(copy.IsEmpty() && moved == qel::CPath(L"C:/a/b")) << "a moved-from path is empty";  // NOLINT
}

TEST(CPath, FolderFileNameStemExtension) {
    // Longer than _MAX_FNAME and _MAX_EXT of the run-time library.
    const std::wstring name(600, L'n'), ext = L"." + std::wstring(400, L'e');
    const std::wstring cases[][5] = {
        {L"C:\\books\\a.jpg", L"C:\\books\\", L"a.jpg", L"a", L".jpg"},
        {L"archive.tar.gz", L"", L"archive.tar.gz", L"archive.tar", L".gz"},
        {L".hidden", L"", L".hidden", L"", L".hidden"},
        {L"\\\\server\\share\\x", L"\\\\server\\share\\", L"x", L"x", L""},
        {L"C:\\" + name + ext, L"C:\\", name + ext, name, ext},
    };
    for (const auto& c : cases) {
        const qel::CPath path(c[0].c_str(), L'\\');
        EXPECT_EQ(c[1] + L"|" + c[2] + L"|" + c[3] + L"|" + c[4],
                  std::wstring(path.Folder().c_str()) + L"|" + path.FileName().c_str() + L"|" + path.Stem().c_str() +
                      L"|" + path.Extension().c_str());
    }
}

TEST(CPath, EqualityAndOrderGoByComponent) {
    EXPECT_TRUE(qel::CPath(L"C:\\Books\\IMG1.jpg") == qel::CPath(L"c:/books/img01.JPG"));
    EXPECT_TRUE(qel::CPath(L"a\\b") < qel::CPath(L"a\\b\\c")) << "the shorter path first";
    EXPECT_TRUE(qel::CPath(L"a9\\z") < qel::CPath(L"a10\\a")) << "the first component decides";
    // Component-wise, not on the joined text: '\' (92) sorts after '.' (46).
    EXPECT_TRUE(qel::CPath(L"a\\b") < qel::CPath(L"a.b"));
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
