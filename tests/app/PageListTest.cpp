// The page list over folders, archives and list files, and the list it writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AnsiPath.h"
#include "PageList.h"
#include "esl/FileTestSupport.h"
#include "esl_heap.h"
#include "qel/PictureTestSupport.h"
#include "qel_picture.h"
#include "qel_susie.h"
#include "spi/TestPlugins.h"
#include "support/Mutator.h"

namespace {

using Names = std::vector<std::wstring>;

Names Under(const std::wstring& folder, Names names) {
    for (std::wstring& name : names)
        name = folder + L"\\" + name;
    return names;
}

class PageListTest : public testing::Test {
protected:
    // Pictures are known by GDI+'s decoder extensions; "*.tqa" archives are
    // descriptions that the test plug-in serves.
    static void SetUpTestSuite() {
        qel::GDIPlus::Startup();
        qel::CSpiManager::Instance().RegisterPlugin(TestPluginPath(L"spi_archive").c_str());
    }
    std::wstring In(const std::wstring& name) const { return folder_ + L"\\" + name; }
    void Make(const Names& names, const std::string& bytes = "") {
        for (const std::wstring& name : names)
            picturetest::WriteBytes(In(name), {bytes.begin(), bytes.end()});
    }
    // The pages from the one current once around the circle.
    Names Open(const std::wstring& path) {
        PageList list;
        Names pages(list.Open(path.c_str()));
        EXPECT_EQ(pages.size(), list.Count());
        for (size_t i = 0; i < list.Count(); ++i)
            pages[i] = list.PathAfter(i);
        return pages;
    }
    // The list file written, and the one expected: short forms, CR LF after each.
    std::string Written(const PageList& list) {
        list.WriteList(In(L"out.sz7").c_str());
        const std::vector<std::uint8_t> bytes = picturetest::ReadBytes(In(L"out.sz7"));
        return std::string(bytes.begin(), bytes.end());
    }
    std::string Listed(const Names& names) const {
        std::string text, line;
        for (const std::wstring& name : names) {
            EXPECT_TRUE(ToAnsiExactly(ShortPathOf(In(name).c_str()).c_str(), line));
            text += line + "\r\n";
        }
        return text;
    }

