#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FileTestSupport.h"
#include "esl_file.h"
#include "esl_heap.h"
#include "esl_registry.h"
#include "esl_stream.h"

namespace {

constexpr DWORD kRead = ESLFileObject::modeRead;
constexpr DWORD kWrite = ESLFileObject::modeWrite;
constexpr DWORD kCreate = ESLFileObject::modeCreate;
constexpr DWORD kShareRead = ESLFileObject::shareRead;
constexpr DWORD kShareWrite = ESLFileObject::shareWrite;

std::string ReadAll(ESLFileObject& file) {
    std::string bytes;
    char buffer[1000];
    DWORD n;
    while ((n = file.Read(buffer, sizeof(buffer))) != 0)
        bytes.append(buffer, n);
    return bytes;
}

class RawFileTest : public ::testing::Test {
protected:
    ScratchFolder folder_;
};

//--- class names

TEST(ESLObjectNames, EveryClassAnswersItsNameAndItsBases) {
    ERawFile raw;
    EMemoryFile memory;
    EStreamBuffer stream;
    ERegistryKey key;
    EString narrow;
    EWideString wide;
    struct Row {
        const ESLObject* object;
        const char* name;
        std::vector<const char*> kinds;
        std::vector<const char*> notKinds;
    };
    const Row rows[] = {
        {&raw, "ERawFile", {"ERawFile", "ESLFileObject", "ESLObject"}, {"EMemoryFile", "EString", "", "erawfile"}},
        {&memory, "EMemoryFile", {"EMemoryFile", "ESLFileObject", "ESLObject"}, {"ERawFile", "EStreamBuffer"}},
        {&stream, "EStreamBuffer", {"EStreamBuffer", "ESLObject"}, {"ESLFileObject", "EStreamFileBuffer"}},
        {&key, "ERegistryKey", {"ERegistryKey", "ESLObject"}, {"ESLFileObject"}},
        {&narrow, "EString", {"EString", "ESLObject"}, {"EWideString"}},
        {&wide, "EWideString", {"EWideString", "ESLObject"}, {"EString"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_STREQ(row.name, row.object->ClassName());
        for (const char* kind : row.kinds) {
            EXPECT_TRUE(row.object->IsKindOf(kind)) << kind;
            EXPECT_NE(nullptr, row.object->DynamicCast(kind)) << kind;
        }
        for (const char* kind : row.notKinds) {
            EXPECT_FALSE(row.object->IsKindOf(kind)) << kind;
            EXPECT_EQ(nullptr, row.object->DynamicCast(kind)) << kind;
        }
        EXPECT_FALSE(row.object->IsKindOf(nullptr));
    }
}

TEST(ESLObjectNames, TypedCastFindsTheObjectThroughItsRoot) {
    ERawFile raw;
    ESLObject* object = &raw;
    EXPECT_EQ(&raw, ESLTypeCast<ERawFile>(object));
    EXPECT_EQ(static_cast<ESLFileObject*>(&raw), ESLTypeCast<ESLFileObject>(object));
    EXPECT_EQ(nullptr, ESLTypeCast<EMemoryFile>(object));
    EXPECT_EQ(nullptr, ESLTypeCast<ERawFile>(static_cast<ESLObject*>(nullptr)));
}

TEST(ESLObjectNames, StreamFileBufferIsBothAndCastsToEachBase) {
    EStreamFileBuffer both;
    ESLFileObject* asFile = &both;
    EXPECT_STREQ("EStreamFileBuffer", asFile->ClassName());
    EXPECT_TRUE(asFile->IsKindOf("EStreamBuffer"));
    EXPECT_TRUE(asFile->IsKindOf("ESLFileObject"));
    // The cast adjusts the pointer to the second base.
    EXPECT_EQ(static_cast<EStreamBuffer*>(&both), asFile->DynamicCast("EStreamBuffer"));
    EXPECT_EQ(asFile, asFile->DynamicCast("ESLFileObject"));
}

TEST(ESLObjectNames, NewAllocatesFromTheFoundationHeap) {
    std::unique_ptr<ESLFileObject> file(new EMemoryFile);
    ASSERT_NE(nullptr, file);
    EXPECT_NE(static_cast<DWORD>(-1), eslHeapGetLength(nullptr, file.get()));
}

//--- ERawFile: opening

TEST_F(RawFileTest, CreateWritesAndReadReadsBack) {
    const std::string path = folder_.File("a.bin");
    ERawFile file;
    ASSERT_EQ(0, file.Open(path.c_str(), kCreate | kWrite));
    EXPECT_EQ(kCreate | kWrite, file.GetOpenFlags());
    EXPECT_EQ(5u, file.Write("hello", 5));
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(0u, file.GetOpenFlags());

    ASSERT_EQ(0, file.Open(path.c_str(), kRead | kShareRead));
    EXPECT_EQ(5u, file.GetLength());
    EXPECT_EQ("hello", ReadAll(file));
    EXPECT_EQ(0u, file.Write("x", 1)) << "a file opened for reading only must not take writes";
}

TEST_F(RawFileTest, CreateOnAnExistingFileEmptiesIt) {
    const std::string path = folder_.File("full.bin");
    ScratchFolder::WriteBytes(path, std::string(100, 'x'));
    ERawFile file;
    ASSERT_EQ(0, file.Open(path.c_str(), kCreate | kWrite));
    EXPECT_EQ(0u, file.GetLength());
    file.Close();
    EXPECT_EQ("", ScratchFolder::ReadBytes(path));
}

TEST_F(RawFileTest, WithoutCreateAnExistingFileIsKept) {
    const std::string path = folder_.File("keep.bin");
    ScratchFolder::WriteBytes(path, "0123456789");
    ERawFile file;
    ASSERT_EQ(0, file.Open(path.c_str(), kRead | kWrite));
    EXPECT_EQ(10u, file.GetLength());
    EXPECT_EQ(2u, file.Write("ab", 2));
    file.Close();
    EXPECT_EQ("ab23456789", ScratchFolder::ReadBytes(path));
}

TEST_F(RawFileTest, FailuresAreResultsNotCrashes) {
    ERawFile file;
    EXPECT_EQ(1, file.Open(folder_.File("missing.bin").c_str(), kRead));
    EXPECT_EQ(1, file.Open("", kRead));
    EXPECT_EQ(1, file.Open(nullptr, kRead));
    EXPECT_EQ(1, file.Open(folder_.File("no\\such\\folder.bin").c_str(), kCreate | kWrite));
    EXPECT_FALSE(file.IsOpen());
    char buffer[4];
    EXPECT_EQ(0u, file.Read(buffer, 4));
    EXPECT_EQ(0u, file.Write("x", 1));
    EXPECT_EQ(0u, file.GetLength());
    EXPECT_EQ(0u, file.Seek(3, ESLFileObject::FromBegin));
    EXPECT_NE(0, file.SetEndOfFile());
    EXPECT_EQ(nullptr, file.Duplicate());
}

TEST_F(RawFileTest, OpenClosesTheFileHeldBefore) {
    const std::string path = folder_.File("reopen.bin");
    ERawFile file;
    ASSERT_EQ(0, file.Open(path.c_str(), kCreate | kWrite));
    EXPECT_EQ(1, file.Open(folder_.File("missing.bin").c_str(), kRead));
    // The first file is no longer held: it can be opened without sharing.
    ERawFile other;
    EXPECT_EQ(0, other.Open(path.c_str(), kRead | kWrite));
}

TEST_F(RawFileTest, AMissingDriveLetterFailsAtOnceWithoutChangingTheErrorMode) {
    const DWORD drives = ::GetLogicalDrives();
    char letter = 0;
    for (char c = 'Z'; c >= 'D'; --c) {
        if (!(drives & (1u << (c - 'A')))) {
            letter = c;
            break;
        }
    }
    ASSERT_NE(0, letter) << "every drive letter is in use";
    const std::string path = std::string(1, letter) + ":\\velk58\\settings.xml";
    const DWORD modeBefore = ::GetThreadErrorMode();
    ERawFile file;
    EXPECT_EQ(1, file.Open(path.c_str(), kRead | kShareRead));
    EXPECT_EQ(1, file.Open(path.c_str(), kCreate | kWrite));
    EXPECT_EQ(1, file.Open((std::string(1, letter) + ":").c_str(), kRead));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(modeBefore, ::GetThreadErrorMode());
}

TEST_F(RawFileTest, SharingFlagsDecideWhoElseMayOpen) {
    struct Row {
        const char* name;
        DWORD first, second;
        bool secondOpens;
    };
    const Row rows[] = {
        {"readers sharing read", kRead | kShareRead, kRead | kShareRead, true},
        {"a reader not sharing", kRead, kRead | kShareRead, false},
        {"a writer while the reader shares only read", kRead | kShareRead, kWrite | kShareRead, false},
        {"a writer while the reader shares write", kRead | kShareRead | kShareWrite, kWrite | kShareRead, true},
        {"a reader while a writer shares read", kWrite | kShareRead, kRead | kShareWrite, true},
        {"a reader that does not share the first's write", kWrite | kShareRead, kRead | kShareRead, false},
        {"a creating writer after a plain writer", kCreate | kWrite, kCreate | kWrite, false},
    };
    const std::string path = folder_.File("shared.bin");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchFolder::WriteBytes(path, "data");
        ERawFile first, second;
        ASSERT_EQ(0, first.Open(path.c_str(), row.first));
        EXPECT_EQ(row.secondOpens ? 0 : 1, second.Open(path.c_str(), row.second));
    }
}

TEST_F(RawFileTest, KeepsTheFullPathAndItsFileName) {
    char szOld[MAX_PATH + 1] = "";
    ::GetCurrentDirectoryA(MAX_PATH, szOld);
    ASSERT_TRUE(::SetCurrentDirectoryA(folder_.Path().c_str()));
    ERawFile file;
    const ESLError err = file.Open("relative.txt", kCreate | kWrite);
    ::SetCurrentDirectoryA(szOld);
    ASSERT_EQ(0, err);
    char szFull[MAX_PATH + 1] = "";
    ::GetFullPathNameA(folder_.File("relative.txt").c_str(), MAX_PATH, szFull, nullptr);
    EXPECT_STREQ(szFull, file.GetFilePath());
    EXPECT_STREQ("relative.txt", file.GetFileName());
}

TEST_F(RawFileTest, FileNameWhoseTrailByteIsABackslashStaysWhole) {
    // "表" is 0x95 0x5C in Shift-JIS.
    const std::string path = folder_.File("表.txt");
    ERawFile file;
    ASSERT_EQ(0, file.Open(path.c_str(), kCreate | kWrite));
    EXPECT_STREQ("表.txt", file.GetFileName());
}

TEST_F(RawFileTest, PathsLongerThan256CharactersAreKeptWhole) {
    // Relative to a deep current folder, so that only the full path is long.
    std::string deep = folder_.Path();
    const std::string part(40, 'd');
    while (deep.size() + part.size() < 220) {
        deep += "\\" + part;
        if (!::CreateDirectoryA(deep.c_str(), nullptr))
            GTEST_SKIP() << "the system refuses a folder this deep: " << deep.size();
    }
    char szOld[MAX_PATH + 1] = "";
    ::GetCurrentDirectoryA(MAX_PATH, szOld);
    if (!::SetCurrentDirectoryA(deep.c_str()))
        GTEST_SKIP() << "the system refuses a current folder this deep";
    // 258 characters in all: past the first 256, within what the 8-bit calls take.
    const std::string name(258 - deep.size() - 1, 'n');
    ERawFile file;
    const ESLError err = file.Open(name.c_str(), kCreate | kWrite);
    ::SetCurrentDirectoryA(szOld);
    if (err != 0)
        GTEST_SKIP() << "the system refuses a file this deep";
    const std::string full = deep + "\\" + name;  // the scratch folder's path is already a full one
    ASSERT_LT(256u, full.size());
    EXPECT_STREQ(full.c_str(), file.GetFilePath());
    EXPECT_EQ(name, file.GetFileName());
}

//--- ERawFile: positions and lengths

TEST_F(RawFileTest, SeekFromEachOriginAndTruncate) {
    ERawFile file;
    ASSERT_EQ(0, file.Open(folder_.File("seek.bin").c_str(), kCreate | kRead | kWrite));
    ASSERT_EQ(10u, file.Write("0123456789", 10));
    EXPECT_EQ(10u, file.GetPosition());
    EXPECT_EQ(7u, file.Seek(-3, ESLFileObject::FromEnd));
    EXPECT_EQ(9u, file.Seek(2, ESLFileObject::FromCurrent));
    EXPECT_EQ(4u, file.Seek(4, ESLFileObject::FromBegin));
    EXPECT_EQ(0u, file.Seek(-100, ESLFileObject::FromCurrent)) << "before the start is a failure";
    EXPECT_EQ(0u, file.Seek(0, 7)) << "an unknown origin is a failure";
    EXPECT_EQ(4u, file.GetPosition());
    EXPECT_EQ(0, file.SetEndOfFile());
    EXPECT_EQ(4u, file.GetLength());
    EXPECT_EQ(4u, file.GetLargeLength());
    EXPECT_EQ(2u, file.SeekLarge(2, ESLFileObject::FromBegin));
    EXPECT_EQ(2u, file.GetLargePosition());
}

TEST_F(RawFileTest, LargeFormsPassFourGigabytes) {
    ERawFile file;
    ASSERT_EQ(0, file.Open(folder_.File("sparse.bin").c_str(), kCreate | kRead | kWrite));
    const std::uint64_t beyond = 0x100000010ull;
    EXPECT_EQ(beyond, file.SeekLarge(static_cast<std::int64_t>(beyond), ESLFileObject::FromBegin));
    if (file.SetEndOfFile() != 0)
        GTEST_SKIP() << "no room for a sparse file";
    EXPECT_EQ(beyond, file.GetLargeLength());
    EXPECT_EQ(0u, file.GetLength()) << "a length beyond 32 bits must not be cut to its low bits";
    EXPECT_EQ(0u, file.GetPosition());
    file.SeekLarge(0, ESLFileObject::FromBegin);
    file.SetEndOfFile();
}

TEST_F(RawFileTest, DuplicateOfAReaderHasItsOwnPosition) {
    const std::string path = folder_.File("dup.bin");
    ScratchFolder::WriteBytes(path, "abcdef");
    ERawFile file;
    ASSERT_EQ(0, file.Open(path.c_str(), kRead | kShareRead));
    char c = 0;
    ASSERT_EQ(1u, file.Read(&c, 1));
    std::unique_ptr<ESLFileObject> copy = file.Duplicate();
    ASSERT_NE(nullptr, copy);
    EXPECT_STREQ("ERawFile", copy->ClassName());
    EXPECT_EQ(kRead | kShareRead, copy->GetOpenFlags());
    EXPECT_EQ(0u, copy->GetPosition());
    EXPECT_EQ("abcdef", ReadAll(*copy));
    EXPECT_EQ(1u, file.GetPosition());
    EXPECT_STREQ(file.GetFilePath(), static_cast<ERawFile&>(*copy).GetFilePath());
}

TEST_F(RawFileTest, DuplicateOfAWriterSharesTheHandlePosition) {
    ERawFile file;
    ASSERT_EQ(0, file.Open(folder_.File("dupw.bin").c_str(), kCreate | kWrite));
    std::unique_ptr<ESLFileObject> copy = file.Duplicate();
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(3u, copy->Write("abc", 3));
    EXPECT_EQ(3u, file.GetPosition());
}

TEST_F(RawFileTest, AttachUsesItsOwnCopyOfTheHandle) {
    const std::string path = folder_.File("attach.bin");
    ScratchFolder::WriteBytes(path, "attached");
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ERawFile file;
    EXPECT_EQ(0, file.Attach(h, kRead));
    ::CloseHandle(h);
    EXPECT_EQ("attached", ReadAll(file));
    EXPECT_EQ(1, file.Attach(INVALID_HANDLE_VALUE, kRead));
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(RawFileTest, FileTimesRoundTripAsLocalTimes) {
    ERawFile file;
    ASSERT_EQ(0, file.Open(folder_.File("time.bin").c_str(), kCreate | kRead | kWrite));
    SYSTEMTIME written{};
    written.wYear = 2021;
    written.wMonth = 7;
    written.wDay = 14;
    written.wHour = 23;
    written.wMinute = 30;
    written.wSecond = 15;
    ASSERT_EQ(0, file.SetFileTime(nullptr, nullptr, &written));
    SYSTEMTIME read{};
    ASSERT_EQ(0, file.GetFileTime(nullptr, nullptr, &read));
    EXPECT_EQ(written.wYear, read.wYear);
    EXPECT_EQ(written.wMonth, read.wMonth);
    EXPECT_EQ(written.wDay, read.wDay);
    EXPECT_EQ(written.wHour, read.wHour);
    EXPECT_EQ(written.wMinute, read.wMinute);
    EXPECT_EQ(written.wSecond, read.wSecond);
    SYSTEMTIME bad = written;
    bad.wMonth = 13;
    EXPECT_EQ(1, file.SetFileTime(&bad, nullptr, nullptr));
}

//--- EMemoryFile

TEST(MemoryFile, WritingByteByByteReallocatesOnlyWhenTheCapacityIsPassed) {
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(0));
    EXPECT_EQ(ESLFileObject::modeCreate | ESLFileObject::modeRead | ESLFileObject::modeWrite, file.GetOpenFlags());
    std::vector<DWORD> capacities;
    for (int i = 0; i < 10000; ++i) {
        const DWORD before = file.GetCapacity();
        const char c = static_cast<char>(i);
        ASSERT_EQ(1u, file.Write(&c, 1));
        if (file.GetCapacity() != before) {
            EXPECT_EQ(before, static_cast<DWORD>(i)) << "grew before the capacity was reached";
            capacities.push_back(file.GetCapacity());
        }
    }
    // position + 2 x bytes, rounded up to 4096.
    EXPECT_EQ((std::vector<DWORD>{4096, 8192, 12288}), capacities);
    EXPECT_EQ(10000u, file.GetLength());
    file.Seek(4097, ESLFileObject::FromBegin);
    char c = 0;
    ASSERT_EQ(1u, file.Read(&c, 1));
    EXPECT_EQ(static_cast<char>(4097), c);
}

TEST(MemoryFile, SeekClampsBelowTheStartAndExtendsAWritableFile) {
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(16));
    ASSERT_EQ(4u, file.Write("abcd", 4));
    EXPECT_EQ(0u, file.Seek(-5, ESLFileObject::FromBegin));
    EXPECT_EQ(0u, file.Seek(-50, ESLFileObject::FromEnd));
    EXPECT_EQ(3u, file.Seek(-1, ESLFileObject::FromEnd));
    EXPECT_EQ(3u, file.Seek(0, 9)) << "an unknown origin keeps the position";
    EXPECT_EQ(10u, file.Seek(10, ESLFileObject::FromBegin));
    EXPECT_EQ(10u, file.GetLength());
    file.Seek(0, ESLFileObject::FromBegin);
    char buffer[16];
    std::memset(buffer, 'x', sizeof(buffer));
    ASSERT_EQ(10u, file.Read(buffer, sizeof(buffer)));
    EXPECT_EQ(0, std::memcmp("abcd\0\0\0\0\0\0", buffer, 10));
}

TEST(MemoryFile, ALengthGrownAfterTruncationReadsZerosNotOldData) {
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(0));
    ASSERT_EQ(8u, file.Write("ABCDEFGH", 8));
    file.Seek(2, ESLFileObject::FromBegin);
    EXPECT_EQ(0, file.SetEndOfFile());
    EXPECT_EQ(2u, file.GetLength());
    EXPECT_EQ(8u, file.Seek(8, ESLFileObject::FromBegin));
    file.Seek(0, ESLFileObject::FromBegin);
    char buffer[8];
    ASSERT_EQ(8u, file.Read(buffer, 8));
    EXPECT_EQ(0, std::memcmp("AB\0\0\0\0\0\0", buffer, 8));
}

