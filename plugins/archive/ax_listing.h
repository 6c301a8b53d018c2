// The table of contents the host sees: regular files only, names checked and
// in the ANSI code page, in the viewer's natural order. An entry's position
// is its 1-based index in this order.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "ax_reader.h"
#include "qel_spi.h"

namespace ax {

struct Entry {
    int header = 0;  // index of its header in archive order
    std::uint32_t size = 0;
    std::int64_t time = 0;
    bool encrypted = false;
    char method[8] = {};
    std::string folder;  // ANSI; ends in '\' when not empty
    std::string name;    // ANSI
    std::wstring path;   // folder and name as the host reads them back
};

struct Listing {
    Identity identity;
    std::vector<Entry> entries;
    // Listed entry of each header index, as position (0: not listed).
    std::vector<std::uint32_t> positionOfHeader;
    // Entries read through one compressed stream (7z, RAR): skipping costs
    // as much as reading.
    bool solid = false;
    // The largest size believed: never over 1 GiB, nor over the archive's
    // length times the largest ratio of its methods.
    std::uint64_t sizeCap = 0;

    const Entry* At(std::uint32_t position) const;
    // First entry of that path ('/' and '\' alike); ignoreCase folds ASCII letters.
    const Entry* Find(const char* name, bool ignoreCase) const;
    std::uint32_t PositionOf(const Entry& entry) const {
        return static_cast<std::uint32_t>(&entry - entries.data()) + 1;
    }
    void Fill(const Entry& entry, SpiFileInfo& info) const;

private:
    // First position of each folded path; made on the first Find without case.
    mutable std::once_flag m_indexed;
    mutable std::unordered_map<std::wstring, std::uint32_t> m_byFoldedPath;
};

// Null when the file cannot be read or is no archive we read, damaged before
// its last header, or has more entries than a book can.
std::shared_ptr<const Listing> ReadListing(const char* path);

}  // namespace ax
