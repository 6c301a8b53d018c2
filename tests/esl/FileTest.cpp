// File objects and streams: ERawFile on real files, EMemoryFile's zeros past
// its data, and stream buffers read from files and checked against a queue.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include "FileTestSupport.h"
#include "esl_file.h"
#include "esl_stream.h"

namespace {

constexpr DWORD kRead = ESLFileObject::modeRead, kWrite = ESLFileObject::modeWrite, kCreate = ESLFileObject::modeCreate,
                kShareRead = ESLFileObject::shareRead, kShareWrite = ESLFileObject::shareWrite;
constexpr int kBegin = ESLFileObject::FromBegin, kEnd = ESLFileObject::FromEnd;

std::string ReadAll(ESLFileObject& file) {
    std::string bytes;
    char buffer[1000];
    for (DWORD n; (n = file.Read(buffer, sizeof(buffer))) != 0;)
        bytes.append(buffer, n);
    return bytes;
}

// The queued bytes (at most dwBytes of them; 0 for all).
std::string Peek(EStreamBuffer& sb, DWORD dwBytes = 0) {
    DWORD length = 0;
    const char* p = static_cast<const char*>(sb.GetBuffer(dwBytes, &length));
    return p ? std::string(p, length) : "(null)";
}

// A memory file that counts its reads, and may claim more than it was asked.
class CountingFile : public EMemoryFile {
public:
    DWORD Read(void* ptrBuffer, DWORD dwBytes) noexcept override {
        ++reads;
        return EMemoryFile::Read(ptrBuffer, dwBytes) + std::exchange(overclaim, 0);
    }
    int reads = 0;
    DWORD overclaim = 0;
};

class RawFileTest : public ::testing::Test {
protected:
    ScratchFolder folder_;
};

TEST_F(RawFileTest, OpenModesCreateTruncateOrKeep) {
    const std::string path = folder_.File("modes.bin");
    for (const auto& [flags, lengthAtOpen, after] :
         {std::make_tuple(kCreate | kWrite, 0u, "ab"), std::make_tuple(kRead | kWrite, 10u, "ab23456789")}) {
        ScratchFolder::WriteBytes(path, "0123456789");
        ERawFile file;
        ASSERT_EQ(0, file.Open(path.c_str(), flags));
        EXPECT_EQ(flags, file.GetOpenFlags());
        EXPECT_EQ(lengthAtOpen, file.GetLength());
        EXPECT_EQ(2u, file.Write("ab", 2));
        file.Close();
        EXPECT_EQ(0u, file.GetOpenFlags());
        ASSERT_EQ(0, file.Open(path.c_str(), kRead | kShareRead));
        EXPECT_EQ(after, ReadAll(file));
        EXPECT_EQ(0u, file.Write("x", 1)) << "a file opened for reading only must not take writes";
    }
}

// A failed Open still closes the file held before; a missing drive fails at
// once, the thread's error mode unchanged.
TEST_F(RawFileTest, FailuresAreResultsNotCrashes) {
    char letter = 'Z';
    while (letter >= 'D' && (::GetLogicalDrives() & (1u << (letter - 'A'))))
        --letter;
    ASSERT_LE('D', letter) << "every drive letter is in use";
    const std::string drive(1, letter), missing = drive + ":\\velk58\\settings.xml";
    const DWORD modeBefore = ::GetThreadErrorMode();
    ERawFile file, other;
    ASSERT_EQ(0, file.Open(folder_.File("held.bin").c_str(), kCreate | kWrite));
    for (const auto& [bad, flags] :
         {std::make_pair(folder_.File("missing.bin"), kRead), std::make_pair(std::string(), kRead),
          std::make_pair(folder_.File("no\\such\\folder.bin"), kCreate | kWrite),
          std::make_pair(missing, kRead | kShareRead), std::make_pair(missing, kCreate | kWrite),
          std::make_pair(drive + ":", kRead)})
        EXPECT_EQ(1, file.Open(bad.c_str(), flags)) << bad;
    EXPECT_EQ(1, file.Open(nullptr, kRead));
    EXPECT_EQ(modeBefore, ::GetThreadErrorMode());
    EXPECT_EQ(0, other.Open(folder_.File("held.bin").c_str(), kRead | kWrite));
    char buffer[4];
    EXPECT_EQ(0u, file.Read(buffer, 4) + file.Write("x", 1) + file.GetLength() + file.Seek(3, kBegin));
    EXPECT_NE(0, file.SetEndOfFile());
    EXPECT_EQ(nullptr, file.Duplicate());
}

// A reader sharing only reading keeps a writer out; the trail byte of 表
// (0x95 0x5C) is no separator before the file name.
TEST_F(RawFileTest, SharingAndTheFileName) {
    ERawFile reader, writer;
    ASSERT_EQ(0, reader.Open(folder_.File("表.txt").c_str(), kCreate | kWrite | kRead | kShareRead));
    EXPECT_STREQ("表.txt", reader.GetFileName());
    EXPECT_EQ(1, writer.Open(folder_.File("表.txt").c_str(), kWrite | kShareRead | kShareWrite));
    reader.Close();
    ASSERT_EQ(0, reader.Open(folder_.File("表.txt").c_str(), kRead | kShareWrite));
    EXPECT_EQ(0, writer.Open(folder_.File("表.txt").c_str(), kWrite | kShareRead));
}

TEST_F(RawFileTest, SeekFromEachOriginTruncateAndPassFourGigabytes) {
    ERawFile file;
    ASSERT_EQ(0, file.Open(folder_.File("seek.bin").c_str(), kCreate | kRead | kWrite));
    ASSERT_EQ(10u, file.Write("0123456789", 10));
    EXPECT_EQ(7u, file.Seek(-3, kEnd));
    EXPECT_EQ(9u, file.Seek(2, ESLFileObject::FromCurrent));
    EXPECT_EQ(4u, file.Seek(4, kBegin));
    EXPECT_EQ(0u, file.Seek(-100, ESLFileObject::FromCurrent) + file.Seek(0, 7)) << "before the start; no origin";
    EXPECT_EQ(4u, file.GetPosition());
    EXPECT_EQ(0, file.SetEndOfFile());
    EXPECT_EQ(4u, file.GetLength());
    const std::uint64_t beyond = 0x100000010ull;
    EXPECT_EQ(beyond, file.SeekLarge(static_cast<std::int64_t>(beyond), kBegin));
    ASSERT_EQ(0, file.SetEndOfFile()) << "no room for a sparse file";
    EXPECT_EQ(beyond, file.GetLargeLength());
    EXPECT_EQ(beyond, file.GetLargePosition());
    EXPECT_EQ(0u, file.GetLength() + file.GetPosition()) << "values beyond 32 bits must not be cut to their low bits";
}

// A reader's copy has its own position, a writer's shares it; an attached
// handle is the object's own copy.
TEST_F(RawFileTest, DuplicateAndAttachCopyTheHandle) {
    const std::string path = folder_.File("dup.bin");
    ScratchFolder::WriteBytes(path, "abcdef");
    ERawFile reader, writer;
    ASSERT_EQ(0, reader.Open(path.c_str(), kRead | kShareRead | kShareWrite));
    char c = 0;
    ASSERT_EQ(1u, reader.Read(&c, 1));
    std::unique_ptr<ESLFileObject> copy = reader.Duplicate();
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ("abcdef", ReadAll(*copy));
    EXPECT_EQ(1u, reader.GetPosition());
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(0, writer.Attach(h, kWrite));
    ::CloseHandle(h);
    copy = writer.Duplicate();
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(3u, copy->Write("abc", 3));
    EXPECT_EQ(3u, writer.GetPosition());
    EXPECT_EQ(1, writer.Attach(INVALID_HANDLE_VALUE, kRead));
    EXPECT_FALSE(writer.IsOpen());
}

// Names by exact text, bases through the chain, and casts that move the
// pointer to a second base.
TEST(ESLObjectNames, ClassesAnswerTheirNamesAndCastToTheirBases) {
    ERawFile raw;
    EMemoryFile memory;
    EStreamFileBuffer both;
    ESLFileObject* asFile = &both;
    for (const auto& [object, name, base, sibling] :
         {std::make_tuple<ESLObject*>(&raw, "ERawFile", "ESLObject", "EMemoryFile"),
          std::make_tuple<ESLObject*>(&memory, "EMemoryFile", "ESLFileObject", "ERawFile")}) {
        EXPECT_STREQ(name, object->ClassName());
        EXPECT_EQ(object, object->DynamicCast(name));
        EXPECT_TRUE(object->IsKindOf(base) && object->DynamicCast(base)) << name;
        EXPECT_FALSE(object->IsKindOf(sibling) || object->IsKindOf(nullptr) || object->IsKindOf("erawfile")) << name;
    }
    EXPECT_EQ(static_cast<ESLFileObject*>(&raw), ESLTypeCast<ESLFileObject>(static_cast<ESLObject*>(&raw)));
    EXPECT_EQ(nullptr, ESLTypeCast<EMemoryFile>(static_cast<ESLObject*>(&raw)));
    EXPECT_STREQ("EStreamFileBuffer", asFile->ClassName());
    EXPECT_EQ(static_cast<EStreamBuffer*>(&both), asFile->DynamicCast("EStreamBuffer")) << "the second base";
    EXPECT_TRUE(asFile->IsKindOf("ESLFileObject") && both.IsKindOf("EStreamBuffer"));
}

// Bytes past the data read as zeros (after a seek, a truncation grown again,
// beyond the block); positions stop at 32 bits.
TEST(MemoryFile, SeeksClampAndWhatLiesPastTheDataIsZeros) {
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(16));
    ASSERT_EQ(8u, file.Write("ABCDEFGH", 8));
    EXPECT_EQ(0u, file.Seek(-5, kBegin) + file.Seek(-50, kEnd));
    EXPECT_EQ(7u, file.Seek(-1, kEnd));
    EXPECT_EQ(7u, file.Seek(0, 9)) << "an unknown origin keeps the position";
    file.Seek(2, kBegin);
    EXPECT_EQ(0, file.SetEndOfFile());
    EXPECT_EQ(2u, file.GetLength());
    EXPECT_EQ(10u, file.Seek(10, kBegin));
    file.Seek(0, kBegin);
    EXPECT_EQ(std::string("AB\0\0\0\0\0\0\0\0", 10), ReadAll(file));
    EXPECT_EQ(0x7FFFFFF0u, file.Seek(0x7FFFFFF0, kBegin));
    EXPECT_EQ(16u, file.GetCapacity()) << "the length grows without the block";
    char buffer[20];
    file.Seek(-8, kEnd);
    EXPECT_EQ(std::string(8, '\0'), std::string(buffer, file.Read(buffer, sizeof(buffer))));
    file.Seek(1, kBegin);
    EXPECT_EQ(std::string("B") + std::string(19, '\0'), std::string(buffer, file.Read(buffer, 20)));
    EXPECT_EQ(0xFFFFFFEFu, file.Seek(0x7FFFFFFF, kEnd));
    EXPECT_EQ(0xFFFFFFFFu, file.Seek(0x7FFFFFFF, ESLFileObject::FromCurrent)) << "clamped to 32 bits";
    EXPECT_EQ(0u, file.Write("a", 1));
    EXPECT_EQ(0xFFFFFFFFu, file.SeekLarge(0x200000000ll, kBegin)) << "no move beyond 32 bits";
}