TEST(MemoryFile, SeekingFarPastTheCapacityIsSafeToReadAndFailsToWriteBeyond32Bits) {
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(16));
    ASSERT_EQ(3u, file.Write("xyz", 3));
    // The length grows without the block: reads of it give zeros.
    EXPECT_EQ(0x7FFFFFF0u, file.Seek(0x7FFFFFF0, ESLFileObject::FromBegin));
    EXPECT_EQ(0x7FFFFFF0u, file.GetLength());
    EXPECT_EQ(16u, file.GetCapacity());
    file.Seek(-8, ESLFileObject::FromEnd);
    char buffer[32];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(8u, file.Read(buffer, sizeof(buffer)));
    EXPECT_EQ(std::string(8, '\0'), std::string(buffer, 8));
    file.Seek(1, ESLFileObject::FromBegin);
    EXPECT_EQ(20u, file.Read(buffer, 20));
    EXPECT_EQ(std::string("yz") + std::string(18, '\0'), std::string(buffer, 20));
    // The end of the 32-bit range: a further write cannot be placed.
    EXPECT_EQ(0xFFFFFFEFu, file.Seek(0x7FFFFFFF, ESLFileObject::FromEnd));
    EXPECT_EQ(0xFFFFFFFFu, file.Seek(0x7FFFFFFF, ESLFileObject::FromCurrent)) << "clamped to 32 bits";
    EXPECT_EQ(0u, file.Write("a", 1));
    EXPECT_EQ(0xFFFFFFFFu, file.SeekLarge(0x200000000ll, ESLFileObject::FromBegin)) << "no move beyond 32 bits";
}

