// The test plug-in whose answers the tests choose (see spi_test.h).
#include "spi_test.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "qel_spi.h"

namespace {

// Per copy of the DLL; the tests call it from one thread.
std::vector<std::string> gTexts{"00IN", "", "*.tpic;*.dib"};
unsigned gFlags = 0;
TestPictureTrace gLastPicture{};

void ThrowIfAsked() {
    if (gFlags & kTestThrow)
        throw std::runtime_error("test plug-in throws");
}

int CopyAnswer(const std::string& text, LPSTR buf, int buflen) {
    const int n = int(std::min(text.size() + 1, size_t(std::max(buflen, 0))));
    std::memcpy(buf, text.c_str(), size_t(n));  // no room for the terminator when cut
    return std::min(n, int(text.size()));
}

// A movable block holding the bytes; size 0 gives a handle that cannot be locked.
HLOCAL MakeBlock(const char* bytes, std::uint32_t size) {
    HLOCAL h = ::LocalAlloc(LMEM_MOVEABLE, size);
    if (h && size) {
        std::memcpy(::LocalLock(h), bytes, size);
        ::LocalUnlock(h);
    }
    return h;
}

}  // namespace

extern "C" {

void TestSetInfo(const char* const* texts, int count, unsigned flags) {
    gTexts.assign(texts, texts + count);
    gFlags = flags;
}

TestPictureTrace TestLastPicture() {
    return gLastPicture;
}

int __stdcall GetPluginInfo(int infono, LPSTR buf, int buflen) {
    ThrowIfAsked();
    if (infono >= 0 && size_t(infono) < gTexts.size())
        return CopyAnswer(gTexts[size_t(infono)], buf, buflen);
    if ((gFlags & kTestEndless) && infono >= 2 && infono % 2 == 0)
        return CopyAnswer("*.e" + std::to_string((infono - 2) / 2), buf, buflen);
    return 0;
}

int __stdcall GetPicture(LPCSTR buf, LONG_PTR len, unsigned int flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                         SPI_PROGRESS progress, LONG_PTR lData) {
    ThrowIfAsked();
    TestPicture head;
    if (flag != kSpiInputMemory || len < LONG_PTR(sizeof head))
        return kSpiUnknownFormat;
    std::memcpy(&head, buf, sizeof head);
    if (std::memcmp(head.magic, "TPIC", 4) != 0 ||
        ULONGLONG(len) < sizeof head + ULONGLONG(head.infoSize) + head.bitsSize)
        return kSpiUnknownFormat;
    gLastPicture = TestPictureTrace{};
    for (std::uint32_t i = 0; i < head.steps; ++i) {
        ++gLastPicture.progressCalls;
        if (progress(int(i), int(head.steps), lData) != 0)
            return kSpiAborted;
    }
    const char* info = buf + sizeof head;
    gLastPicture.hInfo = (head.flags & kTestNullInfo) ? nullptr : MakeBlock(info, head.infoSize);
    gLastPicture.hBits = (head.flags & kTestNullBits) ? nullptr : MakeBlock(info + head.infoSize, head.bitsSize);
    *pHBInfo = gLastPicture.hInfo;
    *pHBm = gLastPicture.hBits;
    return head.result;
}

int __stdcall GetArchiveInfo(LPCSTR buf, LONG_PTR len, unsigned int, HLOCAL* lphInf) {
    ThrowIfAsked();
    const std::string mode = buf ? buf : "";
    if (mode == "live" || mode == "freed")
        *lphInf = ::LocalAlloc(LMEM_MOVEABLE, kSpiFileInfoSize);
    if (mode == "freed")
        ::LocalFree(*lphInf);
    return int(len);
}

}  // extern "C"
