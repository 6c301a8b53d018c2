#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "HeapTestSupport.h"
#include "esl_heap.h"

using heap_test::DumpCapture;
using heap_test::ScopedHeap;

namespace {

// In Shift-JIS: "ESL " then の (82 CC) and 解 (89 F0) begin it.
const char kTitle[] = "ESL の解放されていないメモリブロックがあります\n";

// A dump line: the block's address, its length, then up to 16 bytes.
std::string Line(const void* p, const char* rest) {
    char address[32];
    std::snprintf(address, sizeof address, "%08" PRIXPTR, reinterpret_cast<uintptr_t>(p));
    return std::string("block ") + address + "H " + rest + "\n";
}

void* Filled(HESLHEAP heap, DWORD size, DWORD fill, unsigned char first) {
    auto* p = static_cast<unsigned char*>(eslHeapAllocate(heap, size, 0));
    for (DWORD i = 0; i < fill; ++i)
        p[i] = static_cast<unsigned char>(first + i);
    return p;
}

}  // namespace

TEST(HeapDump, ListsBlocksInUseInAddressOrder) {
    ScopedHeap heap;
    void* a = Filled(heap.get(), 5, 8, 0xA0);  // 8 bytes: only those are shown
    void* b = Filled(heap.get(), 16, 16, 0x10);
    void* gone = eslHeapAllocate(heap.get(), 24, 0);
    void* c = Filled(heap.get(), 40, 40, 0xF8);  // wraps past 0xFF
    eslHeapFree(heap.get(), gone, 0);
    void* large = Filled(heap.get(), 40000, 16, 0);  // in a segment of its own

    DumpCapture capture;
    eslHeapDump(heap.get(), 100);
    // Blocks are cut from the end of a segment: later ones lie lower.
    EXPECT_EQ(kTitle + Line(c, "(40 bytes) : F8 F9 FA FB FC FD FE FF 00 01 02 03 04 05 06 07") +
                  Line(b, "(16 bytes) : 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F") +
                  Line(a, "(8 bytes) : A0 A1 A2 A3 A4 A5 A6 A7") +
                  Line(large, "(40000 bytes) : 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"),
              DumpCapture::Text());
    EXPECT_EQ(5u, DumpCapture::Calls().size()) << "one write per line";
    EXPECT_EQ("ESL \x82\xCC\x89\xF0", DumpCapture::Text().substr(0, 8));
}

TEST(HeapDump, StopsAfterTheGivenNumberOfLines) {
    ScopedHeap heap;
    eslHeapAllocate(heap.get(), 32, ESL_HEAP_ZERO_INIT);
    void* b = eslHeapAllocate(heap.get(), 32, ESL_HEAP_ZERO_INIT);
    void* c = eslHeapAllocate(heap.get(), 32, ESL_HEAP_ZERO_INIT);
    {
        DumpCapture capture;
        eslHeapDump(heap.get(), 2);
        const char* const kZeros = "(32 bytes) : 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
        EXPECT_EQ(kTitle + Line(c, kZeros) + Line(b, kZeros), DumpCapture::Text());
    }
    DumpCapture capture;
    eslHeapDump(heap.get(), 0);
    EXPECT_EQ(kTitle, DumpCapture::Text()) << "the title still says blocks remain";
}
