#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "qel_path.h"

namespace {

std::vector<std::wstring> Components(const qel::CPath& path) {
    std::vector<std::wstring> out;
    for (size_t i = 0; i < path.Count(); ++i)
        out.push_back(path.Component(i).c_str());
    return out;
}

struct NormaliseCase {
    const char* rule;
    const wchar_t* input;
    std::vector<std::wstring> components;
    const wchar_t* text;
};

const NormaliseCase kNormaliseCases[] = {
    {"empty text", L"", {}, L""},
    {"one leading backslash", L"\\books\\x.jpg", {}, L""},
    {"one leading slash", L"/books/x.jpg", {}, L""},
    {"just a separator", L"\\", {}, L""},
    {"plain relative path", L"a\\b.jpg", {L"a", L"b.jpg"}, L"a\\b.jpg"},
    {"'.' and '..' resolve", L"C:\\a\\.\\b\\..\\c.jpg", {L"C:", L"a", L"c.jpg"}, L"C:\\a\\c.jpg"},
    {"mixed separators", L"C:\\a/b\\c", {L"C:", L"a", L"b", L"c"}, L"C:\\a\\b\\c"},
    {"drive root", L"C:\\", {L"C:"}, L"C:"},
    {"bare drive", L"C:", {L"C:"}, L"C:"},
    {"trailing separator dropped", L"C:\\books\\", {L"C:", L"books"}, L"C:\\books"},
    {"network path", L"\\\\server\\share\\x.jpg", {L"\\\\server", L"share", L"x.jpg"}, L"\\\\server\\share\\x.jpg"},
    {"network path with slashes", L"//server/share", {L"\\\\server", L"share"}, L"\\\\server\\share"},
    {"'..' above the start", L"a\\..\\..\\b", {}, L""},
    {"everything climbed away", L"a\\..", {}, L""},
    {"lone '.'", L".", {}, L""},
    {"trailing '.'", L"a\\.", {L"a"}, L"a"},
    {"two climbs", L"a\\b\\..\\..\\c", {L"c"}, L"c"},
    {"doubled separator gives an empty component", L"a\\\\b", {L"a", L"", L"b"}, L"a\\\\b"},
    {"doubled separator after a drive", L"C:\\\\a", {L"C:", L"", L"a"}, L"C:\\\\a"},
    // what the joined text would read as otherwise: it normalises to itself
    {"trailing doubled separator", L"a\\\\", {L"a"}, L"a"},
    {"an empty component exposed at the start", L"a\\..\\\\x", {L"x"}, L"x"},
    {"a drive exposed at the start", L"a\\..\\C:x", {L"C:", L"x"}, L"C:\\x"},
    {"a drive and '..' exposed at the start", L"a\\..\\C:..\\x", {L"x"}, L"x"},
    {"a backslash and a slash start a network path", L"\\/server\\x", {L"\\\\server", L"x"}, L"\\\\server\\x"},
    {"a network prefix alone", L"\\\\", {}, L""},
    {"drive-relative name", L"C:abc", {L"C:", L"abc"}, L"C:\\abc"},
    {"'.0' and '..0' are names", L"a\\.0\\..0", {L"a", L".0", L"..0"}, L"a\\.0\\..0"},
    {"dotted names stay", L"a\\...\\.hidden", {L"a", L"...", L".hidden"}, L"a\\...\\.hidden"},
    {"'..' after the network prefix", L"\\\\server\\..\\x", {L"\\\\x"}, L"\\\\x"},
    {"nothing left for the network prefix", L"\\\\server\\..", {}, L""},
    {"wide Japanese text", L"C:\\表\\ソ.jpg", {L"C:", L"表", L"ソ.jpg"}, L"C:\\表\\ソ.jpg"},
};

}  // namespace

TEST(CPath, NormalisesByEveryRule) {
    for (const NormaliseCase& c : kNormaliseCases) {
        SCOPED_TRACE(c.rule);
        qel::CPath path(c.input, L'\\');
        EXPECT_EQ(c.components, Components(path));
        EXPECT_STREQ(c.text, path.c_str());
        EXPECT_EQ(c.components.empty(), path.IsEmpty());
    }
}

