#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "esl/FileTestSupport.h"
#include "esl_handle.h"
#include "qel/Thrown.h"
#include "qel_archive.h"
#include "qel_file.h"
#include "qel_susie.h"
#include "spi/TestPlugins.h"
#include "spi/spi_archive.h"

namespace {

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// One entry line of a description (spi/spi_archive.h).
std::string E(const std::string& path, const std::string& name, const std::string& data, const char* flags = "-",
              const char* position = "-", const char* size = "-", const char* method = "tst") {
    return std::string("e\t") + method + "\t" + position + "\t" + size + "\t" + path + "\t" + name + "\t" + flags +
           "\t" + data + "\n";
}

// The bytes of data "*N" of the entry at a position.
std::string Pattern(uint32_t position, size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i)
        bytes[i] = char(TestArchiveByte(position, i));
    return bytes;
}

std::string Extracted(const qel::CArchive& archive, const std::wstring& name) {
    std::string bytes(archive.GetFileSize(name.c_str()), '\0');
    archive.Extract(name.c_str(), &bytes[0], bytes.size());
    return bytes;
}

size_t FileCount(const std::string& folder) {
    size_t n = 0;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((folder + "\\*.tqa").c_str(), &data);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = ::FindNextFileA(find, &data))
        ++n;
    if (find != INVALID_HANDLE_VALUE)
        ::FindClose(find);
    return n;
}

// Descriptions in a scratch folder, read by the test plug-in, which the
// process registry holds from the first test on.
class ArchiveTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        qel::CSpiManager& registry = qel::CSpiManager::Instance();
        registry.RegisterPlugin(TestPluginPath(L"spi_archive").c_str());
        qel::CSpi* spi = registry.FindArchivePlugin(L"x.tqa");
        calls_ = spi ? TestPluginProc<TestArchiveCallsProc>(spi->Module(), "TestArchiveCalls") : nullptr;
    }
    void SetUp() override { ASSERT_NE(nullptr, calls_) << "spi_archive is not registered"; }

    std::wstring Write(const std::string& name, const std::string& description) const {
        ScratchFolder::WriteBytes(folder_.File(name), description);
        return Wide(folder_.File(name));
    }
    // Calls of one kind the plug-in has answered so far.
    static int CallCount(int which) { return calls_(which); }

    static inline TestArchiveCallsProc calls_ = nullptr;
    ScratchFolder folder_;
};

struct ListingCase {
    const char* name;
    std::string description;
    std::vector<std::wstring> list;
    std::vector<std::pair<std::wstring, std::string>> reads;
    std::string thrown = "no exception";
    const char* file = "book.tqa";
};

const std::string kLong(250, 'n');
const std::string kLongPath(250, 'p');

const ListingCase kListings[] = {
    {"a name is found whatever its case and separator",
     E("img\\", "001.jpg", "one") + E("", "Cover.JPG", "two"),
     {L"img\\001.jpg", L"Cover.JPG"},
     {{L"IMG/001.JPG", "one"}, {L"img\\.\\001.jpg", "one"}, {L"cover.jpg", "two"}}},
    {"a folder entry is neither listed nor asked for again",
     E("img\\", "", "", "q") + E("img\\", "a.jpg", "x"),
     {L"img\\a.jpg"},
     {{L"img\\a.jpg", "x"}}},
    {"the first entry of a path wins",
     E("", "a.jpg", "first") + E("", "A.JPG", "second"),
     {L"a.jpg", L"A.JPG"},
     {{L"A.jpg", "first"}}},
    {"position or size 0 is asked for again",
     E("d\\", "p.jpg", "pos", "-", "0") + E("d\\", "s.jpg", "size", "-", "-", "0"),
     {L"d\\p.jpg", L"d\\s.jpg"},
     {{L"d\\p.jpg", "pos"}, {L"d\\s.jpg", "size"}}},
    {"an empty file", E("", "empty.jpg", ""), {L"empty.jpg"}, {{L"empty.jpg", ""}}},
    {"428-byte records",
     "stride\t428\n" + E("img\\", "001.jpg", "one") + E("", "b.jpg", "*3000", "-", "-", "0"),
     {L"img\\001.jpg", L"b.jpg"},
     {{L"img\\001.jpg", "one"}, {L"b.jpg", Pattern(2, 3000)}}},
    {"428-byte records in a block with room to spare",
     "stride\t428\nblock\t100\n" + E("img\\", "1.jpg", "one", "-", "-", "-", "abcdefgh") +
         E("", "2.jpg", "two", "-", "-", "-", "abcdefgh"),
     {L"img\\1.jpg", L"2.jpg"},
     {{L"2.jpg", "two"}}},
    {"no terminating record",
     "noterm\n" + E("", "a.jpg", "a") + E("", "b.jpg", "b"),
     {L"a.jpg", L"b.jpg"},
     {{L"b.jpg", "b"}}},
    {"a record that does not fit in the block ends the walk",
     "block\t-433\n" + E("", "a.jpg", "a") + E("", "b.jpg", "b") + E("", "c.jpg", "c"),
     {L"a.jpg", L"b.jpg"},
     {{L"b.jpg", "b"}}},
    {"names end at their 200-byte field, also when asked for again",
     E(kLongPath, kLong, "long", "-", "-", "0") + E("", "a.jpg", "a"),
     {Wide(kLongPath.substr(0, 200) + "\\" + kLong.substr(0, 200)), L"a.jpg"},
     {{Wide(kLongPath.substr(0, 200) + "\\" + kLong.substr(0, 200)), "long"}}},
    {"no plug-in for the extension", E("", "a.jpg", "a"), {}, {}, "qel_archive(73)\n_pSpi == NULL", "book.zzz"},
    {"the plug-in rejects the file",
     "not a description\n",
     {},
     {},
     "qel_archive(84)\n_pSpi->GetArchiveInfo(_filePath, 0, 0x0000, &hArchiveInfo)"},
    {"the plug-in answers success with no block",
     "nohandle\n",
     {},
     {},
     "qel_archive(85)\nhArchiveInfo == NULL || ::LocalFlags(hArchiveInfo) == LMEM_INVALID_HANDLE"},
    {"an entry asked for again is not found", E("", "a.jpg", "a") + E("", "b.jpg", "b", "q", "0"), {}, {}, "int -1"},
};

