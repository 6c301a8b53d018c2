#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
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

// At most the first 64 KiB of a file, "" when it cannot be read.
std::string ReadBytes(const std::wstring& path) {
    esl::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    std::string bytes(1 << 16, '\0');
    DWORD got = 0;
    bytes.resize(file && ::ReadFile(file.get(), &bytes[0], DWORD(bytes.size()), &got, nullptr) ? got : 0);
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

TEST_F(FileTest, ReadWholeFileGivesTheExactContentsOrNothing) {
    const std::string bytes = Pattern(70001);
    Put(L"表紙.jpg", bytes);
    ASSERT_EQ(bytes.size(), qel::GetFileSize(In(L"表紙.jpg").c_str()));
    std::string buffer(bytes.size() + 64, '\xEE');
    qel::ReadWholeFile(In(L"表紙.jpg").c_str(), &buffer[0], buffer.size());
    EXPECT_EQ(bytes + std::string(64, '\xEE'), buffer) << "the file at the start, the rest untouched";
    // The caller's buffer is one byte short; what lies behind it is ours.
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
    EXPECT_EQ(bytes.size(), qel::GetFileSize(In(L"copy.bin").c_str()));
    EXPECT_EQ("new" + bytes.substr(3, (1 << 16) - 3), ReadBytes(In(L"copy.bin")));
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

TEST_F(FileTest, CFileSharesReadingAndRefusesWritesThen) {
    qel::CFile file, second;
    EXPECT_EQ("qel_file(78)\nm_pInner->_hFile == INVALID_HANDLE_VALUE", Thrown([&] { file.Open(In(L"no").c_str()); }));
    EXPECT_EQ("qel_file(95)\nsizeLow == 0xFFFFFFFF && ::GetLastError() != NO_ERROR", Thrown([&] { file.Size(); }));
    char text[8] = {};
    EXPECT_EQ(0u, file.Read(text, 1));
    Put(L"new.txt", "hello");
    file.Open(In(L"new.txt").c_str(), false);
    second.Open(In(L"new.txt").c_str(), false);
    EXPECT_EQ(5u, second.Read(text, sizeof(text)));
    EXPECT_STREQ("hello", text);
    EXPECT_EQ(0u, file.Write("x", 1));
    file.Close();
    file.Close();  // harmless twice
    EXPECT_FALSE(file.IsOpen());
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
    EXPECT_EQ(0u, qel::GetFileSize(path.c_str()));
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
    if (!*home || ::GetEnvironmentVariableW(L"XDG_DATA_HOME", nullptr, 0) || ReadBytes(trash + name).empty())
        GTEST_SKIP() << "no desktop trash to look into";
    EXPECT_EQ(Pattern(100), ReadBytes(trash + name)) << "the file sits in the trash";
    ::DeleteFileW((trash + name).c_str());
    ::DeleteFileW((trash + L"..\\info\\" + name + L".trashinfo").c_str());
}

// Names are ever longer prefixes of a hexadecimal digest: every one- and then
// every two-character name taken, the name grows. Many calls at once give
// distinct files, through every digest length into a new digest.
TEST_F(FileTest, CreateUniqueFileMakesTheShortestFreeName) {
    qel::CPath path = qel::CreateUniqueFile(folder_.c_str(), L"zip");
    EXPECT_STREQ((folder_ + L"\\").c_str(), path.Folder().c_str());
    const std::wstring stem = path.Stem().c_str();
    EXPECT_TRUE(stem.size() == 1 && std::wcschr(L"0123456789ABCDEF", stem[0])) << path.c_str();
    EXPECT_STREQ(L".zip", path.Extension().c_str());
    EXPECT_EQ(0u, qel::GetFileSize(path.c_str())) << "the new file is empty";
    EXPECT_STREQ(L".zip", qel::CreateUniqueFile(folder_.c_str(), L".zip").Extension().c_str()) << "one dot";
    EXPECT_STREQ(L"", qel::CreateUniqueFile(folder_.c_str(), L"").Extension().c_str());
    const wchar_t kHex[] = L"0123456789ABCDEF";
    for (size_t length = 1; length <= 2; ++length) {
        for (size_t i = 0; i < (length == 1 ? 16 : 256); ++i)
            Put((length == 1 ? L"" : std::wstring(1, kHex[i / 16])) + kHex[i % 16] + L".cbz", "");
        EXPECT_EQ(length + 1, std::wstring(qel::CreateUniqueFile(folder_.c_str(), L"cbz").Stem().c_str()).size());
    }
    // The two-character name made first is one of the 256.
    EXPECT_EQ(3u + 16u + 256u + 1u, EntryCount()) << "no existing file was removed";
    std::set<std::wstring> names;
    for (int i = 0; i < 200; ++i)
        names.insert(qel::CreateUniqueFile(folder_.c_str(), L".tmp").FileName().c_str());
    EXPECT_EQ(200u, names.size());
    EXPECT_EQ(3u + 16u + 256u + 1u + 200u, EntryCount());
}

// The tests run as any user, root included, for whom permissions do not
// stop a creation; /proc refuses new files to everyone.
TEST_F(FileTest, CreateUniqueFileNeedsAnExistingWritableFolder) {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const qel::CPath path = qel::CreateUniqueFile(nullptr, L"velk58");
    EXPECT_TRUE(qel::CPath(temp) == qel::CPath(path.Folder().c_str())) << "the temporary folder by default";
    EXPECT_TRUE(::DeleteFileW(path.c_str()));
    Put(L"plain", "");
    // Missing, a file, and a folder text that normalises to nothing.
    for (const std::wstring& folder : {In(L"missing"), In(L"plain"), std::wstring(L"a\\..\\..")}) {
        EXPECT_EQ("qel_file(301)\nattributes == 0xFFFFFFFF || !(attributes & FILE_ATTRIBUTE_DIRECTORY)",
                  Thrown([&] { qel::CreateUniqueFile(folder.c_str(), L"zip"); }));
    }
    if (::GetFileAttributesW(L"Z:\\proc\\self") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no Z:\\proc to stand for an unwritable folder";
    EXPECT_EQ("qel_file(330)\nfailures >= kMaxFailedCreations",
              Thrown([&] { qel::CreateUniqueFile(L"Z:\\proc", L"zip"); }));
}
