#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "HeapTestSupport.h"
#include "esl_heap.h"

using heap_test::DumpCapture;
using heap_test::ScopedHeap;

namespace {

const char kTitle[] = "ESL の解放されていないメモリブロックがあります\n";

// The expected line, written out independently of the heap's own formatting.
std::string Line(const void* p, int size, int shown) {
    char head[64];
    std::snprintf(head, sizeof head, "block %08" PRIXPTR "H (%d bytes) :", reinterpret_cast<uintptr_t>(p), size);
    std::string line = head;
    for (int i = 0; i < shown; ++i) {
        char byte[8];
        std::snprintf(byte, sizeof byte, " %02X", static_cast<const unsigned char*>(p)[i]);
        line += byte;
    }
    return line + "\n";
}

void Fill(void* p, size_t n, unsigned char first) {
    for (size_t i = 0; i < n; ++i)
        static_cast<unsigned char*>(p)[i] = static_cast<unsigned char>(first + i);
}

}  // namespace

TEST(HeapDump, TitleIsTheShiftJisText) {
    // "ESL " then the Shift-JIS bytes of の (82 CC) and 解 (89 F0).
    EXPECT_EQ(0, std::memcmp(kTitle, "ESL \x82\xCC\x89\xF0", 8));
}

TEST(HeapDump, EmptyHeapWritesNothing) {
    ScopedHeap heap;
    DumpCapture capture;
    eslHeapDump(heap.get(), 100);
    void* p = eslHeapAllocate(heap.get(), 64, 0);
    eslHeapFree(heap.get(), p, 0);
    eslHeapDump(heap.get(), 100);
    EXPECT_EQ("", DumpCapture::Text());
}

TEST(HeapDump, ListsBlocksInUseInAddressOrder) {
    ScopedHeap heap;
    void* a = eslHeapAllocate(heap.get(), 5, 0);  // 8 bytes: only those are shown
    void* b = eslHeapAllocate(heap.get(), 16, 0);
    void* gone = eslHeapAllocate(heap.get(), 24, 0);
    void* c = eslHeapAllocate(heap.get(), 40, 0);
    Fill(a, 8, 0xA0);
    Fill(b, 16, 0x10);
    Fill(c, 40, 0xF8);  // wraps past 0xFF
    eslHeapFree(heap.get(), gone, 0);
    void* large = eslHeapAllocate(heap.get(), 40000, 0);  // in a segment of its own
    Fill(large, 16, 0);

    DumpCapture capture;
    eslHeapDump(heap.get(), 100);
    // Blocks are cut from the end of a segment: later ones lie lower.
    std::string expected =
        std::string(kTitle) + Line(c, 40, 16) + Line(b, 16, 16) + Line(a, 8, 8) + Line(large, 40000, 16);
    EXPECT_EQ(expected, DumpCapture::Text());
    EXPECT_EQ(5u, DumpCapture::Calls().size()) << "one write per line";
}

TEST(HeapDump, StopsAfterTheGivenNumberOfLines) {
    ScopedHeap heap;
    eslHeapAllocate(heap.get(), 32, ESL_HEAP_ZERO_INIT);
    void* b = eslHeapAllocate(heap.get(), 32, ESL_HEAP_ZERO_INIT);
    void* c = eslHeapAllocate(heap.get(), 32, ESL_HEAP_ZERO_INIT);
    DumpCapture capture;
    eslHeapDump(heap.get(), 2);
    EXPECT_EQ(std::string(kTitle) + Line(c, 32, 16) + Line(b, 32, 16), DumpCapture::Text());
    capture.Clear();
    eslHeapDump(heap.get(), 0);
    EXPECT_EQ(std::string(kTitle), DumpCapture::Text()) << "the title still says blocks remain";
}
