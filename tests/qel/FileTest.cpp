#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "esl/FileTestSupport.h"
#include "esl_handle.h"
#include "qel/Thrown.h"
#include "qel_archive.h"
#include "qel_file.h"
#include "qel_susie.h"
#include "spi/TestPlugins.h"
#include "support/Mutator.h"

// Files on disk and inside archives, and the archives themselves.
namespace {

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// One entry line of a description for the test plug-in (spi/spi_archive.cpp).
std::string E(const std::string& path, const std::string& name, const std::string& data, const char* flags = "-",
              const char* position = "-", const char* size = "-", const char* method = "tst") {
    return std::string("e\t") + method + "\t" + position + "\t" + size + "\t" + path + "\t" + name + "\t" + flags +
           "\t" + data + "\n";
}

std::string Pattern(size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i)
        bytes[i] = char(i * 31 + (i >> 8));
    return bytes;
}

std::string Extracted(const qel::CArchive& archive, const std::wstring& name) {
    std::string bytes(archive.GetFileSize(name.c_str()), '\0');
    archive.Extract(name.c_str(), &bytes[0], bytes.size());
    return bytes;
}

const std::string kLong(250, 'n'), kLongPath(250, 'p');

std::string ReadBytes(const std::wstring& path) {
    std::string bytes(size_t(qel::GetFileSize(path.c_str())), '\0');
    qel::ReadWholeFile(path.c_str(), &bytes[0], bytes.size());
    return bytes;
}

class FileTest : public testing::Test {
protected:
    std::wstring In(const std::wstring& name) const { return folder_ + L"\\" + name; }
    void Put(const std::wstring& name, const std::string& bytes) const {
        qel::WriteWholeFile(In(name).c_str(), bytes.data(), DWORD(bytes.size()));
    }
    size_t EntryCount(const wchar_t* pattern = L"*") const {
        WIN32_FIND_DATAW data;
        esl::UniqueFind find(::FindFirstFileW(In(pattern).c_str(), &data));
        size_t n = 0;
        for (bool more = bool(find); more; more = ::FindNextFileW(find.get(), &data))
            n += data.cFileName[0] != L'.';
        return n;
    }

    ScratchFolder scratch_;
    const std::wstring folder_{scratch_.Path().begin(), scratch_.Path().end()};
};

// Descriptions in a scratch folder, read by the test plug-in, which the
// process registry holds from the first test on.
class ArchiveTest : public FileTest {
protected:
    static void SetUpTestSuite() {
        qel::CSpiManager::Instance().RegisterPlugin(TestPluginPath(L"spi_archive").c_str());
    }
    void SetUp() override {
        ASSERT_TRUE(qel::CSpiManager::Instance().HasArchivePlugin(L"x.tqa"));
        ScratchFolder::WriteBytes(scratch_.File("pattern.bin"), Pattern(70000));
    }
    std::wstring Write(const std::string& name, const std::string& description) const {
        ScratchFolder::WriteBytes(scratch_.File(name), description);
        return In(Wide(name));
    }
};

