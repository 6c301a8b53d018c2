#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "esl_handle.h"
#include "qel_exception.h"
#include "qel_file.h"
#include "qel/Thrown.h"

namespace {

const char kMissingOnDisk[] = "qel_file(245)\n!arcMgr.SeparateArcPath(pwszFilePath, arcPath, filePath)";
const char kOpenFailed[] = "qel_file(78)\nm_pInner->_hFile == INVALID_HANDLE_VALUE";
const char kSizeFailed[] = "qel_file(95)\nsizeLow == 0xFFFFFFFF && ::GetLastError() != NO_ERROR";
const char kNoFolder[] = "qel_file(301)\nattributes == 0xFFFFFFFF || !(attributes & FILE_ATTRIBUTE_DIRECTORY)";
const char kShortWrite[] = "qel_file(262)\nwritten != size";
const char kUnwritable[] = "qel_file(330)\nfailures >= kMaxFailedCreations";

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    esl::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr));
    ASSERT_EQ(bytes.size(), written);
}

std::vector<uint8_t> ReadBytes(const std::wstring& path) {
    esl::UniqueFile file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::vector<uint8_t> bytes(1 << 16);
    DWORD got = 0;
    if (!file || !::ReadFile(file.get(), bytes.data(), DWORD(bytes.size()), &got, nullptr))
        got = 0;
    bytes.resize(got);
    return bytes;
}

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = uint8_t(i * 7 + 3);
    return bytes;
}

// Calls fn with the name and attributes of every entry of a folder.
template <typename Fn>
void ForEachEntry(const std::wstring& folder, Fn&& fn) {
    WIN32_FIND_DATAW data;
    esl::UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (find)
        do {
            if (std::wcscmp(data.cFileName, L".") != 0 && std::wcscmp(data.cFileName, L"..") != 0)
                fn(std::wstring(data.cFileName), data.dwFileAttributes);
        } while (::FindNextFileW(find.get(), &data));
}

void RemoveTree(const std::wstring& folder) {
    ForEachEntry(folder, [&](const std::wstring& name, DWORD attributes) {
        const std::wstring path = folder + L"\\" + name;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return RemoveTree(path);
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path.c_str());
    });
    ::RemoveDirectoryW(folder.c_str());
}

// A fresh folder of its own under the temporary folder, removed afterwards.
class FileTest : public testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ASSERT_GT(::GetTempPathW(MAX_PATH + 1, temp), 0u);
        const char* name = testing::UnitTest::GetInstance()->current_test_info()->name();
        folder_ = temp + (L"velk58-" + std::wstring(name, name + std::strlen(name))) + L"-" +
                  std::to_wstring(::GetCurrentProcessId());
        RemoveTree(folder_);
        ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr));
    }
    void TearDown() override { RemoveTree(folder_); }

    std::wstring In(const std::wstring& name) const { return folder_ + L"\\" + name; }
    size_t EntryCount() const {
        size_t n = 0;
        ForEachEntry(folder_, [&](const std::wstring&, DWORD) { ++n; });
        return n;
    }

    std::wstring folder_;
};

}  // namespace

TEST_F(FileTest, ReadWholeFileGivesTheExactContents) {
    const std::vector<uint8_t> bytes = Pattern(70001);
    WriteBytes(In(L"表紙.jpg"), bytes);
    ASSERT_EQ(bytes.size(), qel::GetFileSize(In(L"表紙.jpg").c_str()));
    std::vector<uint8_t> exact(bytes.size());
    qel::ReadWholeFile(In(L"表紙.jpg").c_str(), exact.data(), exact.size());
    EXPECT_EQ(bytes, exact);
    // A larger buffer: the file at its start, the rest untouched.
    std::vector<uint8_t> buffer(bytes.size() + 64, 0xEE);
    qel::ReadWholeFile(In(L"表紙.jpg").c_str(), buffer.data(), buffer.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), buffer.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + bytes.size(), buffer.end(), [](uint8_t b) { return b == 0xEE; }));

    // The caller's buffer is one byte short; what lies behind it is ours.
    std::vector<uint8_t> memory(bytes.size() + 32, 0xCC);
    EXPECT_EQ("int -1", Thrown([&] { qel::ReadWholeFile(In(L"表紙.jpg").c_str(), memory.data(), bytes.size() - 1); }));
    EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](uint8_t b) { return b == 0xCC; }));

    WriteBytes(In(L"empty"), {});
    EXPECT_EQ(0u, qel::GetFileSize(In(L"empty").c_str()));
    uint8_t guard = 0x5A;
    qel::ReadWholeFile(In(L"empty").c_str(), &guard, 0);
    EXPECT_EQ(0x5A, guard);
}

