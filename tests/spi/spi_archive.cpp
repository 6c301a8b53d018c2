// The test archive plug-in whose archives describe its answers (see
// spi_archive.h). Every call reads the description anew, so that calls from
// several threads share nothing but the call counters.
#include "spi_archive.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "qel_spi.h"

namespace {

std::atomic<int> gCalls[3];

struct Entry {
    std::string method;
    std::string listedPosition, listedSize;
    std::string path, name;
    std::string flags;
    std::string data;
    std::uint32_t position;  // true position: the 1-based entry number
    bool Has(char flag) const { return flags.find(flag) != std::string::npos; }
};

struct Description {
    size_t stride = kSpiFileInfoSize;
    bool terminated = true;
    long blockDelta = 0;
    bool raw = false;
    bool noHandle = false;
    std::string rawBlock;
    std::vector<Entry> entries;
};

bool ReadFileBytes(const std::string& path, std::string& bytes) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = ::GetFileSize(file, nullptr), got = 0;
    bytes.assign(size, '\0');
    bool ok = size == 0 || (::ReadFile(file, &bytes[0], size, &got, nullptr) && got == size);
    ::CloseHandle(file);
    return ok;
}

// Every field, the empty ones at the end included.
std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == '\t')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

// Entry data resolved: a file beside the description, a pattern, or text.
std::string EntryData(const std::string& folder, const std::string& data, std::uint32_t position) {
    if (!data.empty() && data[0] == '@') {
        std::string bytes;
        ReadFileBytes(folder + data.substr(1), bytes);
        return bytes;
    }
    if (!data.empty() && data[0] == '*') {
        std::string bytes(std::stoul(data.substr(1)), '\0');
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = char(TestArchiveByte(position, i));
        return bytes;
    }
    return data;
}

bool Parse(LPCSTR archive, Description& d) {
    std::string text;
    if (!archive || !ReadFileBytes(archive, text))
        return false;
    const std::string path(archive);
    const std::string folder = path.substr(0, path.find_last_of("\\/") + 1);
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> f = SplitTabs(line);
        if (f.size() == 1 && f[0].empty())
            continue;
        if (f[0] == "stride" && f.size() == 2) {
            d.stride = std::stoul(f[1]);
        } else if (f[0] == "nohandle") {
            d.noHandle = true;
        } else if (f[0] == "noterm") {
            d.terminated = false;
        } else if (f[0] == "raw" && f.size() == 2) {
            d.raw = true;
            d.rawBlock = EntryData(folder, f[1], 0);
        } else if (f[0] == "block" && f.size() == 2) {
            d.blockDelta = std::stol(f[1]);
        } else if (f[0] == "e" && f.size() == 8) {
            Entry e{f[1], f[2], f[3], f[4], f[5], f[6], f[7], std::uint32_t(d.entries.size() + 1)};
            e.data = EntryData(folder, e.data, e.position);
            d.entries.push_back(e);
        } else {
            return false;  // not a description: an unknown format
        }
    }
    return d.stride == kSpiFileInfoSize || d.stride == kSpiFileInfoSize32;
}

void PutU32(char* p, std::uint32_t value) {
    std::memcpy(p, &value, sizeof(value));
}

// One record at the description's stride; the fields after the timestamp sit
// 4 bytes earlier in the short kind.
void WriteRecord(char* p, const Description& d, const Entry& e, bool listed) {
    const size_t shift = kSpiFileInfoSize - d.stride;
    std::memcpy(p, e.method.data(), std::min<size_t>(e.method.size(), 8));
    const std::uint32_t size = std::uint32_t(e.data.size());
    PutU32(p + offsetof(SpiFileInfo, position),
           listed && e.listedPosition != "-" ? std::uint32_t(std::stoul(e.listedPosition)) : e.position);
    PutU32(p + offsetof(SpiFileInfo, compsize), size);
    PutU32(p + offsetof(SpiFileInfo, filesize),
           listed && e.listedSize != "-" ? std::uint32_t(std::stoul(e.listedSize)) : size);
    std::memcpy(p + offsetof(SpiFileInfo, path) - shift, e.path.data(), std::min<size_t>(e.path.size(), 200));
    std::memcpy(p + offsetof(SpiFileInfo, filename) - shift, e.name.data(), std::min<size_t>(e.name.size(), 200));
}

