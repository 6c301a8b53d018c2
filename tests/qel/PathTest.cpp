#include <gtest/gtest.h>

#include <string>

#include "qel_path.h"

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
        EXPECT_EQ(c.count, path.Count()) << c.rule;
        EXPECT_EQ(c.count == 0, path.IsEmpty()) << c.rule;
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
    EXPECT_EQ(5u, joined.Count());
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
    EXPECT_STREQ(L"C:\\books\\\\x", (folder / L"\\x").c_str());
    EXPECT_STREQ(L"x\\y", (qel::CPath(L'\\') / L"x/y").c_str()) << "an empty path takes the text alone";
    qel::CPath copy(qel::CPath(L"C:\\a\\b", L'/'));
    EXPECT_STREQ(L"C:/a/b/c", (copy / L"c").c_str());
    qel::CPath assigned(L'\\');
    assigned = copy;
    EXPECT_EQ(L'/', assigned.Separator());
    assigned = L"x/y";
    EXPECT_STREQ(L"x\\y", assigned.c_str()) << "wide text always gets the backslash";
    qel::CPath moved(std::move(copy));
    EXPECT_STREQ(L"C:/a/b", moved.c_str());
    EXPECT_TRUE(copy.IsEmpty()) << "a moved-from path reads as empty";  // NOLINT(bugprone-use-after-move)
}

TEST(CPath, FolderFileNameStemExtension) {
    // Longer than _MAX_FNAME and _MAX_EXT of the run-time library.
    const std::wstring name(600, L'n'), ext = L"." + std::wstring(400, L'e');
    const std::wstring cases[][5] = {
        {L"C:\\books\\a.jpg", L"C:\\books\\", L"a.jpg", L"a", L".jpg"},
        {L"archive.tar.gz", L"", L"archive.tar.gz", L"archive.tar", L".gz"},
        {L".hidden", L"", L".hidden", L"", L".hidden"},
        {L"\\\\server\\share\\x", L"\\\\server\\share\\", L"x", L"x", L""},
        {L"d.ir\\file", L"d.ir\\", L"file", L"file", L""},
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
    EXPECT_FALSE(qel::CPath(L"a.b") < qel::CPath(L"a\\b"));
}
