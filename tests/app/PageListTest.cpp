#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PageList.h"
#include "esl_heap.h"
#include "esl/FileTestSupport.h"
#include "qel_picture.h"
#include "qel_susie.h"
#include "spi/TestPlugins.h"
#include "support/Mutator.h"

namespace {

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// The pages from the current one once around the circle.
std::vector<std::wstring> Pages(const PageList& list) {
    std::vector<std::wstring> pages;
    for (size_t i = 0; i < list.Count(); ++i)
        pages.push_back(list.PathAfter(i));
    return pages;
}

class PageListTest : public testing::Test {
protected:
    // Pictures are recognised by GDI+'s decoder extensions; "*.tqa" archives
    // are descriptions that the test plug-in serves.
    static void SetUpTestSuite() {
        qel::GDIPlus::Startup();
        qel::CSpiManager::Instance().RegisterPlugin(TestPluginPath(L"spi_archive").c_str());
    }

    void MakeFiles(const std::vector<std::string>& names) {
        for (const std::string& name : names)
            ScratchFolder::WriteBytes(folder_.File(name), "");
    }
    std::vector<std::wstring> InFolder(const std::vector<std::string>& names) const {
        std::vector<std::wstring> paths;
        for (const std::string& name : names)
            paths.push_back(Widen(folder_.File(name)));
        return paths;
    }
    std::wstring Folder() const { return Widen(folder_.Path()); }

