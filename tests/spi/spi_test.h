// The test plug-in spi_test: answers chosen by the test that loads it.
//
// GetPluginInfo answers the texts set with TestSetInfo (default "00IN" and
// "*.tpic"); a text longer than the buffer fills it with no terminator.
// GetPicture reads its "file" as a TestPicture header followed by the info
// block and the pixel block to hand back, so that a test writes the exact
// result, hostile or not. GetArchiveInfo answers its length argument with
// the handle its path names ("live", "freed", anything else: none).
// GetFileInfo and GetFile are not exported.
//
// Each copy of the DLL under another name is a module of its own with its
// own answers: a test loads the copy, sets the answers, lets the host load
// it too, and then drops its own reference.
#pragma once

#include <windows.h>

#include <cstdint>

enum : unsigned {
    kTestEndless = 0x1,  // entries past the texts answer "*.e<n>" for ever
    kTestThrow = 0x2,    // every plug-in export throws
};

enum : std::uint32_t {
    kTestNullInfo = 0x1,  // GetPicture hands back a null info handle
    kTestNullBits = 0x2,
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

// What the last GetPicture did: the handles it handed back and the progress
// calls it made.
struct TestPictureTrace {
    HLOCAL hInfo;
    HLOCAL hBits;
    std::uint32_t progressCalls;
};

extern "C" {
typedef void (*TestSetInfoProc)(const char* const* texts, int count, unsigned flags);
typedef TestPictureTrace (*TestLastPictureProc)();
}
