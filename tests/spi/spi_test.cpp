// The test plug-in whose answers the tests choose (see spi_test.h).
#include "spi_test.h"

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "qel_spi.h"

namespace {

// One module per copy of the DLL, and the tests call it from one thread.
std::vector<std::string> gTexts{"00IN", "", "*.tpic"};
unsigned gFlags = 0;
TestPictureTrace gLastPicture{};

void ThrowIfAsked() {
    if (gFlags & kTestThrow)
        throw std::runtime_error("test plug-in throws");
}

int CopyAnswer(const std::string& text, LPSTR buf, int buflen) {
    if (buflen <= 0)
        return 0;
    if (text.size() < size_t(buflen)) {
        std::memcpy(buf, text.c_str(), text.size() + 1);
        return int(text.size());
    }
    std::memcpy(buf, text.data(), size_t(buflen));  // no room for the terminator
    return buflen;
}

// A movable block holding the bytes; size 0 gives a handle that cannot be locked.
HLOCAL MakeBlock(const char* bytes, std::uint32_t size) {
    HLOCAL h = ::LocalAlloc(LMEM_MOVEABLE, size);
    if (h && size) {
        void* p = ::LocalLock(h);
        std::memcpy(p, bytes, size);
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