TEST_F(FileTest, AMissingFileIsLookedForInAnArchive) {
    EXPECT_EQ(0u, qel::GetFileSize(In(L"missing.jpg").c_str()));
    EXPECT_EQ(0u, qel::GetFileSize(nullptr));
    uint8_t buffer[16] = {};
    // No archive plug-in claims the path, so the archive fallback refuses it.
    for (const wchar_t* name : {L"missing.jpg", L"book.zip\\001.jpg"}) {
        EXPECT_EQ(kMissingOnDisk, Thrown([&] { qel::ReadWholeFile(In(name).c_str(), buffer, 16); }));
    }
}

// A copy that silently lost its tail would be read as a shorter file. The
// pipe's reader takes a little and goes, so the write cannot finish.
TEST_F(FileTest, WriteWholeFileWritesAllOrThrows) {
    const std::vector<uint8_t> bytes = Pattern(1 << 20);
    qel::WriteWholeFile(In(L"copy.bin").c_str(), bytes.data(), DWORD(bytes.size()));
    EXPECT_EQ(bytes.size(), qel::GetFileSize(In(L"copy.bin").c_str()));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + (1 << 16)), ReadBytes(In(L"copy.bin")));

    const wchar_t kPipe[] = L"\\\\.\\pipe\\velk58-short-write";
    esl::UniqueFile server(
        ::CreateNamedPipeW(kPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
    ASSERT_TRUE(server);
    std::thread reader([&] {
        uint8_t head[16];
        DWORD got = 0;
        ::ConnectNamedPipe(server.get(), nullptr);
        ::ReadFile(server.get(), head, sizeof(head), &got, nullptr);
        ::DisconnectNamedPipe(server.get());
    });
    EXPECT_EQ(kShortWrite, Thrown([&] { qel::WriteWholeFile(kPipe, bytes.data(), DWORD(bytes.size())); }));
    reader.join();
}

TEST_F(FileTest, CFileOpensReadsWritesAndCloses) {
    qel::CFile file;
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(kOpenFailed, Thrown([&] { file.Open(In(L"missing").c_str(), false); }));
    EXPECT_EQ(kSizeFailed, Thrown([&] { file.Size(); })) << "no file is open";
    uint8_t byte = 0;
    EXPECT_EQ(0u, file.Read(&byte, 1));

    file.Open(In(L"new.txt").c_str(), true);
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(5u, file.Write("hello", 5));
    file.Close();
    file.Close();  // harmless twice
    EXPECT_FALSE(file.IsOpen());

    file.Open(In(L"new.txt").c_str(), true);
    EXPECT_EQ(5u, file.Size()) << "opening for writing keeps the contents";
    EXPECT_EQ(1u, file.Write("J", 1));
    file.Close();
    EXPECT_EQ((std::vector<uint8_t>{'J', 'e', 'l', 'l', 'o'}), ReadBytes(In(L"new.txt")));

    // Reading shares with other readers.
    file.Open(In(L"new.txt").c_str(), false);
    qel::CFile second;
    second.Open(In(L"new.txt").c_str(), false);
    char text[8] = {};
    EXPECT_EQ(5u, file.Read(text, sizeof(text)));
    EXPECT_STREQ("Jello", text);
    EXPECT_EQ(0u, file.Write("x", 1)) << "a file opened for reading refuses writes";
}

// Wine's shell moves a recycled file to the desktop trash of the Unix user
// (the freedesktop.org layout in $XDG_DATA_HOME/Trash, by default
// ~/.local/share/Trash). The test finds it there and removes it again.
static std::wstring WineTrashFolder() {
    wchar_t buffer[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"XDG_DATA_HOME", buffer, MAX_PATH) > 0 && buffer[0] == L'/') {
        std::wstring unixPath = buffer;
        std::replace(unixPath.begin(), unixPath.end(), L'/', L'\\');
        return L"Z:" + unixPath + L"\\Trash";
    }
    if (::GetEnvironmentVariableW(L"WINEHOMEDIR", buffer, MAX_PATH) == 0)
        return std::wstring();
    std::wstring home = buffer;
    if (home.compare(0, 4, L"\\??\\") == 0)
        home.erase(0, 4);
    return home + L"\\.local\\share\\Trash";
}