TEST(CPath, ShiftJisTrailBytesAreNoSeparators) {
    // '表' is 0x95 0x5C and 'ソ' is 0x83 0x5C in code page 932.
    const char sjis[] = "C:\\表\\ソ.jpg";
    ASSERT_EQ(0x5C, static_cast<unsigned char>(sjis[4])) << "the source must be stored as Shift-JIS";
    qel::CPath path(sjis, L'\\');
    EXPECT_EQ((std::vector<std::wstring>{L"C:", L"表", L"ソ.jpg"}), Components(path));
    EXPECT_STREQ(L"ソ.jpg", path.FileName().c_str());
    EXPECT_STREQ(L"C:\\表\\", path.Folder().c_str());

    // A text ending in a trail byte 0x5C does not end in a separator.
    qel::CPath ends("books\\表", L'\\');
    EXPECT_EQ((std::vector<std::wstring>{L"books", L"表"}), Components(ends));

    qel::CPath joined = qel::CPath(L"C:\\books", L'\\') / "能\\ソ";
    EXPECT_EQ((std::vector<std::wstring>{L"C:", L"books", L"能", L"ソ"}), Components(joined));
    joined /= "表";
    EXPECT_STREQ(L"C:\\books\\能\\ソ\\表", joined.c_str());
}

TEST(CPath, SubHeadAndTail) {
    qel::CPath path(L"C:\\a\\b\\c.jpg", L'\\');
    ASSERT_EQ(4u, path.Count());
    EXPECT_STREQ(L"a\\b", path.Sub(1, 2).c_str());
    EXPECT_STREQ(L"b\\c.jpg", path.Sub(2, 100).c_str()) << "count cut to what remains";
    EXPECT_STREQ(L"", path.Sub(2, 0).c_str());
    EXPECT_STREQ(L"", path.Sub(4, 1).c_str()) << "start past the end";
    EXPECT_STREQ(L"C:\\a", path.Head(2).c_str());
    EXPECT_STREQ(L"C:\\a\\b\\c.jpg", path.Head(9).c_str());
    EXPECT_STREQ(L"c.jpg", path.Tail(1).c_str());
    EXPECT_STREQ(L"C:\\a\\b\\c.jpg", path.Tail(4).c_str());
    EXPECT_STREQ(L"", path.Tail(5).c_str()) << "more than Count";
    EXPECT_STREQ(L"", path.Tail(0).c_str());
    EXPECT_STREQ(L"", qel::CPath(L'\\').Head(1).c_str());
}

TEST(CPath, JoiningNormalisesAgain) {
    qel::CPath folder(L"C:\\books", L'\\');
    EXPECT_STREQ(L"C:\\books\\vol1\\001.jpg", (folder / L"vol1\\001.jpg").c_str());
    EXPECT_STREQ(L"C:\\x.jpg", (folder / L"..\\x.jpg").c_str());
    EXPECT_STREQ(L"", (folder / L"..\\..\\..").c_str()) << "climbing above the start";
    EXPECT_STREQ(L"C:\\books", (folder / L"").c_str());
    EXPECT_STREQ(L"C:\\books", (folder / static_cast<const wchar_t*>(nullptr)).c_str());
    EXPECT_EQ((std::vector<std::wstring>{L"C:", L"books", L"", L"x"}), Components(folder / L"\\x"))
        << "a text starting with a separator leaves an empty component";
    EXPECT_STREQ(L"x\\y", (qel::CPath(L'\\') / L"x/y").c_str()) << "an empty path takes the text alone";
    EXPECT_STREQ(L"", (qel::CPath(L'\\') / L"\\x").c_str());

    qel::CPath p(L"a", L'\\');
    p /= L"b";
    p /= L"..\\c";
    EXPECT_STREQ(L"a\\c", p.c_str());
}

