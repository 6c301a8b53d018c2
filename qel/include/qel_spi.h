// The Susie plug-in interface: the exports the host calls, their types, and
// the archive file-information record. Shared by the host and by our own
// plug-ins, which include only this header.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Results of every export.
enum : int {
    kSpiOk = 0,
    kSpiNotImplemented = -1,
    kSpiAborted = 1,
    kSpiUnknownFormat = 2,
    kSpiInternalError = 8,
};

// Flags the host passes.
enum : unsigned {
    kSpiInputMemory = 0x0001,      // GetPicture: buf is the file image
    kSpiIgnoreCase = 0x0080,       // GetFileInfo: names without letter case
    kSpiFileToMemory = 0x0100,     // GetFile: archive on disk, output to memory
};

// Progress: (numerator, denominator, callback data); non-zero asks to stop.
// The data is pointer-sized: a long would truncate a pointer on x86_64.
typedef int(__stdcall* SPI_PROGRESS)(int nNum, int nDenom, LONG_PTR lData);

typedef int(__stdcall* SPI_GetPluginInfo)(int infono, LPSTR buf, int buflen);
typedef int(__stdcall* SPI_IsSupported)(LPCSTR filename, void* dw);
typedef int(__stdcall* SPI_GetPictureInfo)(LPCSTR buf, LONG_PTR len, unsigned int flag, void* lpInfo);
typedef int(__stdcall* SPI_GetPicture)(LPCSTR buf, LONG_PTR len, unsigned int flag, HLOCAL* pHBInfo,
                                       HLOCAL* pHBm, SPI_PROGRESS lpPrgressCallback, LONG_PTR lData);
typedef int(__stdcall* SPI_GetPreview)(LPCSTR buf, LONG_PTR len, unsigned int flag, HLOCAL* pHBInfo,
                                       HLOCAL* pHBm, SPI_PROGRESS lpPrgressCallback, LONG_PTR lData);
typedef int(__stdcall* SPI_GetArchiveInfo)(LPCSTR buf, LONG_PTR len, unsigned int flag, HLOCAL* lphInf);
typedef int(__stdcall* SPI_GetFileInfo)(LPCSTR buf, LONG_PTR len, LPCSTR filename, unsigned int flag,
                                        void* lpInfo);
typedef int(__stdcall* SPI_GetFile)(LPCSTR src, LONG_PTR len, LPSTR dest, unsigned int flag,
                                    SPI_PROGRESS lpPrgressCallback, LONG_PTR lData);

// One archive entry. The timestamp is 8 bytes so that the layout is the same
// on both targets; plug-ins built with a 4-byte time type write 428-byte
// records instead (the host tells the two apart per archive).
#pragma pack(push, 1)
struct SpiFileInfo {
    unsigned char method[8];  // a first byte of 0 ends the list
    std::uint32_t position;   // handed back to GetFile
    std::uint32_t compsize;
    std::uint32_t filesize;
    std::int64_t timestamp;
    char path[200];
    char filename[200];
    std::uint32_t crc;
};
#pragma pack(pop)

static_assert(sizeof(SpiFileInfo) == 432, "record stride");
static_assert(offsetof(SpiFileInfo, position) == 8 && offsetof(SpiFileInfo, filesize) == 16, "sizes");
static_assert(offsetof(SpiFileInfo, path) == 28 && offsetof(SpiFileInfo, filename) == 228, "names");
static_assert(offsetof(SpiFileInfo, crc) == 428, "crc");

// The same record from a plug-in whose time type is 4 bytes.
constexpr std::size_t kSpiFileInfoSize = sizeof(SpiFileInfo);
constexpr std::size_t kSpiFileInfoSize32 = 428;