// A view takes no writes; GetBuffer grows the block to the whole length.
TEST(MemoryFile, ViewsCreateAndTheWholeBuffer) {
    char block[] = "original";
    EMemoryFile file;
    ASSERT_EQ(0, file.Open(block, 8));
    EXPECT_EQ(0u, file.Write("X", 1));
    EXPECT_EQ(8u, file.Seek(100, kBegin)) << "a view stops at its end";
    EXPECT_EQ(1, file.Open(nullptr, 5));
    ASSERT_EQ(0, file.Create(4));
    EXPECT_EQ(kCreate | kRead | kWrite, file.GetOpenFlags());
    ASSERT_EQ(2u, file.Write("ok", 2));
    file.Seek(100000, kBegin);
    const BYTE* data = static_cast<const BYTE*>(file.GetBuffer());
    EXPECT_LE(100000u, file.GetCapacity());
    EXPECT_EQ("ok", std::string(data, data + 2));
    EXPECT_EQ(0, data[99999]);
    EXPECT_EQ(1, file.Create(0xF0000000u));
    EXPECT_EQ(0u, file.GetOpenFlags() + file.Write("a", 1));
}

// Each write may move the block: without the lock a write would be lost.
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
    file.Seek(0, kBegin);
    const std::string bytes = ReadAll(file);
    EXPECT_EQ(20000, std::count(bytes.begin(), bytes.end(), 'a'));
    EXPECT_EQ(20000, std::count(bytes.begin(), bytes.end(), 'b'));
}