// Each listed name is read back in upper case with slashes.
TEST_F(ArchiveTest, ListsAndReadsTheRecordsOfEitherStride) {
    const struct {
        const char* name;
        std::string description, outcome;  // each name listed with what it reads; or what was thrown
        const char* file = "book.tqa";
    } cases[] = {
        {"a folder entry is not asked for again; the first entry of a path wins",
         E("img\\", "", "", "q") + E("img\\", "1.jpg", "one") + E("", "a.jpg", "first") + E("", "A.JPG", "second"),
         "img\\1.jpg=one a.jpg=first A.JPG=first "},
        {"position or size 0 is asked for again",
         E("d\\", "p", "pos", "-", "0") + E("d\\", "s", "size", "-", "-", "0") + E("", "e", ""),
         "d\\p=pos d\\s=size e= "},
        {"428-byte records", "stride\t428\n" + E("i\\", "1", "one") + E("", "b", "@pattern.bin", "-", "-", "0"),
         "i\\1=one b=" + Pattern(70000) + " "},
        {"428-byte records in a block with room to spare",
         "stride\t428\nblock\t100\n" + E("i\\", "1", "one", "-", "-", "-", "abcdefgh") +
             E("", "2", "two", "-", "-", "-", "abcdefgh"),
         "i\\1=one 2=two "},
        {"no terminating record", "block\t-432\n" + E("", "a", "a") + E("", "b", "b"), "a=a b=b "},
        {"a record that does not fit in the block ends the walk",
         "block\t-433\n" + E("", "a", "a") + E("", "b", "b") + E("", "c", "c"), "a=a b=b "},
        {"names end at their 200-byte field, also when asked for again",
         E(kLongPath, kLong, "long", "-", "-", "0") + E("", "a", "a"),
         kLongPath.substr(0, 200) + "\\" + kLong.substr(0, 200) + "=long a=a "},
        {"no plug-in for the extension", E("", "a", "a"), "qel_archive(73)\n_pSpi == NULL", "book.zzz"},
        {"the plug-in rejects the file", "not a description\n",
         "qel_archive(84)\n_pSpi->GetArchiveInfo(_filePath, 0, 0x0000, &hArchiveInfo)"},
        {"the plug-in answers success with no block", "nohandle\n",
         "qel_archive(85)\nhArchiveInfo == NULL || ::LocalFlags(hArchiveInfo) == LMEM_INVALID_HANDLE"},
        {"an entry asked for again is not found", E("", "a", "a") + E("", "b", "b", "q", "0"), "int -1"},
    };
    for (const auto& c : cases) {
        std::string outcome;
        const std::string thrown = Thrown([&] {
            qel::CArchive archive(Write(c.file, c.description).c_str());
            for (const qel::CPath& path : archive.GetFileList()) {
                std::wstring asked = path.c_str();
                for (wchar_t& ch : asked)
                    ch = ch == L'\\' ? L'/' : std::towupper(ch);
                outcome += Narrow(path.c_str()) + "=" + Extracted(archive, asked) + " ";
            }
        });
        EXPECT_EQ(c.outcome, thrown == "no exception" ? outcome : thrown) << c.name;
    }
}

// Listing blocks of either stride, mutated: each opens or throws, and what
// opens lists only names it can find again.
TEST_F(ArchiveTest, MutatedListingsOpenOrFailCleanly) {
    qel::CSpi* spi = qel::CSpiManager::Instance().FindArchivePlugin(L"x.tqa");
    std::vector<std::string> corpus;
    for (const std::string stride : {"432", "428"}) {
        Write("seed.tqa", "stride\t" + stride + "\n" + E("img\\", "001.jpg", "a") +
                              E(stride == "428" ? "" : kLongPath, kLong, "bb") + E("x\\y\\", "c.jpg", "ccc"));
        HLOCAL h = nullptr;
        ASSERT_EQ(0, spi->GetArchiveInfo(scratch_.File("seed.tqa").c_str(), 0, 0, &h));
        esl::UniqueLocal block(h);
        corpus.emplace_back(static_cast<const char*>(esl::LocalLockGuard<>(h).get()), ::LocalSize(h));
    }
    const std::wstring path = Write("hostile.tqa", "raw\t@raw.bin\n");
    const fuzz::Report report = fuzz::Run("listing", 5800, 300, corpus, [&](const std::string& block) {
        ScratchFolder::WriteBytes(scratch_.File("raw.bin"), block);
        try {
            qel::CArchive archive(path.c_str());
            if (archive.GetFileList().size() > block.size() / kSpiFileInfoSize32)
                return "more names than records";
            for (const qel::CPath& name : archive.GetFileList()) {
                if (!archive.Contains(name.c_str()) || name.IsEmpty() || wcslen(name.c_str()) > 401)
                    return "a listed name that cannot be found again";
            }
        } catch (const qel::CException&) {
        } catch (int) {
        }
        return "";
    });
    EXPECT_EQ(0u, report.failures);
}