    ScratchFolder folder_;
    PageList list_;
};

TEST_F(PageListTest, FolderInNaturalOrder) {
    MakeFiles({"page2.jpg", "page10.jpg", "Page1.jpg", "notes.txt", "h5.png", "x.sz7"});
    ::SetFileAttributesA(folder_.File("h5.png").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ::CreateDirectoryA(folder_.File("dir.jpg").c_str(), nullptr);  // a folder is no page
    ASSERT_EQ(4u, list_.Open(Folder().c_str()));
    EXPECT_EQ(InFolder({"h5.png", "Page1.jpg", "page2.jpg", "page10.jpg"}), Pages(list_));
    ::SetFileAttributesA(folder_.File("h5.png").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(PageListTest, NamesThatCompareEqualGiveOnePage) {
    MakeFiles({"p1.jpg", "p01.jpg"});
    ASSERT_EQ(1u, list_.Open(Folder().c_str()));
    // Which one depends on the order in which the folder search returns them.
    const std::vector<std::wstring> either = InFolder({"p1.jpg", "p01.jpg"});
    EXPECT_TRUE(list_.CurrentPath() == either[0] || list_.CurrentPath() == either[1]);
}

TEST_F(PageListTest, PictureAsStartIsCurrentAndTheCircleWraps) {
    MakeFiles({"a1.jpg", "a2.jpg", "a3.bmp"});
    const std::vector<std::wstring> page = InFolder({"a1.jpg", "a2.jpg", "a3.bmp"});
    // Given with slashes and a doubled separator: the same page after normalising.
    std::wstring start = Folder() + L"/.\\a2.JPG";
    ASSERT_EQ(3u, list_.Open(start.c_str()));
    EXPECT_EQ(page[1], list_.CurrentPath()) << "the picture's own letter case comes from the folder";
    EXPECT_EQ(page[0], list_.PathAfter(2));
    EXPECT_EQ(page[1], list_.PathAfter(3));
    EXPECT_EQ(page[0], list_.PathBefore(1));
    EXPECT_EQ(page[2], list_.PathBefore(2));
    EXPECT_EQ(page[1], list_.PathBefore(6));

    list_.Advance();
    list_.Advance();
    EXPECT_EQ(page[0], list_.CurrentPath());
    list_.Retreat();
    EXPECT_EQ(page[2], list_.CurrentPath());
    list_.EraseCurrent();  // the last one: the first follows
    EXPECT_EQ((std::vector<std::wstring>{page[0], page[1]}), Pages(list_));
    list_.EraseCurrent();
    list_.EraseCurrent();
    EXPECT_EQ(0u, list_.Count());
    EXPECT_EQ(nullptr, list_.CurrentPath());
    EXPECT_EQ(nullptr, list_.PathBefore(1));
}

TEST_F(PageListTest, ListFileLines) {
    // A line longer than 4095 bytes arrives in pieces, each a path of its own.
    const std::string longPicture = "D:\\" + std::string(4095 - 3 - 4, 'b') + ".jpg";
    const std::string longLine = longPicture + "tail.txt\r\n" + std::string(4095, 'c') + "D:\\cut.png\r\n";
    // A CR alone ends no line: the last path keeps it and is no picture.
    const std::string lines =
        "D:\\crlf.jpg\r\nD:\\lf.jpg\n\r\nD:\\notes.txt\r\n" + longLine + "D:\\sub\\..\\last.gif\r\nD:\\cr.jpg\r";
    struct Case {
        const char* fileName;
        std::string bytes;
        std::vector<std::wstring> pages;
    };
    const Case cases[] = {
        {"BOOK.SZ7", lines, {L"D:\\crlf.jpg", L"D:\\lf.jpg", Widen(longPicture), L"D:\\cut.png", L"D:\\last.gif"}},
        {"list.unknown", "D:\\a.jpg\r\n", {L"D:\\a.jpg"}},
        {"only-text.sz7", "D:\\a.txt\r\nD:\\b.doc", {}},
        {"empty.sz7", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileName);
        ScratchFolder::WriteBytes(folder_.File(c.fileName), c.bytes);
        PageList list;
        EXPECT_EQ(c.pages.size(), list.Open(Widen(folder_.File(c.fileName)).c_str()));
        EXPECT_EQ(c.pages, Pages(list));
    }
}

// Mutated list files: every page taken is a picture path with no line feed in it.
TEST_F(PageListTest, MutatedListFilesGivePicturesOnly) {
    const std::vector<std::string> corpus = {
        "D:\\a.jpg\r\nD:\\b\\c.png\r\nx.gif\n",
        "C:\\books\\" + std::string(4090, 'p') + ".bmp\r\nD:\\q.jpeg\r\n",
        "\\\\server\\share\\s.jpg\r\n..\\up.jpg\r\nD:/mixed\\sep.tif\r\n",
        "C:\\\x95\x5C\\\x83\x5C.jpg\r\nC:a\\.\\..\\b.png\r\n",
    };
    const std::string file = folder_.File("fuzz.sz7");
    fuzz::Report report = fuzz::Run("list-file", 1, 10000, corpus, [&](const std::string& input) -> std::string {
        ScratchFolder::WriteBytes(file, input);
        PageList list;
        if (list.Open(Widen(file).c_str()) != list.Count())
            return "the count differs from the list";
        for (const std::wstring& page : Pages(list)) {
            if (!qel::CPicture::IsSupported(page.c_str()))
                return "a page that is no picture";
            if (page.find(L'\n') != std::wstring::npos)
                return "a page with a line feed";
        }
        return eslVerifyHeapChain(nullptr) ? "heap chain broken" : "";
    });
    EXPECT_EQ(0u, report.failures);
}

// An empty list never falls back to the pictures of the working folder.
TEST_F(PageListTest, NothingUsableGivesNoPage) {
    MakeFiles({"readme.txt", "text.sz7", "a.jpg"});
    ScratchFolder::WriteBytes(folder_.File("text.sz7"), "a.txt\r\n");
    ::CreateDirectoryA(folder_.File("empty").c_str(), nullptr);
    char previous[MAX_PATH] = "";
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    ::SetCurrentDirectoryA(folder_.Path().c_str());
    for (const char* name : {"readme.txt", "text.sz7", "empty", "missing.sz7", "missing\\p.jpg"}) {
        SCOPED_TRACE(name);
        PageList list;
        EXPECT_EQ(0u, list.Open(Widen(folder_.File(name)).c_str()));
        EXPECT_EQ(0u, list.Count());
    }
    ::SetCurrentDirectoryA(previous);
}

// One entry of a test archive's description: folder inside it, name, data.
std::string Entry(const std::string& folder, const std::string& name) {
    return "e\ttst\t-\t-\t" + folder + "\t" + name + "\t-\tdata\n";
}

TEST_F(PageListTest, Archives) {
    ASSERT_TRUE(qel::CSpiManager::Instance().HasArchivePlugin(L"x.tqa"));
    ScratchFolder::WriteBytes(folder_.File("book.tqa"), Entry("", "b10.jpg") + Entry("", "b2.jpg") +
                                                            Entry("sub\\", "z.png") + Entry("sub\\", "notes.txt") +
                                                            Entry("sub\\deep\\", "c.jpg") + Entry("sub\\", "A.jpg"));
    const std::wstring book = Widen(folder_.File("book.tqa"));
    auto inBook = [&](std::vector<std::wstring> names) {
        for (std::wstring& name : names)
            name = book + L"\\" + name;
        return names;
    };
    struct Case {
        const char* name;
        std::wstring start;
        std::vector<std::wstring> pages;
    };
    const Case cases[] = {
        {"the whole archive in its own order", book,
         inBook({L"b10.jpg", L"b2.jpg", L"sub\\z.png", L"sub\\deep\\c.jpg", L"sub\\A.jpg"})},
        {"a folder inside, sorted", book + L"\\sub", inBook({L"sub\\A.jpg", L"sub\\z.png"})},
        {"a picture inside is current", book + L"/SUB/z.png", inBook({L"sub\\z.png", L"sub\\A.jpg"})},
        {"a picture at the top level", book + L"\\b2.jpg", {}},
        {"an unsupported file inside", book + L"\\sub\\notes.txt", {}},
        {"a folder without pictures", book + L"\\none", {}},
        {"an archive that is not there", Widen(folder_.File("gone.tqa\\sub\\z.png")), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PageList list;
        EXPECT_EQ(c.pages.size(), list.Open(c.start.c_str()));
        EXPECT_EQ(c.pages, Pages(list));
    }
}

}  // namespace
