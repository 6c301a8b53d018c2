#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "esl/FileTestSupport.h"
#include "esl_handle.h"
#include "qel/Thrown.h"
#include "qel_file.h"

namespace {

std::string Pattern(size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i)
        bytes[i] = char(i * 7 + 3);
    return bytes;
}

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
    size_t EntryCount() const {
        WIN32_FIND_DATAW data;
        esl::UniqueFind find(::FindFirstFileW(In(L"*").c_str(), &data));
        size_t n = 0;
        for (bool more = bool(find); more; more = ::FindNextFileW(find.get(), &data))
            n += data.cFileName[0] != L'.';
        return n;
    }

    ScratchFolder scratch_;
    const std::wstring folder_{scratch_.Path().begin(), scratch_.Path().end()};
};

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
    Put(L"empty", "");
    qel::ReadWholeFile(In(L"empty").c_str(), &guard[0], 0);
    EXPECT_EQ(
        0u, qel::GetFileSize(In(L"empty").c_str()) + qel::GetFileSize(In(L"none").c_str()) + qel::GetFileSize(nullptr));
    // No archive plug-in claims the path, so the archive fallback refuses it.
    for (const wchar_t* name : {L"missing.jpg", L"book.zip\\001.jpg"}) {
        EXPECT_EQ("qel_file(245)\n!arcMgr.SeparateArcPath(pwszFilePath, arcPath, filePath)",
                  Thrown([&] { qel::ReadWholeFile(In(name).c_str(), &guard[0], 16); }));
    }
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

// Wine's shell moves a recycled file to the desktop trash of the Unix user
// (by default ~/.local/share/Trash), where the test finds it and removes it.
TEST_F(FileTest, RemoveFileDeletesOrTakesTheFileToTheRecycleBin) {
    const std::wstring name = L"velk58-recycled-" + std::to_wstring(::GetCurrentProcessId()) + L".jpg";
    Put(L"gone.jpg", "abc");
    Put(name, Pattern(100));
    qel::RemoveFile(In(L"gone.jpg").c_str(), false);
    qel::RemoveFile(In(L"never-was.jpg").c_str(), true);  // reports nothing
    qel::RemoveFile(In(name).c_str(), true);
    EXPECT_EQ(0u, EntryCount()) << "both files left the folder";
    wchar_t home[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"WINEHOMEDIR", home, MAX_PATH);
    const std::wstring trash =
        std::wstring(home).substr(std::wcsncmp(home, L"\\??\\", 4) ? 0 : 4) + L"\\.local\\share\\Trash\\files\\";
    if (!*home || ::GetEnvironmentVariableW(L"XDG_DATA_HOME", nullptr, 0) || !qel::GetFileSize((trash + name).c_str()))
        GTEST_SKIP() << "no desktop trash to look into";
    EXPECT_EQ(Pattern(100), ReadBytes(trash + name)) << "the file sits in the trash";
    ::DeleteFileW((trash + name).c_str());
    ::DeleteFileW((trash + L"..\\info\\" + name + L".trashinfo").c_str());
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
    EXPECT_STREQ(L".zip", qel::CreateUniqueFile(folder_.c_str(), L".zip").Extension().c_str()) << "one dot";
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