// Every failure comes before a byte is copied, and the plug-in's block is
// freed on every path. The plug-in would fail any read of the empty entry.
TEST_F(ArchiveTest, ExtractRefusesWhatItCannotCopyWhole) {
    qel::CArchive archive(Write("book.tqa", E("", "ok", "ok!") + E("", "x", "abc", "x") + E("", "n", "abc", "n") +
                                                E("", "f", "abc", "f") + E("", "s", "abc", "s") + E("", "0", "", "x"))
                              .c_str());
    const std::tuple<const wchar_t*, size_t, const char*> cases[] = {
        {L"missing", 16, "qel_archive(168)\nitr == m_pInner->_fileInfoMap.end()"},
        {L"ok", 2, "qel_archive(169)\nbufferSize < itr->second._size"},
        {L"0", 0, "no exception"},
        {L"x", 16, "qel_archive(177)\nm_pInner->_pSpi->GetFile(src, len, reinterpret_cast<LPSTR>(&hFileData), 0x0100)"},
        {L"n", 16, "qel_archive(178)\nhFileData == NULL"},
        {L"f", 16, "qel_archive(179)\n::LocalFlags(hFileData) == LMEM_INVALID_HANDLE"},
        {L"s", 16, "qel_archive(180)\n::LocalSize(hFileData) < itr->second._size"},
    };
    for (const auto& [name, room, thrown] : cases) {
        std::string buffer(16, '\xCC');
        EXPECT_EQ(thrown, Thrown([&] { archive.Extract(name, &buffer[0], room); })) << name;
        EXPECT_EQ(std::string(16, '\xCC'), buffer) << name;
    }
    EXPECT_EQ("qel_archive(154)\nitr == m_pInner->_fileInfoMap.end()", Thrown([&] { archive.GetFileSize(L"x.jpg"); }));
}

TEST_F(ArchiveTest, SeparateArcPathSplitsAtTheLongestArchivePrefix) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"D:\\books\\vol1.tqa\\img\\001.jpg", L"D:\\books\\vol1.tqa | img\\001.jpg"},
        {L"D:/a.TQA/b.tqa/c.jpg", L"D:\\a.TQA\\b.tqa | c.jpg"},
        {L"D:\\a.tqa\\b.tqa", L"D:\\a.tqa | b.tqa"}};
    qel::CPath arc, file;
    for (const auto& [path, expected] : cases) {
        EXPECT_TRUE(qel::CArchiveManager::SeparateArcPath(path, arc, file)) << path;
        EXPECT_EQ(expected, std::wstring(arc.c_str()) + L" | " + file.c_str());
    }
    for (const wchar_t* path : {L"book.tqa", L"D:\\book.tqa", L"D:\\books\\001.jpg", L""})
        EXPECT_FALSE(qel::CArchiveManager::SeparateArcPath(path, arc, file)) << path;
    EXPECT_STREQ(L"D:\\a.tqa", arc.c_str()) << "untouched when not split";
}

// What the manager opened stays cached even when its file goes bad later. An
// archive inside an archive is opened from a copy in the temporary folder,
// which the manager takes from the environment when it is made.
TEST_F(ArchiveTest, TheManagerCachesWhatOpensAndCopiesArchivesInsideArchives) {
    const std::string temp = scratch_.File("temp");
    ASSERT_TRUE(::CreateDirectoryA(temp.c_str(), nullptr));
    char old[MAX_PATH + 1] = "";
    ::GetEnvironmentVariableA("TMP", old, MAX_PATH);
    ::SetEnvironmentVariableA("TMP", (temp + "\\").c_str());
    auto manager = std::make_unique<qel::CArchiveManager>();
    ::SetEnvironmentVariableA("TMP", *old ? old : nullptr);
    const std::wstring later = Wide(scratch_.File("later.tqa"));
    EXPECT_EQ(nullptr, manager->GetArchive(later.c_str())) << "missing";
    Write("later.tqa", E("", "a.jpg", "a"));
    qel::CArchive* archive = manager->GetArchive(later.c_str());
    ASSERT_NE(nullptr, archive) << "a failure is not cached";
    Write("later.tqa", "not a description\n");
    EXPECT_EQ(archive, manager->GetArchive(later.c_str()));
    EXPECT_EQ(nullptr, manager->GetArchive(Write("book.txt", E("", "a.jpg", "a")).c_str())) << "not an archive path";
    // The inner archive's data lies beside its copy.
    ScratchFolder::WriteBytes(temp + "\\001.bin", Pattern(5000));
    Write("inner.txt", "stride\t428\n" + E("img\\", "001.jpg", "@001.bin"));
    const std::wstring outer =
        Write("outer.tqa", E("", "inner.tqa", "@inner.txt") + E("", "broken.tqa", "@inner.txt", "x"));
    qel::CArchive* inner = manager->GetArchive((outer + L"\\INNER.tqa").c_str());
    ASSERT_NE(nullptr, inner);
    EXPECT_EQ(Pattern(5000), Extracted(*inner, L"img\\001.jpg"));
    EXPECT_EQ(1u, EntryCount(L"temp\\*.tqa"));
    Write("outer.tqa", "not a description\n");
    EXPECT_NE(nullptr, manager->GetArchive(outer.c_str())) << "the outer archive was cached on the way";
    // A copy that cannot be filled stays listed: no archive, but the file goes at exit.
    EXPECT_EQ(nullptr, manager->GetArchive((outer + L"\\broken.tqa").c_str()));
    EXPECT_EQ(2u, EntryCount(L"temp\\*.tqa"));
    manager.reset();
    EXPECT_EQ(0u, EntryCount(L"temp\\*.tqa"));
}

