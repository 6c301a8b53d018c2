#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
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
constexpr int kBegin = ESLFileObject::FromBegin;
constexpr int kEnd = ESLFileObject::FromEnd;
constexpr int kCurrent = ESLFileObject::FromCurrent;

std::string ReadAll(ESLFileObject& file) {
    std::string bytes;
    char buffer[1000];
    for (DWORD n; (n = file.Read(buffer, sizeof(buffer))) != 0;)
        bytes.append(buffer, n);
    return bytes;
}

// Runs `open` with the scratch folder as the current folder.
template <class F>
ESLError InFolder(const std::string& folder, F open) {
    char szOld[MAX_PATH + 1] = "";
    ::GetCurrentDirectoryA(MAX_PATH, szOld);
    if (!::SetCurrentDirectoryA(folder.c_str()))
        return 1;
    const ESLError err = open();
    ::SetCurrentDirectoryA(szOld);
    return err;
}

class RawFileTest : public ::testing::Test {
protected:
    ScratchFolder folder_;
};

//--- class names

// Each object names itself and its base, and refuses a sibling's name.
TEST(ESLObjectNames, EveryClassAnswersItsNameAndItsBases) {
    ERawFile raw;
    EMemoryFile memory;
    EStreamBuffer stream;
    ERegistryKey key;
    EString narrow;
    EWideString wide;
    const std::tuple<const ESLObject*, const char*, const char*, const char*> rows[] = {
        {&raw, "ERawFile", "ESLFileObject", "EMemoryFile"},       {&memory, "EMemoryFile", "ESLFileObject", "ERawFile"},
        {&stream, "EStreamBuffer", "ESLObject", "ESLFileObject"}, {&key, "ERegistryKey", "ESLObject", "ESLFileObject"},
        {&narrow, "EString", "ESLObject", "EWideString"},         {&wide, "EWideString", "ESLObject", "EString"},
    };
    for (const auto& [object, name, base, sibling] : rows) {
        SCOPED_TRACE(name);
        EXPECT_STREQ(name, object->ClassName());
        EXPECT_EQ(object, object->DynamicCast(name));
        EXPECT_TRUE(object->IsKindOf(base) && object->DynamicCast(base));
        EXPECT_FALSE(object->IsKindOf(sibling) || object->DynamicCast(sibling));
        EXPECT_FALSE(object->IsKindOf(nullptr));
    }
    EXPECT_FALSE(raw.IsKindOf("erawfile") || raw.IsKindOf(""));
    EXPECT_EQ(nullptr, stream.DynamicCast("EStreamFileBuffer"));
}

TEST(ESLObjectNames, CastsAdjustThePointerToTheBase) {
    ERawFile raw;
    ESLObject* object = &raw;
    EXPECT_EQ(static_cast<ESLFileObject*>(&raw), ESLTypeCast<ESLFileObject>(object));
    EXPECT_EQ(nullptr, ESLTypeCast<EMemoryFile>(object));
    EXPECT_EQ(nullptr, ESLTypeCast<ERawFile>(static_cast<ESLObject*>(nullptr)));
    EStreamFileBuffer both;
    ESLFileObject* asFile = &both;
    EXPECT_STREQ("EStreamFileBuffer", asFile->ClassName());
    EXPECT_EQ(static_cast<EStreamBuffer*>(&both), asFile->DynamicCast("EStreamBuffer")) << "the second base";
    EXPECT_EQ(asFile, asFile->DynamicCast("ESLFileObject"));
    std::unique_ptr<ESLFileObject> file(new EMemoryFile);
    EXPECT_NE(static_cast<DWORD>(-1), eslHeapGetLength(nullptr, file.get())) << "new takes the foundation heap";
}

//--- ERawFile: opening