// A file of exactly 8192 bytes needs a second read that returns 0.
TEST(StreamReadFromFile, ReadsUntilAShortReadAtEveryBlockBoundary) {
    ScratchFolder folder;
    for (const auto& [size, reads] : {std::make_pair(0, 1), std::make_pair(8191, 1), std::make_pair(8192, 2),
                                      std::make_pair(8193, 2), std::make_pair(100000, 13)}) {
        std::string data(size, '\0');
        for (int i = 0; i < size; ++i)
            data[i] = static_cast<char>(i * 7 + i / 251);
        ScratchFolder::WriteBytes(folder.File("data.bin"), data);
        CountingFile counting;
        ERawFile raw;
        ASSERT_EQ(0, counting.Open(data.data(), size));
        ASSERT_EQ(0, raw.Open(folder.File("data.bin").c_str(), kRead));
        for (ESLFileObject* file : {static_cast<ESLFileObject*>(&counting), static_cast<ESLFileObject*>(&raw)}) {
            EStreamBuffer sb;
            EXPECT_EQ(0, sb.ReadFromFile(*file));
            EXPECT_TRUE(data == Peek(sb)) << size << " " << file->ClassName();
        }
        EXPECT_EQ(reads, counting.reads) << size;
    }
}

// Reading appends and trusts no overlong read; Flush queues only what is
// counted; an empty queue is safe.
TEST(StreamBuffer, AppendsFlushesAndStaysSafeWhenEmpty) {
    EStreamBuffer sb("head", 4), empty;
    const std::string data(100, 'd');
    CountingFile file;
    ASSERT_EQ(0, file.Open(data.data(), 100));
    file.overclaim = 9000;  // once claims more than the 8192 it was asked for
    EXPECT_EQ(0, sb.ReadFromFile(&file));
    EXPECT_EQ(2, file.reads);
    EXPECT_EQ(4u + 8192u, sb.GetLength());
    EXPECT_EQ("head", Peek(sb, 4));
    EXPECT_NE(0, sb.ReadFromFile(nullptr));
    ASSERT_NE(nullptr, empty.PutBuffer(8));
    EXPECT_NE(0, empty.Flush(1u << 20)) << "more than the room was never written";
    EXPECT_NE(0, EStreamBuffer().Flush(1)) << "no room at all";
    EXPECT_EQ(0, EStreamBuffer().Flush(0) + empty.Write(nullptr, 0));
    EXPECT_EQ("", Peek(empty, 100));
    EXPECT_EQ(0u, empty.Read(nullptr, 1) + empty.GetLength());
    EXPECT_NE(0, empty.Write(nullptr, 3));
}

