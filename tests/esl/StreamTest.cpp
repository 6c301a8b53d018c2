#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "FileTestSupport.h"
#include "esl_file.h"
#include "esl_stream.h"

namespace {

std::string Pattern(std::size_t n) {
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}

std::string Drain(EStreamBuffer& sb) {
    std::string bytes(sb.GetLength(), '\0');
    const DWORD n = sb.Read(&bytes[0], static_cast<DWORD>(bytes.size()));
    bytes.resize(n);
    return bytes;
}

// A memory file that counts its reads, and may claim more than it was asked.
class CountingFile : public EMemoryFile {
public:
    DWORD Read(void* ptrBuffer, DWORD dwBytes) noexcept override {
        ++reads;
        const DWORD n = EMemoryFile::Read(ptrBuffer, dwBytes);
        return n + std::exchange(overclaim, 0);
    }
    int reads = 0;
    DWORD overclaim = 0;
};

TEST(StreamReadFromFile, ReadsUntilAShortReadAtEveryBlockBoundary) {
    struct Row {
        DWORD size;
        int reads;
    };
    // A file of exactly 8192 bytes needs a second read that returns 0.
    const Row rows[] = {{0, 1}, {1, 1}, {8191, 1}, {8192, 2}, {8193, 2}, {16384, 3}, {100000, 13}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        const std::string data = Pattern(row.size);
        CountingFile file;
        ASSERT_EQ(0, file.Open(data.data(), row.size));
        EStreamBuffer sb;
        EXPECT_EQ(0, sb.ReadFromFile(file));
        EXPECT_EQ(row.reads, file.reads);
        EXPECT_EQ(row.size, sb.GetLength());
        EXPECT_EQ(data, Drain(sb));
    }
}

TEST(StreamReadFromFile, RealFilesOfTheBoundarySizes) {
    ScratchFolder folder;
    for (DWORD size : {0u, 8191u, 8192u, 8193u}) {
        SCOPED_TRACE(size);
        const std::string path = folder.File("sb" + std::to_string(size) + ".bin");
        const std::string data = Pattern(size);
        ScratchFolder::WriteBytes(path, data);
        ERawFile file;
        ASSERT_EQ(0, file.Open(path.c_str(), ESLFileObject::modeRead | ESLFileObject::shareRead));
        EStreamBuffer sb;
        EXPECT_EQ(0, sb.ReadFromFile(file));
        DWORD length = 1;
        const void* whole = sb.GetBuffer(0, &length);
        ASSERT_NE(nullptr, whole);
        ASSERT_EQ(size, length);
        EXPECT_EQ(data, std::string(static_cast<const char*>(whole), length));
    }
}

TEST(StreamReadFromFile, AppendsToWhatIsQueuedAndTrustsNoOverlongRead) {
    EStreamBuffer sb("head", 4);
    const std::string data = Pattern(100);
    CountingFile file;
    ASSERT_EQ(0, file.Open(data.data(), 100));
    file.overclaim = 9000;  // once claims more than the 8192 it was asked for
    EXPECT_EQ(0, sb.ReadFromFile(&file));
    EXPECT_EQ(2, file.reads);
    EXPECT_EQ(4u + 8192u, sb.GetLength());
    EXPECT_EQ("head", Drain(sb).substr(0, 4));
    EXPECT_NE(0, sb.ReadFromFile(nullptr));
}

TEST(StreamBuffer, PutBufferAndFlushQueueOnlyWhatIsCounted) {
    EStreamBuffer sb;
    char* room = static_cast<char*>(sb.PutBuffer(10));
    ASSERT_NE(nullptr, room);
    std::memcpy(room, "abcdefghij", 10);
    EXPECT_EQ(0u, sb.GetLength()) << "nothing is queued before Flush";
    ASSERT_EQ(0, sb.Flush(4));
    EXPECT_EQ(4u, sb.GetLength());
    EXPECT_EQ("abcd", Drain(sb));

    room = static_cast<char*>(sb.PutBuffer(8));
    ASSERT_NE(nullptr, room);
    EXPECT_NE(0, sb.Flush(1u << 20)) << "more than the room was never written";
    EXPECT_EQ(0u, sb.GetLength());
    EXPECT_NE(0, EStreamBuffer().Flush(1)) << "no room at all";
    EXPECT_EQ(0, EStreamBuffer().Flush(0));
}

TEST(StreamBuffer, GetBufferJoinsSplitBlocksInOrder) {
    EStreamBuffer sb;
    const std::string data = Pattern(20000);
    for (std::size_t at = 0; at < data.size(); at += 5000)
        ASSERT_EQ(0, sb.Write(data.data() + at, 5000));
    DWORD length = 0;
    const char* p = static_cast<const char*>(sb.GetBuffer(12000, &length));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(12000u, length);
    EXPECT_EQ(data.substr(0, 12000), std::string(p, length));
    EXPECT_EQ(20000u, sb.GetLength()) << "GetBuffer only looks";
    EXPECT_EQ(7000u, sb.Accept(7000));
    p = static_cast<const char*>(sb.GetBuffer(0, &length));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(13000u, length);
    EXPECT_EQ(data.substr(7000), std::string(p, length));
    EXPECT_EQ(13000u, sb.Accept(1u << 30));
    EXPECT_EQ(0u, sb.GetLength());
}

TEST(StreamBuffer, AnEmptyQueueGivesAValidEmptyBuffer) {
    EStreamBuffer sb;
    DWORD length = 5;
    EXPECT_NE(nullptr, sb.GetBuffer(100, &length));
    EXPECT_EQ(0u, length);
    char c;
    EXPECT_EQ(0u, sb.Read(&c, 1));
    EXPECT_EQ(0u, sb.Read(nullptr, 1));
    EXPECT_EQ(0u, sb.Accept(1));
    EXPECT_NE(0, sb.Write(nullptr, 3));
    EXPECT_EQ(0, sb.Write(nullptr, 0));
}

// Writes, reads, accepts and peeks of random sizes agree with a plain queue.
TEST(StreamBuffer, RandomOperationsMatchAByteQueue) {
    std::mt19937 random(5803);
    std::uniform_int_distribution<int> op(0, 4);
    std::uniform_int_distribution<int> size(0, 9000);
    EStreamBuffer sb;
    std::deque<char> model;
    unsigned next = 0;
    for (int step = 0; step < 3000; ++step) {
        const DWORD n = static_cast<DWORD>(size(random));
        std::string got;
        switch (op(random)) {
        case 0: {
            std::string bytes(n, '\0');
            for (char& c : bytes)
                c = static_cast<char>(next++ * 13);
            ASSERT_EQ(0, sb.Write(bytes.data(), n));
            model.insert(model.end(), bytes.begin(), bytes.end());
            break;
        }
        case 1: {
            char* room = static_cast<char*>(sb.PutBuffer(n));
            ASSERT_NE(nullptr, room);
            const DWORD used = n / 2;
            for (DWORD i = 0; i < used; ++i)
                model.push_back(room[i] = static_cast<char>(next++ * 13));
            ASSERT_EQ(0, sb.Flush(used));
            break;
        }
        case 2: {
            got.resize(n);
            got.resize(sb.Read(&got[0], n));
            const std::string expected(model.begin(), model.begin() + got.size());
            ASSERT_EQ(expected, got) << "step " << step;
            model.erase(model.begin(), model.begin() + got.size());
            break;
        }
        case 3: {
            const DWORD dropped = sb.Accept(n);
            ASSERT_EQ(std::min<std::size_t>(n, model.size()), dropped);
            model.erase(model.begin(), model.begin() + dropped);
            break;
        }
        default: {
            DWORD length = 0;
            const char* p = static_cast<const char*>(sb.GetBuffer(n, &length));
            ASSERT_NE(nullptr, p);
            ASSERT_EQ((n == 0 || n > model.size()) ? model.size() : n, length);
            ASSERT_EQ(std::string(model.begin(), model.begin() + length), std::string(p, length)) << "step " << step;
        }
        }
        ASSERT_EQ(model.size(), sb.GetLength()) << "step " << step;
    }
}

TEST(StreamFileBuffer, IsAFileThatReadsWhatWasWritten) {
    EStreamFileBuffer file;
    ESLFileObject& asFile = file;
    EXPECT_EQ(5u, asFile.Write("hello", 5));
    EXPECT_EQ(6u, asFile.Write(" world", 6));
    EXPECT_EQ(11u, asFile.GetLength());
    char buffer[8] = {};
    EXPECT_EQ(5u, asFile.Read(buffer, 5));
    EXPECT_STREQ("hello", buffer);
    EXPECT_EQ(5u, asFile.GetPosition());
    EXPECT_EQ(7u, asFile.Seek(2, ESLFileObject::FromCurrent));
    EXPECT_EQ(7u, asFile.Seek(0, ESLFileObject::FromBegin)) << "it cannot go back";
    std::unique_ptr<ESLFileObject> copy = asFile.Duplicate();
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(4u, copy->Read(buffer, 8));
    EXPECT_EQ(0, std::memcmp("orld", buffer, 4));
    EXPECT_EQ(4u, file.EStreamBuffer::GetLength()) << "the copy took nothing from the original";
}

}  // namespace