TEST_F(ArchiveTest, ListsAndReadsTheRecordsOfEitherStride) {
    for (const ListingCase& c : kListings) {
        SCOPED_TRACE(c.name);
        std::vector<std::wstring> list;
        std::vector<std::string> reads;
        EXPECT_EQ(c.thrown, Thrown([&] {
                      qel::CArchive archive(Write(c.file, c.description).c_str());
                      for (const qel::CPath& path : archive.GetFileList())
                          list.push_back(path.c_str());
                      for (const auto& read : c.reads)
                          reads.push_back(Extracted(archive, read.first));
                      EXPECT_FALSE(archive.Contains(L"missing.jpg"));
                  }));
        EXPECT_EQ(c.list, list);
        for (size_t i = 0; i < reads.size(); ++i)
            EXPECT_EQ(c.reads[i].second, reads[i]);
    }
}

// Listing blocks mutated from valid ones of either stride (fixed seed): each
// opens or throws, and what opens lists only names it can find again.
TEST_F(ArchiveTest, MutatedListingsOpenOrFailCleanly) {
    qel::CSpi* spi = qel::CSpiManager::Instance().FindArchivePlugin(L"x.tqa");
    std::vector<std::string> seeds;
    for (const char* stride : {"432", "428"}) {
        Write("seed.tqa", std::string("stride\t") + stride + "\n" + E("img\\", "001.jpg", "a") + E("", "b.jpg", "bb") +
                              E("x\\y\\", "c.jpg", "ccc"));
        HLOCAL h = nullptr;
        ASSERT_EQ(0, spi->GetArchiveInfo(folder_.File("seed.tqa").c_str(), 0, 0, &h));
        esl::UniqueLocal block(h);
        seeds.emplace_back(static_cast<const char*>(esl::LocalLockGuard<>(h).get()), ::LocalSize(h));
    }
    const std::wstring path = Write("hostile.tqa", "raw\t@raw.bin\n");
    std::mt19937 random(58);
    auto below = [&](size_t n) { return n ? size_t(random() % n) : 0; };
    for (int i = 0; i < 400; ++i) {
        std::string block = seeds[size_t(i) % seeds.size()];
        switch (i % 4) {
        case 0:  // bytes changed anywhere
            for (size_t n = 1 + below(8); n > 0; --n)
                block[below(block.size())] = char(random());
            break;
        case 1:  // cut short
            block.resize(below(block.size()));
            break;
        case 2:  // a name field filled, with no NUL
            block.replace(std::min(block.size(), below(block.size())), 200, 200, 'N');
            break;
        default:  // bytes after the end
            block.append(1 + below(500), char(random()));
        }
        SCOPED_TRACE(i);
        ScratchFolder::WriteBytes(folder_.File("raw.bin"), block);
        try {
            qel::CArchive archive(path.c_str());
            EXPECT_LE(archive.GetFileList().size(), block.size() / kSpiFileInfoSize32);
            for (const qel::CPath& name : archive.GetFileList()) {
                EXPECT_TRUE(archive.Contains(name.c_str()));
                EXPECT_FALSE(name.IsEmpty());
                EXPECT_LE(wcslen(name.c_str()), 401u);
            }
        } catch (const qel::CException&) {
        } catch (int) {
        }
    }
}

