#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <utility>

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

// Both from a memory file that counts its reads and from a real file.
TEST(StreamReadFromFile, ReadsUntilAShortReadAtEveryBlockBoundary) {
    // A file of exactly 8192 bytes needs a second read that returns 0.
    const struct {
        DWORD size;
        int reads;
    } rows[] = {{0, 1}, {8191, 1}, {8192, 2}, {8193, 2}, {100000, 13}};
    ScratchFolder folder;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.size);
        const std::string data = Pattern(row.size), path = folder.File(std::to_string(row.size) + ".bin");
        CountingFile counting;
        ASSERT_EQ(0, counting.Open(data.data(), row.size));
        ScratchFolder::WriteBytes(path, data);
        ERawFile raw;
        ASSERT_EQ(0, raw.Open(path.c_str(), ESLFileObject::modeRead | ESLFileObject::shareRead));
        for (ESLFileObject* file : {static_cast<ESLFileObject*>(&counting), static_cast<ESLFileObject*>(&raw)}) {
            EStreamBuffer sb;
            EXPECT_EQ(0, sb.ReadFromFile(*file));
            DWORD length = 1;
            const void* whole = sb.GetBuffer(0, &length);
            ASSERT_NE(nullptr, whole);
            EXPECT_EQ(data, std::string(static_cast<const char*>(whole), length)) << file->ClassName();
        }
        EXPECT_EQ(row.reads, counting.reads);
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
    char head[4];
    ASSERT_EQ(4u, sb.Read(head, 4));
    EXPECT_EQ("head", std::string(head, 4));
    EXPECT_NE(0, sb.ReadFromFile(nullptr));
}

TEST(StreamBuffer, FlushQueuesOnlyWhatIsCountedAndAnEmptyQueueIsSafe) {
    EStreamBuffer sb;
    ASSERT_NE(nullptr, sb.PutBuffer(8));
    EXPECT_NE(0, sb.Flush(1u << 20)) << "more than the room was never written";
    EXPECT_EQ(0u, sb.GetLength());
    EXPECT_NE(0, EStreamBuffer().Flush(1)) << "no room at all";
    EXPECT_EQ(0, EStreamBuffer().Flush(0));
    DWORD length = 5;
    EXPECT_NE(nullptr, sb.GetBuffer(100, &length));
    EXPECT_EQ(0u, length);
    EXPECT_EQ(0u, sb.Read(nullptr, 1));
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
        std::string bytes(n, '\0');
        for (char& c : bytes)
            c = static_cast<char>(next++ * 13);
        switch (op(random)) {
        case 0:
            ASSERT_EQ(0, sb.Write(bytes.data(), n));
            model.insert(model.end(), bytes.begin(), bytes.end());
            break;
        case 1: {
            char* room = static_cast<char*>(sb.PutBuffer(n));
            ASSERT_NE(nullptr, room);
            std::memcpy(room, bytes.data(), n / 2);
            ASSERT_EQ(model.size(), sb.GetLength()) << "nothing is queued before Flush";
            ASSERT_EQ(0, sb.Flush(n / 2));
            model.insert(model.end(), bytes.begin(), bytes.begin() + n / 2);
            break;
        }
        case 2:
            bytes.resize(sb.Read(&bytes[0], n));
            ASSERT_EQ(std::string(model.begin(), model.begin() + bytes.size()), bytes) << "step " << step;
            model.erase(model.begin(), model.begin() + bytes.size());
            break;
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