// Random writes, flushes, reads, accepts and peeks agree with a plain queue.
TEST(StreamBuffer, RandomOperationsMatchAByteQueue) {
    std::mt19937 random(5803);
    EStreamBuffer sb;
    std::deque<char> model;
    for (int step = 0; step < 3000; ++step) {
        const DWORD n = random() % 9001, op = random() % 5;
        const std::size_t taken = std::min<std::size_t>(n, model.size());
        const std::string front(model.begin(), model.begin() + (op == 4 && !n ? model.size() : taken));
        std::string bytes(n, '\0');
        std::generate(bytes.begin(), bytes.end(), [&random] { return static_cast<char>(random()); });
        if (op == 0) {
            ASSERT_EQ(0, sb.Write(bytes.data(), n));
        } else if (op == 1) {  // half of the room asked for is written
            bytes.resize(n / 2);
            std::memcpy(sb.PutBuffer(n), bytes.data(), n / 2);
            ASSERT_EQ(model.size(), sb.GetLength()) << "nothing is queued before Flush";
            ASSERT_EQ(0, sb.Flush(n / 2));
        } else if (op == 2) {
            ASSERT_EQ(front, bytes.substr(0, sb.Read(&bytes[0], n))) << step;
        } else if (op == 3) {
            ASSERT_EQ(taken, sb.Accept(n));
        } else {
            ASSERT_EQ(front, Peek(sb, n)) << step;
        }
        if (op < 2)
            model.insert(model.end(), bytes.begin(), bytes.end());
        else if (op < 4)
            model.erase(model.begin(), model.begin() + taken);
        ASSERT_EQ(model.size(), sb.GetLength()) << step;
    }
}

}  // namespace