// Every failure comes before a byte is copied, and the plug-in's block is
// freed on every path.
TEST_F(ArchiveTest, ExtractRefusesWhatItCannotCopyWhole) {
    qel::CArchive archive(Write("book.tqa", E("", "ok.jpg", "ok!") + E("", "x.jpg", "abc", "x") +
                                                E("", "n.jpg", "abc", "n") + E("", "f.jpg", "abc", "f") +
                                                E("", "s.jpg", "abc", "s") + E("", "empty.jpg", ""))
                              .c_str());
    const struct {
        const wchar_t* name;
        size_t bufferSize;
        int fileCalls;  // GetFile calls made
        std::string thrown;
    } cases[] = {
        {L"missing.jpg", 16, 0, "qel_archive(168)\nitr == m_pInner->_fileInfoMap.end()"},
        {L"ok.jpg", 2, 0, "qel_archive(169)\nbufferSize < itr->second._size"},
        {L"empty.jpg", 0, 0, "no exception"},
        {L"x.jpg", 16, 1,
         "qel_archive(177)\nm_pInner->_pSpi->GetFile(src, len, reinterpret_cast<LPSTR>(&hFileData), 0x0100)"},
        {L"n.jpg", 16, 1, "qel_archive(178)\nhFileData == NULL"},
        {L"f.jpg", 16, 1, "qel_archive(179)\n::LocalFlags(hFileData) == LMEM_INVALID_HANDLE"},
        {L"s.jpg", 16, 1, "qel_archive(180)\n::LocalSize(hFileData) < itr->second._size"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.name, c.name + wcslen(c.name)));
        std::string buffer(16, '\xCC');
        const int before = CallCount(kTestFileCalls);
        EXPECT_EQ(c.thrown, Thrown([&] { archive.Extract(c.name, &buffer[0], c.bufferSize); }));
        EXPECT_EQ(c.fileCalls, CallCount(kTestFileCalls) - before);
        EXPECT_EQ(std::string(16, '\xCC'), buffer);
    }
    EXPECT_EQ("qel_archive(154)\nitr == m_pInner->_fileInfoMap.end()",
              Thrown([&] { archive.GetFileSize(L"missing.jpg"); }));
}

TEST_F(ArchiveTest, SeparateArcPathSplitsAtTheLongestArchivePrefix) {
    const struct {
        const wchar_t* path;
        const wchar_t* arcPath;  // null: not split
        const wchar_t* filePath;
    } cases[] = {
        {L"D:\\books\\vol1.tqa\\img\\001.jpg", L"D:\\books\\vol1.tqa", L"img\\001.jpg"},
        {L"D:/a.TQA/b.tqa/c.jpg", L"D:\\a.TQA\\b.tqa", L"c.jpg"},
        {L"D:\\a.tqa\\b.tqa", L"D:\\a.tqa", L"b.tqa"},
        {L"book.tqa", nullptr, nullptr},
        {L"D:\\book.tqa", nullptr, nullptr},
        {L"D:\\books\\001.jpg", nullptr, nullptr},
        {L"", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.path, c.path + wcslen(c.path)));
        qel::CPath arcPath(L"unchanged"), filePath(L"unchanged");
        EXPECT_EQ(c.arcPath != nullptr, qel::CArchiveManager::SeparateArcPath(c.path, arcPath, filePath));
        EXPECT_STREQ(c.arcPath ? c.arcPath : L"unchanged", arcPath.c_str());
        EXPECT_STREQ(c.filePath ? c.filePath : L"unchanged", filePath.c_str());
    }
}

TEST_F(ArchiveTest, GetArchiveCachesOnlyWhatOpens) {
    qel::CArchiveManager manager;
    const std::wstring path = Wide(folder_.File("later.tqa"));
    EXPECT_EQ(nullptr, manager.GetArchive(path.c_str())) << "missing";
    Write("later.tqa", E("", "a.jpg", "a"));
    qel::CArchive* archive = manager.GetArchive(path.c_str());
    ASSERT_NE(nullptr, archive) << "a failure is not cached";
    const int listed = CallCount(kTestArchiveInfoCalls);
    EXPECT_EQ(archive, manager.GetArchive(path.c_str()));
    EXPECT_EQ(listed, CallCount(kTestArchiveInfoCalls)) << "a hit reads nothing";
    EXPECT_EQ(nullptr, manager.GetArchive(Write("book.txt", E("", "a.jpg", "a")).c_str())) << "not an archive path";

    // A folder named like an archive: its files are read from disk, and the
    // plug-in refuses the folder.
    const std::string books = folder_.File("books.tqa");
    ASSERT_TRUE(::CreateDirectoryA(books.c_str(), nullptr) && ::CreateDirectoryA((books + "\\vol1").c_str(), nullptr));
    ScratchFolder::WriteBytes(books + "\\vol1\\001.jpg", "on disk");
    char bytes[7] = {};
    qel::ReadWholeFile(Wide(books + "\\vol1\\001.jpg").c_str(), bytes, sizeof(bytes));
    EXPECT_EQ("on disk", std::string(bytes, sizeof(bytes)));
    EXPECT_EQ(nullptr, manager.GetArchive(Wide(books).c_str()));
}