TEST(CPath, CopiesAssignmentAndTheirSeparator) {
    qel::CPath slashed(L"C:\\a\\b", L'/');
    EXPECT_STREQ(L"C:/a/b/c", (slashed / L"c").c_str()) << "joined with its own separator";
    qel::CPath copy(slashed);
    EXPECT_STREQ(L"C:/a/b", copy.c_str());
    qel::CPath assigned(L'\\');
    assigned = slashed;
    EXPECT_EQ(L'/', assigned.Separator());
    assigned = L"x/y";
    EXPECT_STREQ(L"x\\y", assigned.c_str()) << "wide text always gets the backslash";

    qel::CPath moved(std::move(copy));
    EXPECT_STREQ(L"C:/a/b", moved.c_str());
    EXPECT_TRUE(copy.IsEmpty()) << "a moved-from path reads as empty";  // NOLINT(bugprone-use-after-move)
    copy = L"z";
    EXPECT_STREQ(L"z", copy.c_str());
}

TEST(CPath, FolderFileNameStemExtension) {
    struct Case {
        const wchar_t *path, *folder, *fileName, *stem, *extension;
    };
    const Case cases[] = {
        {L"C:\\books\\a.jpg", L"C:\\books\\", L"a.jpg", L"a", L".jpg"},
        {L"archive.tar.gz", L"", L"archive.tar.gz", L"archive.tar", L".gz"},
        {L".hidden", L"", L".hidden", L"", L".hidden"},
        {L"README", L"", L"README", L"README", L""},
        {L"", L"", L"", L"", L""},
        {L"\\\\server\\share\\x.jpg", L"\\\\server\\share\\", L"x.jpg", L"x", L".jpg"},
        {L"d.ir\\file", L"d.ir\\", L"file", L"file", L""},
        {L"C:\\list.SZ7", L"C:\\", L"list.SZ7", L"list", L".SZ7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "'" << c.path << "'");
        qel::CPath path(c.path, L'\\');
        EXPECT_EQ(std::wstring(c.folder) + L"|" + c.fileName + L"|" + c.stem + L"|" + c.extension,
                  std::wstring(path.Folder().c_str()) + L"|" + path.FileName().c_str() + L"|" + path.Stem().c_str() +
                      L"|" + path.Extension().c_str());
    }
    EXPECT_TRUE(qel::CPath(L"C:\\list.SZ7", L'\\').Extension() == L".sz7");
}

TEST(CPath, LongComponentsDoNotOverflowTheSplitter) {
    // Longer than _MAX_FNAME and _MAX_EXT of the run-time library.
    std::wstring name(600, L'n');
    std::wstring ext = L"." + std::wstring(400, L'e');
    qel::CPath path((L"C:\\" + name + ext).c_str(), L'\\');
    ASSERT_EQ(2u, path.Count());
    EXPECT_EQ(name + ext, std::wstring(path.FileName().c_str()));
    EXPECT_EQ(name, std::wstring(path.Stem().c_str()));
    EXPECT_EQ(ext, std::wstring(path.Extension().c_str()));
}

TEST(CPath, EqualityAndOrderGoByComponent) {
    EXPECT_TRUE(qel::CPath(L"C:\\Books\\IMG1.jpg") == qel::CPath(L"c:/books/img01.JPG"));
    EXPECT_TRUE(qel::CPath(L"a\\b") < qel::CPath(L"a\\b\\c")) << "the shorter path first";
    EXPECT_TRUE(qel::CPath(L"a9\\x") < qel::CPath(L"a10\\x"));
    EXPECT_TRUE(qel::CPath(L"a\\z") < qel::CPath(L"b")) << "the first component decides";
    // Component-wise, not on the joined text: '\' (92) sorts after '.' (46).
    EXPECT_TRUE(qel::CPath(L"a\\b") < qel::CPath(L"a.b"));
    EXPECT_FALSE(qel::CPath(L"a.b") < qel::CPath(L"a\\b"));
}