TEST_F(RawFileTest, OpenModesCreateTruncateOrKeep) {
    const struct {
        const char* name;
        DWORD flags;
        DWORD lengthAtOpen;
        const char* after;  // the file after "ab" is written at the start
    } rows[] = {
        {"create on an existing file empties it", kCreate | kWrite, 0, "ab"},
        {"without create the file is kept", kRead | kWrite, 10, "ab23456789"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = folder_.File("modes.bin");
        ScratchFolder::WriteBytes(path, "0123456789");
        ERawFile file;
        ASSERT_EQ(0, file.Open(path.c_str(), row.flags));
        EXPECT_EQ(row.flags, file.GetOpenFlags());
        EXPECT_EQ(row.lengthAtOpen, file.GetLength());
        EXPECT_EQ(2u, file.Write("ab", 2));
        file.Close();
        EXPECT_EQ(0u, file.GetOpenFlags());
        ASSERT_EQ(0, file.Open(path.c_str(), kRead | kShareRead));
        EXPECT_EQ(row.after, ReadAll(file));
        EXPECT_EQ(0u, file.Write("x", 1)) << "a file opened for reading only must not take writes";
    }
}

TEST_F(RawFileTest, FailuresAreResultsNotCrashes) {
    const std::string path = folder_.File("held.bin");
    ERawFile file;
    ASSERT_EQ(0, file.Open(path.c_str(), kCreate | kWrite));
    EXPECT_EQ(1, file.Open(folder_.File("missing.bin").c_str(), kRead));
    ERawFile other;
    EXPECT_EQ(0, other.Open(path.c_str(), kRead | kWrite)) << "a failed Open still closed the file held before";
    EXPECT_EQ(1, file.Open("", kRead));
    EXPECT_EQ(1, file.Open(nullptr, kRead));
    EXPECT_EQ(1, file.Open(folder_.File("no\\such\\folder.bin").c_str(), kCreate | kWrite));
    EXPECT_FALSE(file.IsOpen());
    char buffer[4];
    EXPECT_EQ(0u, file.Read(buffer, 4));
    EXPECT_EQ(0u, file.Write("x", 1));
    EXPECT_EQ(0u, file.GetLength());
    EXPECT_EQ(0u, file.Seek(3, kBegin));
    EXPECT_NE(0, file.SetEndOfFile());
    EXPECT_EQ(nullptr, file.Duplicate());
}

TEST_F(RawFileTest, AMissingDriveLetterFailsAtOnceWithoutChangingTheErrorMode) {
    const DWORD drives = ::GetLogicalDrives();
    char letter = 'Z';
    while (letter >= 'D' && (drives & (1u << (letter - 'A'))))
        --letter;
    ASSERT_LE('D', letter) << "every drive letter is in use";
    const std::string drive(1, letter), path = drive + ":\\velk58\\settings.xml";
    const DWORD modeBefore = ::GetThreadErrorMode();
    ERawFile file;
    EXPECT_EQ(1, file.Open(path.c_str(), kRead | kShareRead));
    EXPECT_EQ(1, file.Open(path.c_str(), kCreate | kWrite));
    EXPECT_EQ(1, file.Open((drive + ":").c_str(), kRead));
    EXPECT_EQ(modeBefore, ::GetThreadErrorMode());
}

TEST_F(RawFileTest, SharingFlagsDecideWhoElseMayOpen) {
    const struct {
        const char* name;
        DWORD first, second;
        bool secondOpens;
    } rows[] = {
        {"readers sharing read", kRead | kShareRead, kRead | kShareRead, true},
        {"a reader not sharing", kRead, kRead | kShareRead, false},
        {"a writer while the reader shares only read", kRead | kShareRead, kWrite | kShareRead, false},
        {"a writer while the reader shares write", kRead | kShareRead | kShareWrite, kWrite | kShareRead, true},
        {"a reader while a writer shares read", kWrite | kShareRead, kRead | kShareWrite, true},
        {"a reader that does not share the first's write", kWrite | kShareRead, kRead | kShareRead, false},
        {"a creating writer after a plain writer", kCreate | kWrite, kCreate | kWrite, false},
    };
    const std::string path = folder_.File("shared.bin");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchFolder::WriteBytes(path, "data");
        ERawFile first, second;
        ASSERT_EQ(0, first.Open(path.c_str(), row.first));
        EXPECT_EQ(row.secondOpens ? 0 : 1, second.Open(path.c_str(), row.second));
    }
}