TEST_F(FileTest, RemoveFileDeletesOrTakesTheFileToTheRecycleBin) {
    WriteBytes(In(L"gone.jpg"), Pattern(3));
    qel::RemoveFile(In(L"gone.jpg").c_str(), false);
    EXPECT_FALSE(Exists(In(L"gone.jpg")));
    qel::RemoveFile(In(L"never-was.jpg").c_str(), false);  // reports nothing
    qel::RemoveFile(In(L"never-was.jpg").c_str(), true);

    const std::wstring name = L"velk58-recycled-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(::GetTickCount()) + L".jpg";
    WriteBytes(In(name), Pattern(100));
    qel::RemoveFile(In(name).c_str(), true);
    EXPECT_FALSE(Exists(In(name))) << "the file left its folder";
    EXPECT_EQ(0u, EntryCount());

    std::wstring trash = WineTrashFolder();
    if (trash.empty() || !Exists(trash + L"\\files"))
        GTEST_SKIP() << "no desktop trash to look into";
    std::wstring trashed = trash + L"\\files\\" + name;
    EXPECT_EQ(Pattern(100), ReadBytes(trashed)) << "the file sits in the trash with its contents";
    ::DeleteFileW(trashed.c_str());
    ::DeleteFileW((trash + L"\\info\\" + name + L".trashinfo").c_str());
}

TEST_F(FileTest, CreateUniqueFileStartsWithOneCharacter) {
    qel::CPath path = qel::CreateUniqueFile(folder_.c_str(), L"zip");
    EXPECT_STREQ((folder_ + L"\\").c_str(), path.Folder().c_str());
    const std::wstring stem = path.Stem().c_str();
    EXPECT_EQ(1u, stem.size());
    EXPECT_NE(std::wstring::npos, std::wstring(L"0123456789ABCDEF").find(stem)) << "upper-case hexadecimal";
    EXPECT_STREQ(L".zip", path.Extension().c_str());
    EXPECT_TRUE(Exists(path.c_str()));
    EXPECT_EQ(0u, qel::GetFileSize(path.c_str())) << "the new file is empty";

    EXPECT_STREQ(L".zip", qel::CreateUniqueFile(folder_.c_str(), L".zip").Extension().c_str())
        << "a dot is not doubled";
    qel::CPath bare = qel::CreateUniqueFile(folder_.c_str(), L"");
    EXPECT_STREQ(L"", bare.Extension().c_str());
    EXPECT_STREQ(bare.FileName().c_str(), bare.Stem().c_str());
}

TEST_F(FileTest, CreateUniqueFileSkipsExistingNames) {
    // Every one-character name is taken, so whatever the digest, the name
    // has two characters; then every two-character name too.
    const wchar_t kHex[] = L"0123456789ABCDEF";
    for (int i = 0; i < 16; ++i)
        WriteBytes(In(std::wstring(1, kHex[i]) + L".zip"), {});
    qel::CPath two = qel::CreateUniqueFile(folder_.c_str(), L"zip");
    EXPECT_EQ(2u, std::wstring(two.Stem().c_str()).size()) << two.c_str();

    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j)
            WriteBytes(In(std::wstring{kHex[i], kHex[j]} + L".zip"), {});
    qel::CPath three = qel::CreateUniqueFile(folder_.c_str(), L"zip");
    EXPECT_EQ(3u, std::wstring(three.Stem().c_str()).size()) << three.c_str();
    EXPECT_EQ(16u + 256u + 1u, EntryCount()) << "no existing file was touched or removed";
}

TEST_F(FileTest, CreateUniqueFileManyTimesGivesDistinctFilesInTheFolderOrTheTemporaryOne) {
    std::set<std::wstring> names;
    for (int i = 0; i < 300; ++i) {
        qel::CPath path = qel::CreateUniqueFile(folder_.c_str(), L".tmp");
        ASSERT_TRUE(names.insert(path.FileName().c_str()).second) << "repeated " << path.c_str();
    }
    EXPECT_EQ(names.size(), EntryCount());

    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    qel::CPath path = qel::CreateUniqueFile(nullptr, L"velk58");
    EXPECT_TRUE(qel::CPath(temp) == qel::CPath(path.Folder().c_str()));
    EXPECT_TRUE(Exists(path.c_str()));
    ::DeleteFileW(path.c_str());
}

// The tests run as any user, root included, for whom permissions do not
// stop a creation; /proc refuses new files to everyone.
TEST_F(FileTest, CreateUniqueFileNeedsAnExistingWritableFolder) {
    WriteBytes(In(L"plain"), {});
    // Missing, a file, and a folder text that normalises to nothing.
    for (const std::wstring& folder : {In(L"missing"), In(L"plain"), std::wstring(L"a\\..\\..")}) {
        SCOPED_TRACE(testing::Message() << folder);
        EXPECT_EQ(kNoFolder, Thrown([&] { qel::CreateUniqueFile(folder.c_str(), L"zip"); }));
    }
    const wchar_t kProc[] = L"Z:\\proc";
    DWORD attributes = ::GetFileAttributesW(kProc);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        GTEST_SKIP() << "no Z:\\proc to stand for an unwritable folder";
    EXPECT_EQ(kUnwritable, Thrown([&] { qel::CreateUniqueFile(kProc, L"zip"); }));
}