HLOCAL MakeBlock(size_t size, const void* bytes, size_t count) {
    HLOCAL h = ::LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, size);
    if (h && count) {
        std::memcpy(::LocalLock(h), bytes, std::min(size, count));
        ::LocalUnlock(h);
    }
    return h;
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return text;
}

template <typename Fn>
int Guarded(int which, Fn&& fn) {
    ++gCalls[which];
    try {
        return fn();
    } catch (...) {
        return kSpiInternalError;
    }
}

}  // namespace

extern "C" {

int TestArchiveCalls(int which) {
    return which >= 0 && which < 3 ? gCalls[which].load() : -1;
}

int __stdcall GetPluginInfo(int infono, LPSTR buf, int buflen) {
    static const char* const kTexts[] = {"00AM", "test archives", "*.tqa", "test archive"};
    if (infono < 0 || infono >= 4 || buflen <= 0)
        return 0;
    std::strncpy(buf, kTexts[infono], size_t(buflen) - 1);
    buf[buflen - 1] = '\0';
    return int(std::strlen(buf));
}

int __stdcall GetArchiveInfo(LPCSTR buf, LONG_PTR, unsigned int, HLOCAL* lphInf) {
    return Guarded(kTestArchiveInfoCalls, [&] {
        Description d;
        if (!Parse(buf, d))
            return int(kSpiUnknownFormat);
        if (d.noHandle)
            return int(kSpiOk);
        if (d.raw) {
            *lphInf = MakeBlock(std::max<size_t>(d.rawBlock.size(), 1), d.rawBlock.data(), d.rawBlock.size());
            return *lphInf ? int(kSpiOk) : int(kSpiInternalError);
        }
        const size_t records = d.entries.size() + (d.terminated ? 1 : 0);
        std::string block(records * d.stride, '\0');
        for (size_t i = 0; i < d.entries.size(); ++i)
            WriteRecord(&block[i * d.stride], d, d.entries[i], true);
        const size_t size = size_t(std::max<long>(1, long(block.size()) + d.blockDelta));
        *lphInf = MakeBlock(size, block.data(), block.size());
        return *lphInf ? int(kSpiOk) : int(kSpiInternalError);
    });
}

int __stdcall GetFileInfo(LPCSTR buf, LONG_PTR, LPCSTR filename, unsigned int, void* lpInfo) {
    return Guarded(kTestFileInfoCalls, [&] {
        Description d;
        if (!Parse(buf, d) || !filename)
            return int(kSpiUnknownFormat);
        const std::string query = Lower(filename);
        for (const Entry& e : d.entries) {
            if (Lower(e.path.substr(0, 200) + e.name.substr(0, 200)) != query)
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
    return Guarded(kTestFileCalls, [&] {
        Description d;
        if (!Parse(src, d) || len < 1 || size_t(len) > d.entries.size())
            return int(kSpiUnknownFormat);
        const Entry& e = d.entries[size_t(len) - 1];
        if (e.Has('x'))
            return int(kSpiInternalError);
        HLOCAL* out = reinterpret_cast<HLOCAL*>(dest);
        *out = nullptr;
        if (e.Has('n'))
            return int(kSpiOk);
        const size_t size = e.data.size() - (e.Has('s') && !e.data.empty() ? 1 : 0);
        *out = MakeBlock(std::max<size_t>(size, 1), e.data.data(), size);
        if (*out && e.Has('f'))
            ::LocalFree(*out);  // a handle that is no longer one
        return *out ? int(kSpiOk) : int(kSpiInternalError);
    });
}

}  // extern "C"