TEST_F(RawFileTest, KeepsTheFullPathAndAFileNameWhoseTrailByteIsABackslash) {
    ERawFile file;  // 表 is 0x95 0x5C
    ASSERT_EQ(0, InFolder(folder_.Path(), [&] { return file.Open("表.txt", kCreate | kWrite); }));
    char szFull[MAX_PATH + 1] = "";
    ::GetFullPathNameA(folder_.File("表.txt").c_str(), MAX_PATH, szFull, nullptr);
    EXPECT_STREQ(szFull, file.GetFilePath());
    EXPECT_STREQ("表.txt", file.GetFileName());
}

TEST_F(RawFileTest, PathsLongerThan256CharactersAreKeptWhole) {
    // Relative to a deep current folder, so that only the full path is long.
    std::string deep = folder_.Path();
    while (deep.size() + 40 < 220) {
        deep += "\\" + std::string(40, 'd');
        if (!::CreateDirectoryA(deep.c_str(), nullptr))
            GTEST_SKIP() << "the system refuses a folder this deep: " << deep.size();
    }
    // 258 characters in all: past the first 256, within what the 8-bit calls take.
    const std::string name(258 - deep.size() - 1, 'n');
    ERawFile file;
    if (InFolder(deep, [&] { return file.Open(name.c_str(), kCreate | kWrite); }) != 0)
        GTEST_SKIP() << "the system refuses a file this deep";
    EXPECT_STREQ((deep + "\\" + name).c_str(), file.GetFilePath());
    EXPECT_EQ(name, file.GetFileName());
}

//--- ERawFile: positions, lengths, handles

TEST_F(RawFileTest, SeekFromEachOriginTruncateAndPassFourGigabytes) {
    ERawFile file;
    ASSERT_EQ(0, file.Open(folder_.File("seek.bin").c_str(), kCreate | kRead | kWrite));
    ASSERT_EQ(10u, file.Write("0123456789", 10));
    EXPECT_EQ(7u, file.Seek(-3, kEnd));
    EXPECT_EQ(9u, file.Seek(2, kCurrent));
    EXPECT_EQ(4u, file.Seek(4, kBegin));
    EXPECT_EQ(0u, file.Seek(-100, kCurrent)) << "before the start is a failure";
    EXPECT_EQ(0u, file.Seek(0, 7)) << "an unknown origin is a failure";
    EXPECT_EQ(4u, file.GetPosition());
    EXPECT_EQ(0, file.SetEndOfFile());
    EXPECT_EQ(4u, file.GetLength());
    EXPECT_EQ(2u, file.SeekLarge(2, kBegin));
    EXPECT_EQ(2u, file.GetLargePosition());

    const std::uint64_t beyond = 0x100000010ull;
    EXPECT_EQ(beyond, file.SeekLarge(static_cast<std::int64_t>(beyond), kBegin));
    if (file.SetEndOfFile() != 0)
        GTEST_SKIP() << "no room for a sparse file";
    EXPECT_EQ(beyond, file.GetLargeLength());
    EXPECT_EQ(0u, file.GetLength()) << "a length beyond 32 bits must not be cut to its low bits";
    EXPECT_EQ(0u, file.GetPosition());
    file.SeekLarge(0, kBegin);
    file.SetEndOfFile();
}