TEST(MemoryFile, GetBufferGrowsTheBlockToTheWholeLength) {
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(4));
    ASSERT_EQ(2u, file.Write("ok", 2));
    file.Seek(100000, ESLFileObject::FromBegin);
    const BYTE* data = static_cast<const BYTE*>(file.GetBuffer());
    ASSERT_NE(nullptr, data);
    EXPECT_LE(100000u, file.GetCapacity());
    EXPECT_EQ('o', data[0]);
    EXPECT_EQ(0, data[99999]);
}

TEST(MemoryFile, AReadOnlyViewNeitherWritesNorGrows) {
    char block[] = "view";
    EMemoryFile file;
    ASSERT_EQ(0, file.Open(block, 4));
    EXPECT_EQ(ESLFileObject::modeRead, file.GetOpenFlags());
    EXPECT_EQ(0u, file.Write("X", 1));
    EXPECT_EQ(4u, file.Seek(100, ESLFileObject::FromBegin)) << "a view stops at its end";
    EXPECT_EQ(4u, file.GetLength());
    file.Seek(1, ESLFileObject::FromBegin);
    EXPECT_EQ("iew", ReadAll(file));
    EXPECT_STREQ("view", block);
    EXPECT_EQ(1, file.Open(nullptr, 5));
    EXPECT_EQ(0, file.Open(nullptr, 0));
}