// A path not found on disk is read from the archive it runs into; a folder
// named like an archive is just a folder.
TEST_F(ArchiveTest, FileReadsFallBackToTheArchive) {
    const std::wstring book = Write("book.tqa", E("img\\", "001.jpg", "@pattern.bin"));
    const std::wstring page = book + L"\\img\\001.jpg";
    ASSERT_EQ(70000u, qel::GetFileSize(page.c_str()));
    EXPECT_EQ(Pattern(70000), ReadBytes(page));
    std::string guard(70000, '\xCC');
    EXPECT_EQ("int -1", Thrown([&] { qel::ReadWholeFile(page.c_str(), &guard[0], guard.size() - 1); }));
    EXPECT_EQ(std::string(70000, '\xCC'), guard);
    EXPECT_EQ(0u, qel::GetFileSize((book + L"\\missing.jpg").c_str()));
    EXPECT_EQ("qel_file(249)\npArc == NULL",
              Thrown([&] { qel::ReadWholeFile(Wide(scratch_.File("none.tqa\\a.jpg")).c_str(), &guard[0], 1); }));
    ::CreateDirectoryA(scratch_.File("books.tqa").c_str(), nullptr);
    ScratchFolder::WriteBytes(scratch_.File("books.tqa\\001.jpg"), "on disk");
    qel::ReadWholeFile(Wide(scratch_.File("books.tqa\\001.jpg")).c_str(), &guard[0], 7);
    EXPECT_EQ("on disk", guard.substr(0, 7));
    EXPECT_EQ(nullptr, qel::CArchiveManager::Instance().GetArchive(Wide(scratch_.File("books.tqa")).c_str()));
}

// The loader threads read pages of archives that no one has opened yet.
TEST_F(ArchiveTest, FourThreadsReadThroughOneManager) {
    for (int i = 0; i < 6; ++i)
        Write("book" + std::to_string(i) + ".tqa", E("", "a", "a") + E("", "b", "@pattern.bin"));
    std::atomic<int> good{0};
    auto read = [&](int t) {
        for (int i = 0; i < 24; ++i) {
            std::string bytes(70000, '\0');
            const std::wstring book = Wide(scratch_.File("book" + std::to_string((t + i) % 6) + ".tqa"));
            const std::string thrown = Thrown([&] { qel::ReadWholeFile((book + L"\\b").c_str(), &bytes[0], 70000); });
            good += thrown + bytes == "no exception" + Pattern(70000) &&
                    qel::CArchiveManager::Instance().GetArchive(book.c_str());
        }
    };
    std::thread threads[] = {std::thread(read, 0), std::thread(read, 1), std::thread(read, 2), std::thread(read, 3)};
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(96, good);
}

}  // namespace

