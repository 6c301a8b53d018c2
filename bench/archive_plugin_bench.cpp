// The archive plug-in beside the physical limits: zlib's raw inflate of the
// same 20 MiB entry, and one plain libarchive pass over the whole solid 7z.
// The open calls the plug-in directly; pages are read as the viewer reads
// them, through qel::ReadWholeFile. The archives are made by
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
#include "qel_archive.h"
#include "qel_buffer.h"
#include "qel_file.h"
#include "qel_spi.h"
#include "qel_susie.h"

namespace {

std::string WinPath(std::string path) {
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return path.size() > 1 && path[0] == '\\' ? "Z:" + path : path;
}

std::string ArchivePath(const char* name) {
    return WinPath(VELK58_BENCH_ARCHIVES) + "\\" + name;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// A copy per run, so that no cache of the plug-in or the host has seen it.
class Copies {
public:
    Copies(const std::string& path, const char* extension, int count) {
        for (int k = 0; k < count; ++k) {
            m_paths.push_back(path + "." + std::to_string(k) + extension);
            ::CopyFileA(path.c_str(), m_paths.back().c_str(), FALSE);
        }
    }
    ~Copies() {
        for (const std::string& p : m_paths)
            ::DeleteFileA(p.c_str());
    }
    const std::string& Next() { return m_paths[m_next++ % m_paths.size()]; }

private:
    std::vector<std::string> m_paths;
    size_t m_next = 0;
};

// qel::ReadWholeFile of a path inside an archive into a fresh buffer, as a
// loader thread reads a page.
bool ReadPage(const std::wstring& path) {
    ULONGLONG size = qel::GetFileSize(path.c_str());
    if (size == 0)
        return false;
    try {
        qel::CBuffer buffer(static_cast<DWORD>(size), 0, nullptr);
        qel::ReadWholeFile(path.c_str(), buffer.get(), buffer.size());
    } catch (...) {
        return false;
    }
    return true;
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
    // The plug-in's block alone, freed unread: what the host's copy adds is
    // the difference to a read through qel::ReadWholeFile.
    bool Extract(const std::string& path, std::uint32_t position) const {
        esl::UniqueLocal block;
        return GetFile(path.c_str(), position, reinterpret_cast<LPSTR>(block.put()), 0x0100, nullptr, 0) == 0;
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
    qel::CSpiManager::Instance().RegisterPlugin(Wide(WinPath(VELK58_ARCHIVE_PLUGIN)).c_str());
    const std::string open10000 = ArchivePath("open10000.cbz"), big = ArchivePath("big.cbz"),
                      solid = ArchivePath("solid200.cb7");

    {
        Plugin spi;
        Copies copies(open10000, ".cbz", 5);
        std::printf("bench zip_open_10000_ms %.2f\n", MedianMs(5, [&] {
                        if (spi.List(copies.Next()).size() != 10000)
                            std::printf("open10000.cbz: wrong count\n");
                    }));
    }

    const std::wstring bigPage = Wide(big) + L"\\big.bmp";
    if (!ReadPage(bigPage))
        std::printf("big.cbz: not read\n");
    std::printf("bench zip_extract_20mb_ms %.2f\n", MedianMs(5, [&] { ReadPage(bigPage); }));
    std::printf("bench zlib_inflate_20mb_ms %.2f\n", RawInflateMs(ReadFile(big)));
    {
        Plugin spi;
        std::vector<SpiFileInfo> entries = spi.List(big);
        std::printf("bench zip_getfile_20mb_ms %.2f\n", MedianMs(5, [&] {
                        if (entries.size() != 1 || !spi.Extract(big, entries[0].position))
                            std::printf("big.cbz: GetFile failed\n");
                    }));
    }

    Copies solidCopies(solid, ".cb7", 3);
    std::printf("bench solid7z_read_all_pages_ms %.2f\n", MedianMs(3, [&] {
                    const std::wstring book = Wide(solidCopies.Next());
                    qel::CArchive* archive = qel::CArchiveManager::Instance().GetArchive(book.c_str());
                    size_t read = 0;
                    if (archive)
                        for (const qel::CPath& page : archive->GetFileList())
                            read += ReadPage(book + L"\\" + page.c_str());
                    if (read != 200)
                        std::printf("solid200.cb7: %zu pages read\n", read);
                }));
    std::printf("bench solid7z_extract_once_ms %.2f\n", LibarchivePassMs(solid));
    return 0;
}
