// The archive plug-in, called directly as the host calls it, beside the
// physical limits: zlib's raw inflate of the same 20 MiB entry, and one plain
// libarchive pass over the whole solid 7z. The archives are made by
// make_bench_archives.py at build time.
#include <windows.h>

#include <archive.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <esl_handle.h>

#include "bench_timing.h"
#include "qel_spi.h"

namespace {

std::string WinPath(std::string path) {
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return path.size() > 1 && path[0] == '\\' ? "Z:" + path : path;
}

std::string ArchivePath(const char* name) {
    return WinPath(VELK58_BENCH_ARCHIVES) + "\\" + name;
}

// A freshly loaded plug-in: nothing cached from an earlier run.
struct Plugin {
    esl::UniqueModule module{::LoadLibraryA(WinPath(VELK58_ARCHIVE_PLUGIN).c_str())};
    SPI_GetArchiveInfo GetArchiveInfo = Get<SPI_GetArchiveInfo>("GetArchiveInfo");
    SPI_GetFile GetFile = Get<SPI_GetFile>("GetFile");

    template <class Fn>
    Fn Get(const char* name) {
        return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module.get(), name))) : nullptr;
    }
    bool Ok() const { return GetArchiveInfo && GetFile; }

    std::vector<SpiFileInfo> List(const std::string& path) const {
        esl::UniqueLocal block;
        std::vector<SpiFileInfo> records;
        if (GetArchiveInfo(path.c_str(), 0, 0, block.put()) != 0)
            return records;
        esl::LocalLockGuard<const SpiFileInfo> lock(block.get());
        for (size_t k = 0; lock.get()[k].method[0]; ++k)
            records.push_back(lock.get()[k]);
        return records;
    }
    // The bytes are copied out, as the host does.
    bool Read(const std::string& path, const SpiFileInfo& r, std::vector<char>& out) const {
        esl::UniqueLocal block;
        if (GetFile(path.c_str(), r.position, reinterpret_cast<LPSTR>(block.put()), 0x0100, nullptr, 0) != 0)
            return false;
        esl::LocalLockGuard<const char> lock(block.get());
        out.assign(lock.get(), lock.get() + r.filesize);
        return true;
    }
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

template <class T>
T Field(const std::string& bytes, size_t at) {
    T v{};
    if (at + sizeof v <= bytes.size())
        std::memcpy(&v, bytes.data() + at, sizeof v);
    return v;
}

// zlib alone on the entry's raw deflate stream, into a fresh buffer.
double RawInflateMs(const std::string& zip) {
    size_t data = 30 + Field<std::uint16_t>(zip, 26) + Field<std::uint16_t>(zip, 28);
    std::uint32_t packed = Field<std::uint32_t>(zip, 18), size = Field<std::uint32_t>(zip, 22);
    return MedianMs(5, [&] {
        std::vector<char> out(size);
        z_stream z{};
        inflateInit2(&z, -15);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zip.data() + data));
        z.avail_in = packed;
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = size;
        if (inflate(&z, Z_FINISH) != Z_STREAM_END)
            std::printf("raw inflate failed\n");
        inflateEnd(&z);
    });
}

// libarchive alone, every entry read once, in archive order.
double LibarchivePassMs(const std::string& path) {
    return MedianMs(3, [&] {
        struct archive* a = archive_read_new();
        archive_read_support_format_7zip(a);
        std::vector<char> out(1 << 20);
        if (archive_read_open_filename(a, path.c_str(), 256 << 10) == ARCHIVE_OK) {
            archive_entry* e;
            while (archive_read_next_header(a, &e) == ARCHIVE_OK)
                while (archive_read_data(a, out.data(), out.size()) > 0) {
                }
        }
        archive_read_free(a);
    });
}

}  // namespace

int main() {
    if (!Plugin().Ok()) {
        std::printf("archive plug-in not found: %s\n", VELK58_ARCHIVE_PLUGIN);
        return 1;
    }
    const std::string open10000 = ArchivePath("open10000.cbz"), big = ArchivePath("big.cbz"),
                      solid = ArchivePath("solid200.cb7");

    {
        // A copy per run: each open misses the plug-in's table-of-contents cache.
        Plugin spi;
        std::vector<std::string> copies;
        for (int k = 0; k < 5; ++k) {
            copies.push_back(open10000 + "." + std::to_string(k) + ".cbz");
            ::CopyFileA(open10000.c_str(), copies.back().c_str(), FALSE);
        }
        size_t run = 0;
        std::printf("bench zip_open_10000_ms %.2f\n", MedianMs(5, [&] {
                        if (spi.List(copies[run++]).size() != 10000)
                            std::printf("open10000.cbz: wrong count\n");
                    }));
        for (const std::string& copy : copies)
            ::DeleteFileA(copy.c_str());
    }
    {
        Plugin spi;  // unloaded after: the solid read below starts cold
        std::vector<SpiFileInfo> entries = spi.List(big);
        std::printf("bench zip_extract_20mb_ms %.2f\n", MedianMs(5, [&] {
                        std::vector<char> out;
                        if (entries.size() != 1 || !spi.Read(big, entries[0], out))
                            std::printf("big.cbz: not read\n");
                    }));
    }
    std::printf("bench zlib_inflate_20mb_ms %.2f\n", RawInflateMs(ReadFile(big)));

    std::printf("bench solid7z_read_all_pages_ms %.2f\n", MedianMs(3, [&] {
                    Plugin spi;
                    std::vector<char> out;
                    std::vector<SpiFileInfo> pages = spi.List(solid);
                    if (pages.size() != 200)
                        std::printf("solid200.cb7: %zu pages listed\n", pages.size());
                    for (const SpiFileInfo& r : pages)
                        if (!spi.Read(solid, r, out))
                            std::printf("solid200.cb7: page %u not read\n", r.position);
                }));
    std::printf("bench solid7z_extract_once_ms %.2f\n", LibarchivePassMs(solid));
    return 0;
}