TEST(MemoryFile, DuplicateIsAWritableCopyFromTheStart) {
    const char block[] = "original";
    EMemoryFile file;
    ASSERT_EQ(0, file.Open(block, 8));
    file.Seek(3, ESLFileObject::FromBegin);
    std::unique_ptr<ESLFileObject> copy = file.Duplicate();
    ASSERT_NE(nullptr, copy);
    EXPECT_STREQ("EMemoryFile", copy->ClassName());
    EXPECT_EQ(0u, copy->GetPosition());
    EXPECT_EQ(1u, copy->Write("O", 1));
    copy->Seek(0, ESLFileObject::FromBegin);
    EXPECT_EQ("Original", ReadAll(*copy));
    EXPECT_STREQ("original", block);
}

TEST(MemoryFile, CreateReleasesTheBlockHeldBefore) {
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(100));
    file.Write("abc", 3);
    ASSERT_EQ(0, file.Create(10));
    EXPECT_EQ(0u, file.GetLength());
    EXPECT_EQ(0u, file.GetPosition());
    EXPECT_EQ(10u, file.GetCapacity());
    EXPECT_EQ(1, file.Create(0xF0000000u)) << "a block beyond the heap's range fails cleanly";
    EXPECT_EQ(0u, file.GetOpenFlags());
    EXPECT_EQ(0u, file.Write("a", 1));
}

struct WriterJob {
    EMemoryFile* file;
    char tag;
};

DWORD WINAPI WriteTwentyThousand(void* p) {
    WriterJob* job = static_cast<WriterJob*>(p);
    for (int i = 0; i < 20000; ++i)
        job->file->Write(&job->tag, 1);
    return 0;
}

TEST(MemoryFile, SharedBetweenThreadsNoWriteIsLost) {
    // Each write may move the block; without the object's lock the other
    // thread would write into the old one.
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(0));
    WriterJob jobs[2] = {{&file, 'a'}, {&file, 'b'}};
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i)
        threads[i] = ::CreateThread(nullptr, 0, WriteTwentyThousand, &jobs[i], 0, nullptr);
    ::WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE h : threads)
        ::CloseHandle(h);
    ASSERT_EQ(40000u, file.GetLength());
    file.Seek(0, ESLFileObject::FromBegin);
    const std::string bytes = ReadAll(file);
    EXPECT_EQ(20000, std::count(bytes.begin(), bytes.end(), 'a'));
    EXPECT_EQ(20000, std::count(bytes.begin(), bytes.end(), 'b'));
}

}  // namespace