TEST_F(ArchiveTest, AnArchiveInsideAnArchiveOpensFromATemporaryCopy) {
    const std::string temp = folder_.File("temp");
    ASSERT_TRUE(::CreateDirectoryA(temp.c_str(), nullptr));
    Write("inner.txt", "stride\t428\n" + E("img\\", "001.jpg", "*5000"));
    const std::wstring outer =
        Write("outer.tqa", E("", "inner.tqa", "@inner.txt") + E("", "broken.tqa", "@inner.txt", "x"));
    // The manager takes its temporary folder from the environment when it is made.
    char old[MAX_PATH + 1] = "";
    ::GetEnvironmentVariableA("TMP", old, MAX_PATH);
    ::SetEnvironmentVariableA("TMP", (temp + "\\").c_str());
    auto manager = std::make_unique<qel::CArchiveManager>();
    ::SetEnvironmentVariableA("TMP", *old ? old : nullptr);

    qel::CArchive* inner = manager->GetArchive((outer + L"\\INNER.tqa").c_str());
    ASSERT_NE(nullptr, inner);
    EXPECT_EQ(Pattern(1, 5000), Extracted(*inner, L"img\\001.jpg"));
    const int listed = CallCount(kTestArchiveInfoCalls);
    EXPECT_NE(nullptr, manager->GetArchive(outer.c_str()));
    EXPECT_EQ(listed, CallCount(kTestArchiveInfoCalls)) << "the outer archive was cached on the way";
    EXPECT_EQ(1u, FileCount(temp));

    // A copy that cannot be filled stays listed: no archive, but the file goes at exit.
    EXPECT_EQ(nullptr, manager->GetArchive((outer + L"\\broken.tqa").c_str()));
    EXPECT_EQ(2u, FileCount(temp));
    manager.reset();
    EXPECT_EQ(0u, FileCount(temp));
}

TEST_F(ArchiveTest, FileReadsFallBackToTheArchive) {
    const std::wstring book = Write("book.tqa", E("img\\", "001.jpg", "*70000") + E("", "empty.jpg", ""));
    const std::wstring page = book + L"\\img\\001.jpg";
    ASSERT_EQ(70000u, qel::GetFileSize(page.c_str()));
    std::string bytes(70000 + 8, '\xCC');
    qel::ReadWholeFile(page.c_str(), &bytes[0], bytes.size());
    EXPECT_EQ(Pattern(1, 70000) + std::string(8, '\xCC'), bytes);

    std::string guard(70000, '\xCC');
    EXPECT_EQ("int -1", Thrown([&] { qel::ReadWholeFile(page.c_str(), &guard[0], guard.size() - 1); }));
    EXPECT_EQ(std::string(70000, '\xCC'), guard);
    EXPECT_EQ(0u, qel::GetFileSize((book + L"\\missing.jpg").c_str()));
    EXPECT_EQ(0u, qel::GetFileSize((book + L"\\empty.jpg").c_str()));
    EXPECT_EQ("qel_file(249)\npArc == NULL",
              Thrown([&] { qel::ReadWholeFile(Wide(folder_.File("none.tqa\\a.jpg")).c_str(), &guard[0], 1); }));
}

// The loader threads read pages of archives that no one has opened yet.
TEST_F(ArchiveTest, FourThreadsReadThroughOneManager) {
    std::vector<std::wstring> pages;
    for (int i = 0; i < 6; ++i) {
        const std::string name = "book" + std::to_string(i) + ".tqa";
        pages.push_back(Write(name, E("", "a.jpg", "*1000") + E("", "b.jpg", "*20000")) + L"\\b.jpg");
    }
    const std::string expected = Pattern(2, 20000);
    std::vector<int> good(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 24; ++i) {
                const std::wstring& page = pages[size_t(t + i) % pages.size()];
                std::string bytes(20000, '\0');
                try {
                    qel::ReadWholeFile(page.c_str(), &bytes[0], bytes.size());
                } catch (...) {
                    continue;
                }
                const std::wstring arcPath = page.substr(0, page.size() - 6);
                good[size_t(t)] += bytes == expected && qel::CArchiveManager::Instance().GetArchive(arcPath.c_str());
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(std::vector<int>(4, 24), good);
}

}  // namespace
