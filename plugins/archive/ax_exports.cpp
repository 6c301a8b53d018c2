// The exports of the archive plug-in. Each catches everything: nothing may
// cross the DLL boundary.
#include <windows.h>

#include <cstring>

#include <esl_handle.h>

#include "ax_archive.h"
#include "qel_spi.h"

namespace {

const char* const kPluginInfo[] = {
    "00AM",
    "velk58 archive plug-in (libarchive 3.6.2)",
    "*.zip;*.cbz;*.rar;*.cbr;*.7z;*.cb7;*.tar;*.cbt",
    "Comic archives (ZIP, RAR, 7z, TAR)",
};

// Input from a file on disk (the low bits are 0), output to memory.
constexpr unsigned kInputMask = 0x0007;
constexpr unsigned kOutputMask = 0x0700;

template <class Fn>
int Guarded(Fn&& fn) noexcept {
    try {
        return fn();
    } catch (...) {
        return kSpiInternalError;
    }
}

struct Magic {
    size_t offset;
    const char* bytes;
    size_t length;
    bool tarOnly;  // a compressed stream: a book only under a tar name
};
const Magic kMagics[] = {
    {0, "PK\3\4", 4, false},
    {0, "PK\5\6", 4, false},
    {0, "7z\xBC\xAF\x27\x1C", 6, false},
    {0, "Rar!\x1A\x07", 6, false},
    {257, "ustar", 5, false},
    {0, "\x1F\x8B", 2, true},
    {0, "BZh", 3, true},
    {0,
     "\xFD"
     "7zXZ\0",
     6, true},
    {0, "\x28\xB5\x2F\xFD", 4, true},
};

bool HasTarName(const char* name) {
    const char* dot = name ? std::strrchr(name, '.') : nullptr;
    return dot && (lstrcmpiA(dot, ".tar") == 0 || lstrcmpiA(dot, ".cbt") == 0);
}

bool LooksSupported(const char* name, const unsigned char* head, size_t length) {
    for (const Magic& m : kMagics)
        if (m.offset + m.length <= length && std::memcmp(head + m.offset, m.bytes, m.length) == 0 &&
            (!m.tarOnly || HasTarName(name)))
            return true;
    return false;
}

}  // namespace

extern "C" {

int __stdcall GetPluginInfo(int infono, LPSTR buf, int buflen) {
    return Guarded([&]() -> int {
        if (infono < 0 || infono >= static_cast<int>(sizeof kPluginInfo / sizeof kPluginInfo[0]) || !buf || buflen <= 0)
            return 0;
        lstrcpynA(buf, kPluginInfo[infono], buflen);
        return lstrlenA(buf);
    });
}

// dw is a file handle when its value fits 16 bits, otherwise the first 2 KiB
// of the file.
int __stdcall IsSupported(LPCSTR filename, void* dw) {
    return Guarded([&]() -> int {
        unsigned char head[2048] = {};
        size_t length = sizeof head;
        if ((reinterpret_cast<DWORD_PTR>(dw) & ~static_cast<DWORD_PTR>(0xFFFF)) == 0) {
            HANDLE file = static_cast<HANDLE>(dw);
            LARGE_INTEGER zero{}, was{};
            DWORD got = 0;
            if (!::SetFilePointerEx(file, zero, &was, FILE_CURRENT) ||
                !::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN))
                return 0;
            BOOL ok = ::ReadFile(file, head, sizeof head, &got, nullptr);
            ::SetFilePointerEx(file, was, nullptr, FILE_BEGIN);
            if (!ok)
                return 0;
            length = got;
        } else {
            std::memcpy(head, dw, sizeof head);
        }
        return LooksSupported(filename, head, length) ? 1 : 0;
    });
}

int __stdcall GetArchiveInfo(LPCSTR buf, LONG_PTR, unsigned int flag, HLOCAL* lphInf) {
    return Guarded([&]() -> int {
        if ((flag & kInputMask) != 0)
            return kSpiNotImplemented;
        if (!buf || !lphInf)
            return kSpiInternalError;
        *lphInf = nullptr;
        auto listing = ax::GetListing(buf);
        if (!listing)
            return kSpiUnknownFormat;
        // Ended by a zeroed record.
        size_t count = listing->entries.size();
        esl::UniqueLocal block(::LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, (count + 1) * sizeof(SpiFileInfo)));
        if (!block)
            return kSpiInternalError;
        {
            esl::LocalLockGuard<SpiFileInfo> records(block.get());
            if (!records.get())
                return kSpiInternalError;
            for (size_t k = 0; k < count; ++k)
                listing->Fill(listing->entries[k], records.get()[k]);
        }
        *lphInf = block.release();
        return kSpiOk;
    });
}

int __stdcall GetFileInfo(LPCSTR buf, LONG_PTR, LPCSTR filename, unsigned int flag, SpiFileInfo* lpInfo) {
    return Guarded([&]() -> int {
        if ((flag & kInputMask) != 0)
            return kSpiNotImplemented;
        if (!buf || !filename || !lpInfo)
            return kSpiInternalError;
        auto listing = ax::GetListing(buf);
        if (!listing)
            return kSpiUnknownFormat;
        const ax::Entry* entry = listing->Find(filename, (flag & kSpiIgnoreCase) != 0);
        if (!entry)
            return kSpiInternalError;
        listing->Fill(*entry, *lpInfo);
        return kSpiOk;
    });
}

// Only to memory: this plug-in never writes a file.
int __stdcall GetFile(LPCSTR src, LONG_PTR len, LPSTR dest, unsigned int flag, SPI_PROGRESS lpPrgressCallback,
                      LONG_PTR lData) {
    return Guarded([&]() -> int {
        if ((flag & kInputMask) != 0 || (flag & kOutputMask) != kSpiFileToMemory)
            return kSpiNotImplemented;
        if (!src || !dest || len <= 0 || static_cast<unsigned long long>(len) > 0xFFFFFFFFull)
            return kSpiInternalError;
        HLOCAL* out = reinterpret_cast<HLOCAL*>(dest);
        *out = nullptr;
        return ax::ExtractEntry(src, static_cast<std::uint32_t>(len), out, ax::Progress{lpPrgressCallback, lData});
    });
}

}  // extern "C"
