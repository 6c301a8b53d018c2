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

// The expected line, written out independently of the heap's own formatting.
std::string Line(const void* p, int size, int shown) {
    char text[128];
    int n =
        std::snprintf(text, sizeof text, "block %08" PRIXPTR "H (%d bytes) :", reinterpret_cast<uintptr_t>(p), size);
    for (int i = 0; i < shown; ++i)
        n += std::snprintf(text + n, sizeof text - n, " %02X", static_cast<const unsigned char*>(p)[i]);
    return std::string(text) + "\n";
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
    EXPECT_EQ(kTitle + Line(c, 40, 16) + Line(b, 16, 16) + Line(a, 8, 8) + Line(large, 40000, 16), DumpCapture::Text());
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
        EXPECT_EQ(kTitle + Line(c, 32, 16) + Line(b, 32, 16), DumpCapture::Text());
    }
    DumpCapture capture;
    eslHeapDump(heap.get(), 0);
    EXPECT_EQ(kTitle, DumpCapture::Text()) << "the title still says blocks remain";
}