    ScratchFolder scratch_;
    const std::wstring folder_ = std::wstring(scratch_.Path().begin(), scratch_.Path().end());
};

// A folder's pictures in natural order, hidden ones too, from the picture
// given, which is found in any letter case and form; the list written from
// there, each page by its short form, a name that the code page cannot hold
// too, but not once gone from disk.
TEST_F(PageListTest, FolderAroundTheCircleAndWritten) {
    const std::wstring snowman = L"q\u2603.bmp";  // no code page has a snowman
    Make({L"page2.jpg", L"page10.jpg", L"Page1.jpg", L"notes.txt", L"h5.png", L"x.sz7", L"long name 4.bmp", snowman});
    ::SetFileAttributesW(In(L"h5.png").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ::CreateDirectoryW(In(L"dir.jpg").c_str(), nullptr);  // a folder is no page
    const Names names = {L"page2.jpg", L"page10.jpg", snowman, L"h5.png", L"long name 4.bmp", L"Page1.jpg"};
    EXPECT_EQ(Under(folder_, names), Open(folder_ + L"/.\\PAGE2.JPG"));
    PageList list;
    ASSERT_EQ(6u, list.Open(In(L"page2.jpg").c_str()));
    EXPECT_EQ(Listed(names), Written(list));
    const std::string shortForm = Listed({snowman});
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(shortForm.substr(0, shortForm.size() - 2).c_str()));
    EXPECT_EQ(In(L"Page1.jpg"), list.PathBefore(1));
    EXPECT_EQ(In(L"long name 4.bmp"), list.PathBefore(8));
    ASSERT_TRUE(::DeleteFileW(In(snowman).c_str()));
    for (int i = 0; i < 3; ++i)
        list.Advance();
    list.Retreat();
    EXPECT_EQ(Listed({L"h5.png", L"long name 4.bmp", L"Page1.jpg", L"page2.jpg", L"page10.jpg"}), Written(list));
    list.EraseCurrent();  // the last one: the first follows
    EXPECT_EQ(In(L"h5.png"), list.CurrentPath());
    for (int i = 0; i < 5; ++i)
        list.EraseCurrent();
    EXPECT_EQ(nullptr, list.PathBefore(1));
    EXPECT_EQ("", Written(list)) << "an empty list leaves an empty file";
}

// Every page taken from a mutated list file is a picture path with no line feed.
TEST_F(PageListTest, MutatedListFilesGivePicturesOnly) {
    const std::vector<std::string> corpus = {
        "D:\\a.jpg\r\nD:\\b\\c.png\r\nx.gif\n",
        "C:\\books\\" + std::string(4090, 'p') + ".bmp\r\nD:\\q.jpeg\r\n",
        "\\\\server\\share\\s.jpg\r\n..\\up.jpg\r\nD:/mixed\\sep.tif\r\n",
        "C:\\\x95\x5C\\\x83\x5C.jpg\r\nC:a\\.\\..\\b.png\r\n",
    };
    fuzz::Report report = fuzz::Run("list-file", 1, 5000, corpus, [&](const std::string& input) -> std::string {
        Make({L"fuzz.sz7"}, input);
        for (const std::wstring& page : Open(In(L"fuzz.sz7"))) {
            if (!qel::CPicture::IsSupported(page.c_str()) || page.find(L'\n') != std::wstring::npos)
                return "a page that is no picture, or with a line feed";
        }
        return eslVerifyHeapChain(nullptr) ? "heap chain broken" : "";
    });
    EXPECT_EQ(0u, report.failures);
}

// What each start path gives. List files: CR LF and LF end a line, a CR alone
// none (the last path keeps it); a line longer than 4095 bytes arrives in
// pieces, each a path of its own. Nothing usable gives no page, never the
// pictures of the working folder; nor does a picture at the top of an
// archive, which is no folder of it.
TEST_F(PageListTest, WhatEachStartGives) {
    const std::string longPicture = "D:\\" + std::string(4095 - 3 - 4, 'b') + ".jpg";
    Make({L"BOOK.SZ7"}, "D:\\crlf.jpg\r\nD:\\lf.jpg\n\r\nD:\\notes.txt\r\n" + longPicture + "tail.txt\r\n" +
                            std::string(4095, 'c') + "D:\\cut.png\r\nD:\\sub\\..\\last.gif\r\nD:\\cr.jpg\r");
    Make({L"list.unknown"}, "D:\\a.jpg\r\n");
    Make({L"text.sz7"}, "a.txt\r\nb.doc");
    Make({L"readme.txt", L"a.jpg"});
    ::CreateDirectoryW(In(L"empty").c_str(), nullptr);
    std::string entries;  // of a test archive's description: each one's folder inside, name
    for (const char* entry :
         {"\tb10.jpg", "\tb2.jpg", "sub\\\tz.png", "sub\\\tnotes.txt", "sub\\deep\\\tc.jpg", "sub\\\tA.jpg"})
        entries += "e\ttst\t-\t-\t" + std::string(entry) + "\t-\tdata\n";
    Make({L"book.tqa"}, entries);
    const std::wstring book = In(L"book.tqa");
    const std::pair<std::wstring, Names> cases[] = {
        {In(L"BOOK.SZ7"),
         {L"D:\\crlf.jpg", L"D:\\lf.jpg", std::wstring(longPicture.begin(), longPicture.end()), L"D:\\cut.png",
          L"D:\\last.gif"}},
        {In(L"list.unknown"), {L"D:\\a.jpg"}},
        // An archive in its own order, a folder inside it sorted.
        {book, Under(book, {L"b10.jpg", L"b2.jpg", L"sub\\z.png", L"sub\\deep\\c.jpg", L"sub\\A.jpg"})},
        {book + L"\\sub", Under(book, {L"sub\\A.jpg", L"sub\\z.png"})},
        {book + L"\\b2.jpg", {}},
        {book + L"\\sub\\notes.txt", {}},
        {In(L"gone.tqa\\sub\\z.png"), {}},
        {In(L"readme.txt"), {}},
        {In(L"text.sz7"), {}},
        {In(L"empty"), {}},
        {In(L"missing\\p.jpg"), {}},
    };
    wchar_t previous[MAX_PATH] = L"";
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ::SetCurrentDirectoryW(folder_.c_str());
    for (const auto& c : cases)
        EXPECT_EQ(c.second, Open(c.first)) << c.first;
    ::SetCurrentDirectoryW(previous);
}

}  // namespace