TEST_F(RawFileTest, DuplicateAndAttachCopyTheHandle) {
    const std::string path = folder_.File("dup.bin");
    ScratchFolder::WriteBytes(path, "abcdef");
    ERawFile reader;
    ASSERT_EQ(0, reader.Open(path.c_str(), kRead | kShareRead | kShareWrite));
    char c = 0;
    ASSERT_EQ(1u, reader.Read(&c, 1));
    std::unique_ptr<ESLFileObject> copy = reader.Duplicate();  // a reader's copy has its own position
    ASSERT_NE(nullptr, copy);
    EXPECT_STREQ("ERawFile", copy->ClassName());
    EXPECT_EQ(reader.GetOpenFlags(), copy->GetOpenFlags());
    EXPECT_STREQ(reader.GetFilePath(), static_cast<ERawFile&>(*copy).GetFilePath());
    EXPECT_EQ("abcdef", ReadAll(*copy));
    EXPECT_EQ(1u, reader.GetPosition());

    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ERawFile writer;
    ASSERT_EQ(0, writer.Attach(h, kWrite));
    ::CloseHandle(h);           // the object holds its own copy
    copy = writer.Duplicate();  // a writer's copy shares the position
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(3u, copy->Write("abc", 3));
    EXPECT_EQ(3u, writer.GetPosition());
    EXPECT_EQ(1, writer.Attach(INVALID_HANDLE_VALUE, kRead));
    EXPECT_FALSE(writer.IsOpen());
}

TEST_F(RawFileTest, FileTimesRoundTripAsLocalTimes) {
    ERawFile file;
    ASSERT_EQ(0, file.Open(folder_.File("time.bin").c_str(), kCreate | kRead | kWrite));
    SYSTEMTIME written = {2021, 7, 0, 14, 23, 30, 15, 0}, read{};
    ASSERT_EQ(0, file.SetFileTime(nullptr, nullptr, &written));
    ASSERT_EQ(0, file.GetFileTime(nullptr, nullptr, &read));
    const auto fields = [](const SYSTEMTIME& t) {
        return std::make_tuple(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    };
    EXPECT_EQ(fields(written), fields(read));
    written.wMonth = 13;
    EXPECT_EQ(1, file.SetFileTime(&written, nullptr, nullptr));
}

//--- EMemoryFile

TEST(MemoryFile, WritingByteByByteReallocatesOnlyWhenTheCapacityIsPassed) {
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(0));
    EXPECT_EQ(kCreate | kRead | kWrite, file.GetOpenFlags());
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
    EXPECT_EQ((std::vector<DWORD>{4096, 8192, 12288}), capacities) << "position + 2 x bytes, rounded up to 4096";
    file.Seek(4097, kBegin);
    char c = 0;
    ASSERT_EQ(1u, file.Read(&c, 1));
    EXPECT_EQ(static_cast<char>(4097), c);
}

TEST(MemoryFile, SeekClampsBelowTheStartAndExtendsWithZeros) {
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(16));
    ASSERT_EQ(4u, file.Write("abcd", 4));
    EXPECT_EQ(0u, file.Seek(-5, kBegin));
    EXPECT_EQ(0u, file.Seek(-50, kEnd));
    EXPECT_EQ(3u, file.Seek(-1, kEnd));
    EXPECT_EQ(3u, file.Seek(0, 9)) << "an unknown origin keeps the position";
    EXPECT_EQ(10u, file.Seek(10, kBegin));
    EXPECT_EQ(10u, file.GetLength());
    file.Seek(0, kBegin);
    EXPECT_EQ(std::string("abcd\0\0\0\0\0\0", 10), ReadAll(file));
}

// Regression: a length grown again after SetEndOfFile showed the cut bytes.
TEST(MemoryFile, ALengthGrownAfterTruncationReadsZerosNotOldData) {
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(0));
    ASSERT_EQ(8u, file.Write("ABCDEFGH", 8));
    file.Seek(2, kBegin);
    EXPECT_EQ(0, file.SetEndOfFile());
    EXPECT_EQ(2u, file.GetLength());
    EXPECT_EQ(8u, file.Seek(8, kBegin));
    file.Seek(0, kBegin);
    EXPECT_EQ(std::string("AB\0\0\0\0\0\0", 8), ReadAll(file));
}