// Another reader may hold the file. A buffer one byte short reads nothing:
// what lies behind it is the caller's.
TEST_F(FileTest, ReadWholeFileGivesTheExactContentsOrNothing) {
    const std::string bytes = Pattern(70001);
    Put(L"表紙.jpg", bytes);
    esl::UniqueFile reader(
        ::CreateFileW(In(L"表紙.jpg").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string buffer(bytes.size() + 64, '\xEE');
    qel::ReadWholeFile(In(L"表紙.jpg").c_str(), &buffer[0], buffer.size());
    EXPECT_EQ(bytes + std::string(64, '\xEE'), buffer) << "the file at the start, the rest untouched";
    std::string guard(bytes.size() + 32, '\xCC');
    EXPECT_EQ("int -1", Thrown([&] { qel::ReadWholeFile(In(L"表紙.jpg").c_str(), &guard[0], bytes.size() - 1); }));
    EXPECT_EQ(std::string(bytes.size() + 32, '\xCC'), guard);
    EXPECT_EQ(0u, qel::GetFileSize(In(L"none").c_str()) + qel::GetFileSize(nullptr));
    // No archive plug-in claims the path, so the archive fallback refuses it.
    EXPECT_EQ("qel_file(245)\n!arcMgr.SeparateArcPath(pwszFilePath, arcPath, filePath)",
              Thrown([&] { qel::ReadWholeFile(In(L"book.zip\\001.jpg").c_str(), &guard[0], 16); }));
}

// In place: a shorter write leaves the rest. A copy that silently lost its
// tail would be read as a shorter file; the pipe's reader takes a little and
// goes, so the write cannot finish.
TEST_F(FileTest, WriteWholeFileWritesAllInPlaceOrThrows) {
    const std::string bytes = Pattern(1 << 20);
    Put(L"copy.bin", bytes);
    Put(L"copy.bin", "new");
    EXPECT_EQ("new" + bytes.substr(3), ReadBytes(In(L"copy.bin")));
    const wchar_t kPipe[] = L"\\\\.\\pipe\\velk58-short-write";
    esl::UniqueFile server(::CreateNamedPipeW(kPipe, PIPE_ACCESS_DUPLEX, 0, 1, 4096, 4096, 0, nullptr));
    ASSERT_TRUE(server);
    std::thread reader([&] {
        char head[16];
        DWORD got = 0;
        ::ConnectNamedPipe(server.get(), nullptr);
        ::ReadFile(server.get(), head, sizeof(head), &got, nullptr);
        ::DisconnectNamedPipe(server.get());
    });
    EXPECT_EQ("qel_file(262)\nwritten != size",
              Thrown([&] { qel::WriteWholeFile(kPipe, bytes.data(), DWORD(bytes.size())); }));
    reader.join();
}

// A save that fails half-way (here on bytes that cannot all be read) or
// cannot swap its new file in neither damages the old file nor leaves the
// new one behind.
TEST_F(FileTest, ReplaceFileContentsNeverLosesTheOldFile) {
    const std::wstring path = In(L"settings.xml");
    EXPECT_TRUE(qel::ReplaceFileContents(path.c_str(), "first", 5));
    EXPECT_TRUE(qel::ReplaceFileContents(path.c_str(), "second", 6));
    std::unique_ptr<char, void (*)(char*)> pages(
        static_cast<char*>(::VirtualAlloc(nullptr, 8192, MEM_RESERVE, PAGE_NOACCESS)),
        [](char* p) { ::VirtualFree(p, 0, MEM_RELEASE); });
    ASSERT_TRUE(::VirtualAlloc(pages.get(), 4096, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_FALSE(qel::ReplaceFileContents(path.c_str(), pages.get(), 8192));
    EXPECT_EQ("second", ReadBytes(path));
    ::CreateDirectoryW(In(L"folder").c_str(), nullptr);
    EXPECT_FALSE(qel::ReplaceFileContents(In(L"folder").c_str(), "x", 1));
    EXPECT_FALSE(qel::ReplaceFileContents(path.c_str(), nullptr, 1));
    EXPECT_FALSE(qel::ReplaceFileContents(L"", "x", 1));
    EXPECT_EQ(2u, EntryCount()) << "no stray file";
    EXPECT_TRUE(qel::ReplaceFileContents(path.c_str(), "", 0));
    EXPECT_EQ("", ReadBytes(path));
}

// Wine's shell moves a recycled file to the desktop trash of the Unix user,
// ~/.local/share/Trash unless XDG_DATA_HOME says otherwise.
TEST_F(FileTest, RemoveFileDeletesOrTakesTheFileToTheRecycleBin) {
    const std::wstring name = L"velk58-recycled-" + std::to_wstring(::GetCurrentProcessId()) + L".jpg";
    Put(L"gone.jpg", "abc");
    Put(name, Pattern(100));
    qel::RemoveFile(In(L"gone.jpg").c_str(), false);
    qel::RemoveFile(In(L"never-was.jpg").c_str(), true);  // reports nothing
    qel::RemoveFile(In(name).c_str(), true);
    EXPECT_EQ(0u, EntryCount()) << "both files left the folder";
    wchar_t home[MAX_PATH] = {};  // "\\??\\Z:\\home\\user"
    ::GetEnvironmentVariableW(L"WINEHOMEDIR", home, MAX_PATH);
    const std::wstring trash = std::wstring(home + (*home ? 4 : 0)) + L"\\.local\\share\\Trash\\";
    if (::GetEnvironmentVariableW(L"XDG_DATA_HOME", nullptr, 0) ||
        ::GetFileAttributesW((trash + L"files").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no desktop trash to look into";
    EXPECT_EQ(Pattern(100), ReadBytes(trash + L"files\\" + name)) << "the file sits in the trash";
    ::DeleteFileW((trash + L"files\\" + name).c_str());
    ::DeleteFileW((trash + L"info\\" + name + L".trashinfo").c_str());
}

// Names are ever longer prefixes of a hexadecimal digest: with every
// one-character name taken, the name has two. Many calls at once give
// distinct files, through every digest length into a new digest. The tests
// run as any user, root included; /proc refuses new files to everyone.
TEST_F(FileTest, CreateUniqueFileMakesANewEmptyFileOfTheShortestFreeName) {
    const qel::CPath path = qel::CreateUniqueFile(folder_.c_str(), L"zip");
    const std::wstring stem = path.Stem().c_str();
    EXPECT_TRUE(stem.size() == 1 && std::wcschr(L"0123456789ABCDEF", stem[0])) << path.c_str();
    EXPECT_EQ(folder_ + L"\\" + stem + L".zip", path.c_str());
    EXPECT_EQ("", ReadBytes(path.c_str()));
    const std::wstring dotted = qel::CreateUniqueFile(folder_.c_str(), L".zip").FileName().c_str();
    EXPECT_EQ(dotted.find(L'.'), dotted.rfind(L'.')) << "one dot in " << dotted;
    for (const wchar_t c : std::wstring(L"0123456789ABCDEF"))
        Put(std::wstring(1, c) + L".cbz", "");
    EXPECT_EQ(2u, std::wstring(qel::CreateUniqueFile(folder_.c_str(), L"cbz").Stem().c_str()).size());
    std::set<std::wstring> names;
    for (int i = 0; i < 200; ++i)
        names.insert(qel::CreateUniqueFile(folder_.c_str(), L"").FileName().c_str());
    EXPECT_EQ(200u, names.size());
    EXPECT_EQ(2u + 16u + 1u + 200u, EntryCount()) << "no existing file was removed";
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const qel::CPath made = qel::CreateUniqueFile(nullptr, L"velk58");
    EXPECT_TRUE(qel::CPath(temp) == qel::CPath(made.Folder().c_str()) && ::DeleteFileW(made.c_str()));
    // Missing, a file, and a folder text that normalises to nothing.
    for (const std::wstring& folder : {In(L"missing"), In(L"0.cbz"), std::wstring(L"a\\..\\..")}) {
        EXPECT_EQ("qel_file(301)\nattributes == 0xFFFFFFFF || !(attributes & FILE_ATTRIBUTE_DIRECTORY)",
                  Thrown([&] { qel::CreateUniqueFile(folder.c_str(), L"zip"); }));
    }
    if (::GetFileAttributesW(L"Z:\\proc\\self") != INVALID_FILE_ATTRIBUTES) {
        EXPECT_EQ("qel_file(330)\nfailures >= kMaxFailedCreations",
                  Thrown([&] { qel::CreateUniqueFile(L"Z:\\proc", L"zip"); }));
    }
}
