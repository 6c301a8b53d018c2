#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AnsiPath.h"
#include "PageList.h"
#include "qel/PictureTestSupport.h"
#include "qel_picture.h"

namespace {

// No code page has a snowman: a name with one cannot be written in 8 bits.
const std::wstring kSnowman = L"\u2603";

TEST(AnsiPathTest, OnlyTextThatComesBackUnchangedIsWritten) {
    const struct {
        std::wstring text;
        bool exact;
    } cases[] = {
        {L"C:\\books\\p01.png", true},
        {L"", true},
        {L"C:\\books\\a" + kSnowman + L".png", false},
        {L"C:\\" + kSnowman, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text.size() << " characters");
        std::string ansi = "old";
        EXPECT_EQ(c.exact, ToAnsiExactly(c.text.c_str(), ansi));
        EXPECT_EQ(c.exact ? std::string(c.text.begin(), c.text.end()) : "old", ansi);
    }
}

class PageListWriteTest : public picturetest::ScratchTest {
protected:
    static void SetUpTestSuite() { qel::GDIPlus::Startup(); }

    void MakePages(const std::vector<std::wstring>& names) {
        for (const std::wstring& name : names)
            picturetest::WriteBytes(In(name), {});
    }
    // The list file written by list_, as its lines.
    std::vector<std::string> Written() {
        const std::wstring path = In(L"out.sz7");
        list_.WriteList(path.c_str());
        const std::vector<std::uint8_t> bytes = picturetest::ReadBytes(path);
        std::string text(bytes.begin(), bytes.end());
        std::vector<std::string> lines;
        for (size_t end; (end = text.find("\r\n")) != std::string::npos; text.erase(0, end + 2))
            lines.push_back(text.substr(0, end));
        EXPECT_EQ("", text) << "every line ends with CR LF";
        return lines;
    }
    std::string Listed(const std::wstring& name) const {
        std::string ansi;
        EXPECT_TRUE(ToAnsiExactly(ShortPathOf(In(name).c_str()).c_str(), ansi));
        return ansi;
    }

    PageList list_;
};

TEST_F(PageListWriteTest, FromTheCurrentPageOnceAroundInShortForm) {
    MakePages({L"p1.bmp", L"p2.bmp", L"p3.bmp", L"long page name 4.bmp"});
    ASSERT_EQ(4u, list_.Open(In(L"p3.bmp").c_str()));
    EXPECT_EQ((std::vector<std::string>{Listed(L"p3.bmp"), Listed(L"long page name 4.bmp"), Listed(L"p1.bmp"),
                                        Listed(L"p2.bmp")}),
              Written());
}

TEST_F(PageListWriteTest, APathTheCodePageCannotHoldGoesByItsShortFormOrNotAtAll) {
    const std::wstring snowman = L"a" + kSnowman + L".bmp";
    MakePages({snowman, L"b.bmp"});
    ASSERT_EQ(2u, list_.Open(folder_.c_str()));
    const std::vector<std::string> lines = Written();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(Listed(snowman), lines[0]);
    EXPECT_EQ(::GetFileAttributesA(lines[0].c_str()), ::GetFileAttributesW(In(snowman).c_str()))
        << "the short form names the same file";

    // Gone from disk, it has no short form either.
    ASSERT_TRUE(::DeleteFileW(In(snowman).c_str()));
    EXPECT_EQ(std::vector<std::string>{Listed(L"b.bmp")}, Written());
}

TEST_F(PageListWriteTest, AnEmptyListLeavesAnEmptyFile) {
    MakePages({L"p1.bmp"});
    ASSERT_EQ(1u, list_.Open(folder_.c_str()));
    list_.EraseCurrent();
    picturetest::WriteBytes(In(L"out.sz7"), {'o', 'l', 'd'});
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(picturetest::ReadBytes(In(L"out.sz7")).empty());
}

}  // namespace