TEST(MemoryFile, SeekingFarPastTheCapacityIsSafeToReadAndFailsToWriteBeyond32Bits) {
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(16));
    ASSERT_EQ(3u, file.Write("xyz", 3));
    // The length grows without the block: reads of it give zeros.
    EXPECT_EQ(0x7FFFFFF0u, file.Seek(0x7FFFFFF0, kBegin));
    EXPECT_EQ(0x7FFFFFF0u, file.GetLength());
    EXPECT_EQ(16u, file.GetCapacity());
    file.Seek(-8, kEnd);
    char buffer[32];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(8u, file.Read(buffer, sizeof(buffer)));
    EXPECT_EQ(std::string(8, '\0'), std::string(buffer, 8));
    file.Seek(1, kBegin);
    EXPECT_EQ(20u, file.Read(buffer, 20));
    EXPECT_EQ(std::string("yz") + std::string(18, '\0'), std::string(buffer, 20));
    // The end of the 32-bit range: a further write cannot be placed.
    EXPECT_EQ(0xFFFFFFEFu, file.Seek(0x7FFFFFFF, kEnd));
    EXPECT_EQ(0xFFFFFFFFu, file.Seek(0x7FFFFFFF, kCurrent)) << "clamped to 32 bits";
    EXPECT_EQ(0u, file.Write("a", 1));
    EXPECT_EQ(0xFFFFFFFFu, file.SeekLarge(0x200000000ll, kBegin)) << "no move beyond 32 bits";
}

TEST(MemoryFile, AReadOnlyViewNeitherWritesNorGrowsAndItsDuplicateIsAWritableCopy) {
    char block[] = "original";
    EMemoryFile file;
    ASSERT_EQ(0, file.Open(block, 8));
    EXPECT_EQ(kRead, file.GetOpenFlags());
    EXPECT_EQ(0u, file.Write("X", 1));
    EXPECT_EQ(8u, file.Seek(100, kBegin)) << "a view stops at its end";
    EXPECT_EQ(8u, file.GetLength());
    file.Seek(3, kBegin);
    std::unique_ptr<ESLFileObject> copy = file.Duplicate();
    EXPECT_EQ("ginal", ReadAll(file));
    ASSERT_NE(nullptr, copy);
    EXPECT_STREQ("EMemoryFile", copy->ClassName());
    EXPECT_EQ(0u, copy->GetPosition());
    EXPECT_EQ(1u, copy->Write("O", 1));
    copy->Seek(0, kBegin);
    EXPECT_EQ("Original", ReadAll(*copy));
    EXPECT_STREQ("original", block);
    EXPECT_EQ(1, file.Open(nullptr, 5));
    EXPECT_EQ(0, file.Open(nullptr, 0));
}

TEST(MemoryFile, CreateStartsAfreshAndGetBufferGrowsTheBlockToTheWholeLength) {
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(100));
    file.Write("abc", 3);
    ASSERT_EQ(0, file.Create(4));
    EXPECT_EQ(0u, file.GetLength());
    EXPECT_EQ(0u, file.GetPosition());
    EXPECT_EQ(4u, file.GetCapacity());
    ASSERT_EQ(2u, file.Write("ok", 2));
    file.Seek(100000, kBegin);
    const BYTE* data = static_cast<const BYTE*>(file.GetBuffer());
    ASSERT_NE(nullptr, data);
    EXPECT_LE(100000u, file.GetCapacity());
    EXPECT_EQ('o', data[0]);
    EXPECT_EQ(0, data[99999]);
    EXPECT_EQ(1, file.Create(0xF0000000u)) << "a block beyond the heap's range fails cleanly";
    EXPECT_EQ(0u, file.GetOpenFlags());
    EXPECT_EQ(0u, file.Write("a", 1));
}

// Each write may move the block: without the object's lock the other thread
// would write into the old one.
TEST(MemoryFile, SharedBetweenThreadsNoWriteIsLost) {
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(0));
    const auto writer = [&file](char tag) {
        for (int i = 0; i < 20000; ++i)
            file.Write(&tag, 1);
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    ASSERT_EQ(40000u, file.GetLength());
    file.Seek(0, kBegin);
    const std::string bytes = ReadAll(file);
    EXPECT_EQ(20000, std::count(bytes.begin(), bytes.end(), 'a'));
    EXPECT_EQ(20000, std::count(bytes.begin(), bytes.end(), 'b'));
}

}  // namespace
