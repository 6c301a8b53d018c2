#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "HeapTestSupport.h"
#include "esl_heap.h"
#include "esl_heap_internal.h"

using esl::heap_detail::kStackChunkHeaderSize;
using esl::heap_detail::StackChunk;

namespace {

BYTE* Bytes(void* p) {
    return static_cast<BYTE*>(p);
}
StackChunk* FirstChunk(HSTACKHEAP h) {
    return reinterpret_cast<StackChunk*>(h);
}
size_t ChunkCount(HSTACKHEAP h) {
    size_t n = 0;
    for (StackChunk* c = FirstChunk(h); c; c = c->pNext)
        ++n;
    return n;
}

}  // namespace

TEST(StackHeap, RequestsAreRoundedToSixteenBytes) {
    HSTACKHEAP heap = eslStackHeapCreate(0, 0);
    ASSERT_NE(nullptr, heap);
    EXPECT_EQ(65536u - kStackChunkHeaderSize, FirstChunk(heap)->dwDataSize);
    BYTE* previous = Bytes(eslStackHeapAllocate(heap, 1));
    EXPECT_EQ(Bytes(heap) + kStackChunkHeaderSize, previous);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(previous) % 16);
    const DWORD kCases[][2] = {{0, 16}, {1, 16}, {16, 16}, {17, 32}, {100, 112}, {4096, 4096}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c[0]);
        BYTE* p = Bytes(eslStackHeapAllocate(heap, c[0]));
        EXPECT_EQ(previous + 16, p);
        previous = Bytes(eslStackHeapAllocate(heap, 16));
        EXPECT_EQ(p + c[1], previous);
    }
    eslStackHeapDestroy(heap);
}

TEST(StackHeap, FullChunkChainsANewOne) {
    HSTACKHEAP heap = eslStackHeapCreate(5000, 3000);  // 8192 and 4096 bytes
    StackChunk* first = FirstChunk(heap);
    EXPECT_EQ(8192u - kStackChunkHeaderSize, first->dwDataSize);
    EXPECT_EQ(4096u, first->dwGrowSize);
    void* a = eslStackHeapAllocate(heap, first->dwDataSize - 16);
    void* b = eslStackHeapAllocate(heap, 16);  // exactly fills the first chunk
    EXPECT_EQ(Bytes(a) + first->dwDataSize - 16, Bytes(b));
    EXPECT_EQ(1u, ChunkCount(heap));

    // The growth size, or the request plus the header when that is more.
    BYTE* c = Bytes(eslStackHeapAllocate(heap, 32));
    ASSERT_EQ(2u, ChunkCount(heap));
    StackChunk* second = first->pNext;
    EXPECT_EQ(second, first->pCurrent);
    EXPECT_EQ(4096u - kStackChunkHeaderSize, second->dwDataSize);
    EXPECT_EQ(second->pData, c);
    BYTE* d = Bytes(eslStackHeapAllocate(heap, 10000));
    ASSERT_EQ(3u, ChunkCount(heap));
    EXPECT_EQ(second->pNext->pData, d);
    EXPECT_EQ(12288u - kStackChunkHeaderSize, second->pNext->dwDataSize);
    std::memset(d, 0xEE, 10000);

    // Freeing keeps only the first chunk, emptied.
    eslStackHeapFree(heap);
    EXPECT_EQ(1u, ChunkCount(heap));
    EXPECT_EQ(first, first->pCurrent);
    EXPECT_EQ(a, eslStackHeapAllocate(heap, 8));
    eslStackHeapDestroy(heap);
}

TEST(StackHeap, BadUseFailsCleanly) {
    EXPECT_EQ(nullptr, eslStackHeapAllocate(nullptr, 16));
    eslStackHeapFree(nullptr);
    eslStackHeapDestroy(nullptr);
    EXPECT_EQ(nullptr, eslStackHeapCreate(0xFFFFFFFF, 0));
    HSTACKHEAP heap = eslStackHeapCreate(0, 0);
    EXPECT_EQ(nullptr, eslStackHeapAllocate(heap, 0xFFFFFFF8)) << "rounding must not wrap around";
    EXPECT_EQ(1u, ChunkCount(heap));
    {
        heap_test::RefusingSystem system(-1);
        eslHeapSetGlobalFlag(ESL_HEAP_NO_DIALOG);
        EXPECT_EQ(nullptr, eslStackHeapAllocate(heap, 100000));
        eslHeapSetGlobalFlag(0);
    }
    EXPECT_NE(nullptr, eslStackHeapAllocate(heap, 100000));
    eslStackHeapDestroy(heap);
}

TEST(StackHeap, ThreeThreadsGetDisjointMemory) {
    HSTACKHEAP heap = eslStackHeapCreate(4096, 4096);
    std::vector<std::pair<BYTE*, DWORD>> taken[3];
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 rng(t);
            for (int i = 0; i < 3000; ++i) {
                DWORD size = rng() % 700;
                BYTE* p = Bytes(eslStackHeapAllocate(heap, size));
                if (!p)
                    return;
                std::memset(p, t + 1, size);
                taken[t].emplace_back(p, size);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    std::vector<std::pair<BYTE*, DWORD>> all;
    for (int t = 0; t < 3; ++t) {
        ASSERT_EQ(3000u, taken[t].size());
        for (auto& [p, size] : taken[t]) {
            ASSERT_EQ(size, size_t(std::count(p, p + size, BYTE(t + 1)))) << "overwritten by another thread";
            all.emplace_back(p, size);
        }
    }
    std::sort(all.begin(), all.end());
    for (size_t i = 1; i < all.size(); ++i)
        ASSERT_LE(all[i - 1].first + all[i - 1].second, all[i].first);
    eslStackHeapDestroy(heap);
}
