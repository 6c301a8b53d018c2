// The test plug-in spi_archive for "*.tqa": its "archive" is a text file of
// tab-separated lines that say what it answers, so that a test writes the
// exact table of contents, hostile or not. Every call reads it anew.
//   stride N   records of 432 bytes (8-byte time, the default) or 428
//   block D    the listing block D bytes longer (or shorter) than its records
//   nohandle   GetArchiveInfo answers success and hands back no block
//   raw DATA   the listing block is DATA as it stands
//   e METHOD POS SIZE PATH NAME FLAGS DATA   an entry at the 1-based position
//              of its line, of DATA's size; POS or SIZE other than "-" is
//              listed instead. DATA "@file" is that file beside the archive.
// FLAGS ("-" for none): GetFileInfo, which finds the first entry whose path
// and name equal the query without regard to ASCII case, does not find it (q);
// GetFile answers 8 (x), 0 with no handle (n), 0 with a handle it has freed
// (f), or a block one byte short (s).
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qel_spi.h"

namespace {

struct Entry {
    std::string method, listedPosition, listedSize, path, name, flags, data;
    std::uint32_t position;  // true position: the 1-based entry number
    bool Has(char flag) const { return flags.find(flag) != std::string::npos; }
};

struct Description {
    size_t stride = kSpiFileInfoSize;
    bool noHandle = false;
    std::string block;  // the listing block
    std::vector<Entry> entries;
};

// DATA resolved: "@file" is that file beside the description.
std::string Resolve(const std::string& folder, const std::string& data) {
    if (data.empty() || data[0] != '@')
        return data;
    std::ifstream in(folder + data.substr(1), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PutU32(char* p, std::uint32_t value) {
    std::memcpy(p, &value, sizeof(value));
}

// One record at the description's stride; the fields after the timestamp sit
// 4 bytes earlier in the short kind.
void WriteRecord(char* p, const Description& d, const Entry& e, bool listed) {
    const size_t shift = kSpiFileInfoSize - d.stride;
    const std::uint32_t size = std::uint32_t(e.data.size());
    std::memcpy(p, e.method.data(), std::min<size_t>(e.method.size(), 8));
    const bool truePosition = !listed || e.listedPosition == "-", trueSize = !listed || e.listedSize == "-";
    PutU32(p + offsetof(SpiFileInfo, position), truePosition ? e.position : std::stoul(e.listedPosition));
    PutU32(p + offsetof(SpiFileInfo, compsize), size);
    PutU32(p + offsetof(SpiFileInfo, filesize), trueSize ? size : std::stoul(e.listedSize));
    std::memcpy(p + offsetof(SpiFileInfo, path) - shift, e.path.data(), std::min<size_t>(e.path.size(), 200));
    std::memcpy(p + offsetof(SpiFileInfo, filename) - shift, e.name.data(), std::min<size_t>(e.name.size(), 200));
}

bool Parse(LPCSTR archive, Description& d) {
    std::ifstream in(archive ? archive : "", std::ios::binary);
    if (!in)
        return false;
    const std::string path(archive);
    const std::string folder = path.substr(0, path.find_last_of("\\/") + 1);
    bool raw = false;
    long delta = 0;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> f(1);  // every field, the empty ones at the end included
        for (char c : line)
            c == '\t' ? void(f.emplace_back()) : f.back().push_back(c);
        if (f[0] == "stride" && f.size() == 2) {
            d.stride = std::stoul(f[1]);
        } else if (f[0] == "nohandle") {
            d.noHandle = true;
        } else if (f[0] == "raw" && f.size() == 2) {
            raw = true;
            d.block = Resolve(folder, f[1]);
        } else if (f[0] == "block" && f.size() == 2) {
            delta = std::stol(f[1]);
        } else if (f[0] == "e" && f.size() == 8) {
            const std::uint32_t position = std::uint32_t(d.entries.size() + 1);
            d.entries.push_back({f[1], f[2], f[3], f[4], f[5], f[6], Resolve(folder, f[7]), position});
        } else if (!line.empty()) {
            return false;  // not a description: an unknown format
        }
    }
    if (d.stride != kSpiFileInfoSize && d.stride != kSpiFileInfoSize32)
        return false;
    if (!raw) {
        d.block.assign((d.entries.size() + 1) * d.stride, '\0');
        for (size_t i = 0; i < d.entries.size(); ++i)
            WriteRecord(&d.block[i * d.stride], d, d.entries[i], true);
        d.block.resize(size_t(std::max<long>(0, long(d.block.size()) + delta)));
    }
    return true;
}

// A block of at least one byte holding the bytes.
HLOCAL MakeBlock(const std::string& bytes) {
    HLOCAL h = ::LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, std::max<size_t>(bytes.size(), 1));
    if (h && !bytes.empty()) {
        std::memcpy(::LocalLock(h), bytes.data(), bytes.size());
        ::LocalUnlock(h);
    }
    return h;
}

// Parses the description and answers what fn answers.
template <typename Fn>
int Guarded(LPCSTR archive, Fn&& fn) {
    try {
        Description d;
        return Parse(archive, d) ? fn(d) : int(kSpiUnknownFormat);
    } catch (...) {
        return kSpiInternalError;
    }
}

}  // namespace

extern "C" {

int __stdcall GetPluginInfo(int infono, LPSTR buf, int buflen) {
    static const char* const kTexts[] = {"00AM", "test archives", "*.tqa", "test archive"};
    if (infono < 0 || infono >= 4 || buflen <= 0)
        return 0;
    ::lstrcpynA(buf, kTexts[infono], buflen);
    return ::lstrlenA(buf);
}

int __stdcall GetArchiveInfo(LPCSTR buf, LONG_PTR, unsigned int, HLOCAL* lphInf) {
    return Guarded(buf, [&](const Description& d) {
        return d.noHandle || (*lphInf = MakeBlock(d.block)) ? int(kSpiOk) : int(kSpiInternalError);
    });
}

int __stdcall GetFileInfo(LPCSTR buf, LONG_PTR, LPCSTR filename, unsigned int, void* lpInfo) {
    return Guarded(buf, [&](const Description& d) {
        for (const Entry& e : d.entries) {
            if (!filename || _stricmp((e.path.substr(0, 200) + e.name.substr(0, 200)).c_str(), filename) != 0)
                continue;
            if (e.Has('q'))
                break;
            std::memset(lpInfo, 0, d.stride);
            WriteRecord(static_cast<char*>(lpInfo), d, e, false);
            return int(kSpiOk);
        }
        return int(kSpiUnknownFormat);
    });
}

int __stdcall GetFile(LPCSTR src, LONG_PTR len, LPSTR dest, unsigned int, SPI_PROGRESS, LONG_PTR) {
    return Guarded(src, [&](const Description& d) {
        if (len < 1 || size_t(len) > d.entries.size())
            return int(kSpiUnknownFormat);
        const Entry& e = d.entries[size_t(len) - 1];
        if (e.Has('x'))
            return int(kSpiInternalError);
        HLOCAL* out = reinterpret_cast<HLOCAL*>(dest);
        *out = e.Has('n') ? nullptr : MakeBlock(e.data.substr(0, e.data.size() - (e.Has('s') && !e.data.empty())));
        if (*out && e.Has('f'))
            ::LocalFree(*out);  // a handle that is no longer one
        return *out || e.Has('n') ? int(kSpiOk) : int(kSpiInternalError);
    });
}

}  // extern "C"
