// The test plug-in spi_test. GetPluginInfo answers the texts set with
// TestSetInfo (default "00IN", "", "*.tpic;*.dib"), one longer than the buffer
// with no terminator. GetPicture hands back the blocks after the TestPicture
// its file starts with. GetArchiveInfo answers its length with the list its
// path names ("live", "freed", else none). GetFileInfo and GetFile are not
// exported. Each copy of the DLL under another name has answers of its own.
#pragma once

#include <windows.h>

#include <cstdint>

enum : unsigned {
    kTestEndless = 0x1,   // entries past the texts answer "*.e<n>" for ever
    kTestThrow = 0x2,     // every plug-in export throws
    kTestNullInfo = 0x1,  // TestPicture flags: GetPicture hands back a null info handle
    kTestNullBits = 0x2,  // or a null pixel handle
};

#pragma pack(push, 1)
struct TestPicture {
    char magic[4];           // "TPIC"
    std::int32_t result;     // answered unless a progress call asks to stop (then 1)
    std::uint32_t flags;     // kTestNull*
    std::uint32_t infoSize;  // bytes of the info block after this header; 0 gives an unlockable handle
    std::uint32_t bitsSize;  // bytes of the pixel block after the info block
    std::uint32_t steps;     // progress calls before answering
};
#pragma pack(pop)

// What the last GetPicture handed back, and the progress calls it made.
struct TestPictureTrace {
    HLOCAL hInfo;
    HLOCAL hBits;
    std::uint32_t progressCalls;
};

extern "C" {
typedef void (*TestSetInfoProc)(const char* const* texts, int count, unsigned flags);
typedef TestPictureTrace (*TestLastPictureProc)();
}
