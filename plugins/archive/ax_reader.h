// One pass over an archive file through libarchive: headers in archive order,
// and the data of the current entry into a caller's block. Move-only owner
// of the file handle and the libarchive reader; libarchive reads through our
// callbacks, so the file's identity and length come from the same handle.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <archive.h>
#include <archive_entry.h>

#include <esl_handle.h>

#include "qel_spi.h"

namespace ax {

// What a cached table of contents or reader belongs to: the path as given,
// and the file's length and time of last change when it was opened.
struct Identity {
    std::string path;
    std::uint64_t size = 0;
    std::uint64_t written = 0;
    bool operator==(const Identity& o) const { return size == o.size && written == o.written && path == o.path; }
};

// The identity of the file at the path now; false when it cannot be read.
bool ReadIdentity(const char* path, Identity& id);

// The progress callback of GetFile, asked between blocks; true to stop.
struct Progress {
    SPI_PROGRESS callback = nullptr;
    LONG_PTR data = 0;
    bool Stop(std::uint64_t done, std::uint64_t total) const;
};

enum class ReadResult { kOk, kAborted, kFailed };

class CReader {
    struct Key {};  // only Open makes readers

public:
    // Null when the file cannot be opened or is no archive we read.
    static std::unique_ptr<CReader> Open(const char* path);
    explicit CReader(Key) {}
    ~CReader();
    CReader(const CReader&) = delete;
    CReader& operator=(const CReader&) = delete;

    const Identity& GetIdentity() const { return m_identity; }
    // Index of the header that NextHeader reads next.
    int NextIndex() const { return m_nNext; }
    // The next header, or null at the end or on a damaged archive (then
    // Broken() tells the two apart). Headers libarchive only half read
    // still count, so indices stay the same from pass to pass.
    archive_entry* NextHeader();
    bool Broken() const { return m_bBroken; }
    // The last header was read only in part: counted, never listed.
    bool HeaderDamaged() const { return m_bHeaderDamaged; }
    // libarchive's format code of the archive and of its outer filter.
    int Format() const;
    // Its name as libarchive gives it; for ZIP it names the current entry's method.
    const char* FormatName() const;
    bool PlainTar() const;

    // Reads the current entry's data into out, which holds exactly size
    // bytes: data that ends early, runs past size or fails its checksum fails.
    ReadResult ReadData(char* out, std::uint64_t size, const Progress& progress);

private:
    static la_ssize_t OnRead(struct archive*, void* self, const void** buffer);
    static la_int64_t OnSeek(struct archive*, void* self, la_int64_t offset, int whence);
    static la_int64_t OnSkip(struct archive*, void* self, la_int64_t request);

    // One window of the file in memory. libarchive seeks to every ZIP
    // entry's local header; a seek inside the window costs no system call.
    bool Fill(std::uint64_t at);

    Identity m_identity;
    esl::UniqueFile m_hFile;
    std::vector<char> m_window;
    std::uint64_t m_nWindowStart = 0;
    size_t m_nWindowLength = 0;
    std::uint64_t m_nPosition = 0;  // where libarchive reads next
    struct archive* m_pArchive = nullptr;
    int m_nNext = 0;
    bool m_bBroken = false;
    bool m_bHeaderDamaged = false;
};

}  // namespace ax
