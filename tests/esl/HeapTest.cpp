#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <thread>
#include <utility>
#include <vector>

#include "HeapTestSupport.h"
#include "esl_heap.h"
#include "esl_heap_internal.h"

using esl::heap_detail::BlockHeader;
using esl::heap_detail::kGranule;
using esl::heap_detail::SegmentCount;
using esl::heap_detail::SegmentHeader;
using esl::heap_detail::SegmentIndexOf;
using esl::heap_detail::SegmentOf;
using heap_test::HeapIsSound;
using heap_test::ScopedHeap;

namespace {

constexpr DWORD kInvalidLength = static_cast<DWORD>(-1);

BYTE* Bytes(void* p) {
    return static_cast<BYTE*>(p);
}

bool AllZero(const void* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (static_cast<const BYTE*>(p)[i])
            return false;
    }
    return true;
}

}  // namespace

TEST(Heap, LengthIsTheRequestRoundedToEightAndMemoryIsAligned) {
    ScopedHeap heap;
    const DWORD kCases[][2] = {{0, 8}, {1, 8}, {5, 8}, {8, 8}, {9, 16}, {100, 104}, {4096, 4096}, {20001, 20008}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c[0]);
        void* p = eslHeapAllocate(heap.get(), c[0], 0);
        ASSERT_NE(nullptr, p);
        EXPECT_EQ(c[1], eslHeapGetLength(heap.get(), p));
    }
    for (DWORD size = 0; size < 300; size += 7) {
        auto address = reinterpret_cast<uintptr_t>(eslHeapAllocate(heap.get(), size, 0));
        EXPECT_EQ(0u, address % (sizeof(void*) == 8 ? 16 : kGranule)) << size;
    }
    EXPECT_TRUE(HeapIsSound(heap.get()));
}

// Each of these once read or freed memory that was not a block in use.
TEST(Heap, InvalidPointersAreIgnored) {
    ScopedHeap heap, other;
    BYTE* p = Bytes(eslHeapAllocate(heap.get(), 64, 0));
    BYTE* q = Bytes(eslHeapAllocate(heap.get(), 64, 0));
    void* foreign = eslHeapAllocate(other.get(), 64, 0);
    void* freed = eslHeapAllocate(heap.get(), 32, 0);
    eslHeapFree(heap.get(), freed, 0);
    int onStack = 0;
    std::memset(p, 0x5A, 64);
    // A header look-alike inside a block's data must not pass as a block.
    auto* fake = reinterpret_cast<BlockHeader*>(p + 16);
    fake->dwWord = esl::heap_detail::kBlockMark | 2;
    fake->pPrev = reinterpret_cast<BlockHeader*>(p - sizeof(BlockHeader));
    auto* segment = static_cast<SegmentHeader*>(const_cast<void*>(SegmentOf(heap.get(), p)));

    const std::pair<const char*, void*> kCases[] = {
        {"odd address", p + 1},
        {"two-byte aligned inside a block", p + 2},
        {"inside a block, aligned", p + 16 + sizeof(BlockHeader)},
        {"already freed", freed},
        {"from another heap", foreign},
        {"on the stack", &onStack},
        {"null", nullptr},
        {"the head block's memory", esl::heap_detail::HeadBlockOf(segment) + 1},
    };
    for (const auto& [name, ptr] : kCases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(kInvalidLength, eslHeapGetLength(heap.get(), ptr));
        eslHeapFree(heap.get(), ptr, 0);
        EXPECT_EQ(nullptr, eslHeapReallocate(heap.get(), ptr ? ptr : p + 1, 128, 0));
        EXPECT_TRUE(HeapIsSound(heap.get()));
    }
    EXPECT_EQ(64u, eslHeapGetLength(heap.get(), p));
    EXPECT_EQ(64u, eslHeapGetLength(heap.get(), q));
    EXPECT_EQ(64u, eslHeapGetLength(other.get(), foreign));
    EXPECT_TRUE(HeapIsSound(other.get()));
    // The double free above must not have put the block on the free list twice.
    EXPECT_NE(eslHeapAllocate(heap.get(), 32, 0), eslHeapAllocate(heap.get(), 32, 0));
}

TEST(Heap, ZeroFillAppliesToReusedMemory) {
    // Asked for by the call, by the heap's own flag, or by the process-wide flag.
    const struct {
        const char* name;
        DWORD heapFlags, callFlags, globalFlags;
    } kCases[] = {
        {"call", 0, ESL_HEAP_ZERO_INIT, 0},
        {"heap", ESL_HEAP_ZERO_INIT, 0, 0},
        {"global", 0, 0, ESL_HEAP_ZERO_INIT},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        ScopedHeap heap(0, 0, c.heapFlags);
        void* p = eslHeapAllocate(heap.get(), 200, 0);
        std::memset(p, 0xCD, 200);
        eslHeapFree(heap.get(), p, 0);
        eslHeapSetGlobalFlag(c.globalFlags);
        void* q = eslHeapAllocate(heap.get(), 200, c.callFlags);
        eslHeapSetGlobalFlag(0);
        EXPECT_EQ(p, q) << "the freed block should be reused";
        EXPECT_TRUE(AllZero(q, 200));
    }
}

TEST(Heap, BlocksAreCutFromTheEndOfTheHeadBlock) {
    ScopedHeap heap(4096, 4096);
    BYTE* a = Bytes(eslHeapAllocate(heap.get(), 64, 0));
    BYTE* b = Bytes(eslHeapAllocate(heap.get(), 64, 0));
    EXPECT_EQ(static_cast<const BYTE*>(SegmentOf(heap.get(), a)) + 4096, a + 64) << "the first block ends the segment";
    EXPECT_EQ(a - 64 - sizeof(BlockHeader), b);
}

// Where each block lies in the heap's chain of segments (-1: freed with its
// segment), and the heap still sound.
::testing::AssertionResult Placed(HESLHEAP heap, int count, std::initializer_list<std::pair<void*, int>> where) {
    if (SegmentCount(heap) != count)
        return ::testing::AssertionFailure() << SegmentCount(heap) << " segments";
    for (const auto& [p, index] : where) {
        if (SegmentIndexOf(heap, p) != index)
            return ::testing::AssertionFailure() << p << " in segment " << SegmentIndexOf(heap, p);
    }
    return HeapIsSound(heap);
}

TEST(Heap, LargeRequestGetsASegmentOfItsOwn) {
    ScopedHeap heap;  // growth 65536: 32768 bytes and more are large
    void* small = eslHeapAllocate(heap.get(), 32767, 0);
    EXPECT_TRUE(Placed(heap.get(), 1, {{small, 0}}));
    void* large = eslHeapAllocate(heap.get(), 40000, 0);
    void* larger = eslHeapAllocate(heap.get(), 100000, 0);
    EXPECT_TRUE(Placed(heap.get(), 3, {{small, 0}, {large, 1}, {larger, 2}})) << "chained after the last segment";
    EXPECT_EQ(100000u, eslHeapGetLength(heap.get(), larger));
    // Freed, the large segment becomes the spare; the next one pushes it out.
    eslHeapFree(heap.get(), larger, 0);
    EXPECT_TRUE(Placed(heap.get(), 3, {{larger, 1}}));
    eslHeapFree(heap.get(), large, 0);
    EXPECT_TRUE(Placed(heap.get(), 2, {{large, 1}, {larger, -1}}));
}

TEST(Heap, ImpossibleSizesFailCleanly) {
    ScopedHeap heap;
    heap_test::ScopedNoMemoryHook hook([](int) { return 1; });
    EXPECT_EQ(nullptr, eslHeapAllocate(heap.get(), 0xFFFFFFFF, ESL_HEAP_NO_DIALOG));
    EXPECT_EQ(nullptr, eslHeapAllocate(heap.get(), 0x7FFFFFFF, ESL_HEAP_NO_DIALOG));
    void* p = eslHeapAllocate(heap.get(), 10, 0);
    EXPECT_EQ(nullptr, eslHeapReallocate(heap.get(), p, 0xFFFFFFF0, ESL_HEAP_NO_DIALOG));
    EXPECT_EQ(16u, eslHeapGetLength(heap.get(), p)) << "a failed reallocation keeps the block";
    EXPECT_EQ(nullptr, eslHeapCreate(0xFFFFFFFF, 0, 0, nullptr));
    EXPECT_TRUE(HeapIsSound(heap.get()));
}

TEST(Heap, SegmentsAreSearchedRoomiestFirstWithOneSpare) {
    ScopedHeap heap(16384, 16384);  // three 4000-byte blocks a segment
    void* b[9];
    for (void*& p : b)
        p = eslHeapAllocate(heap.get(), 4000, 0);
    for (int i = 0; i < 9; ++i)
        ASSERT_EQ(SegmentOf(heap.get(), b[i / 3 * 3]), SegmentOf(heap.get(), b[i])) << i;
    // New segments go right after the first: the newest comes second.
    EXPECT_TRUE(Placed(heap.get(), 3, {{b[0], 0}, {b[6], 1}, {b[3], 2}}));
    // A free makes the older segment roomier: it moves one place forward.
    eslHeapFree(heap.get(), b[3], 0);
    EXPECT_TRUE(Placed(heap.get(), 3, {{b[4], 1}, {b[6], 2}}));
    // Emptied, the newest segment is kept as the spare right after the first.
    for (int i = 6; i < 9; ++i)
        eslHeapFree(heap.get(), b[i], 0);
    EXPECT_TRUE(Placed(heap.get(), 3, {{b[6], 1}, {b[4], 2}}));
    // Emptied too, the older one becomes the spare and the first spare goes.
    eslHeapFree(heap.get(), b[4], 0);
    eslHeapFree(heap.get(), b[5], 0);
    EXPECT_TRUE(Placed(heap.get(), 2, {{b[4], 1}, {b[6], -1}}));
    // The spare serves the next request that the first segment cannot.
    EXPECT_TRUE(Placed(heap.get(), 2, {{eslHeapAllocate(heap.get(), 4000, 0), 1}}));
}

TEST(Heap, FreeingJoinsNeighboursBackIntoOneBlock) {
    constexpr DWORD kSegment = 16384;
    ScopedHeap heap(kSegment, 65536);
    std::vector<void*> blocks;
    for (int i = 0; i < 40; ++i)
        blocks.push_back(eslHeapAllocate(heap.get(), 8 + 24 * (i % 7), 0));
    // Odd ones first, then even ones: every later free meets free neighbours.
    for (size_t first : {1, 0}) {
        for (size_t i = first; i < blocks.size(); i += 2)
            eslHeapFree(heap.get(), blocks[i], 0);
        ASSERT_TRUE(HeapIsSound(heap.get()));
    }
    // All joined again: the largest block the first segment can give fits in it.
    DWORD largest = kSegment - static_cast<DWORD>(esl::heap_detail::kSegmentHeaderSize) - 2 * kGranule - 16;
    void* p = eslHeapAllocate(heap.get(), largest, 0);
    EXPECT_EQ(1, SegmentCount(heap.get()));
    EXPECT_EQ(0, SegmentIndexOf(heap.get(), p));
    eslHeapFree(heap.get(), p, 0);
    eslHeapAllocate(heap.get(), largest + 8, 0);
    EXPECT_EQ(2, SegmentCount(heap.get()));
}

TEST(Heap, ReallocationGrowsInPlaceWhenTheNextBlockIsFree) {
    ScopedHeap heap;
    BYTE* before = Bytes(eslHeapAllocate(heap.get(), 64, 0));
    BYTE* p = Bytes(eslHeapAllocate(heap.get(), 64, 0));  // lies below `before`
    BYTE* below = Bytes(eslHeapAllocate(heap.get(), 64, 0));
    for (int i = 0; i < 64; ++i)
        p[i] = static_cast<BYTE>(i);
    eslHeapFree(heap.get(), before, 0);
    BYTE* grown = Bytes(eslHeapReallocate(heap.get(), p, 120, ESL_HEAP_ZERO_INIT));
    EXPECT_EQ(p, grown);
    EXPECT_LE(120u, eslHeapGetLength(heap.get(), grown));
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(i, grown[i]);
    EXPECT_TRUE(AllZero(grown + 64, 56)) << "grown part zero-filled";
    EXPECT_TRUE(HeapIsSound(heap.get()));

    // No free block after it: the contents move.
    BYTE* moved = Bytes(eslHeapReallocate(heap.get(), below, 4000, 0));
    EXPECT_NE(below, moved);
    EXPECT_EQ(kInvalidLength, eslHeapGetLength(heap.get(), below));
    EXPECT_EQ(4000u, eslHeapGetLength(heap.get(), moved));
    // Shrinking stays in place and gives the rest back.
    EXPECT_EQ(moved, eslHeapReallocate(heap.get(), moved, 100, 0));
    EXPECT_EQ(104u, eslHeapGetLength(heap.get(), moved));
    EXPECT_TRUE(HeapIsSound(heap.get()));
    // A null pointer allocates.
    void* fresh = eslHeapReallocate(heap.get(), nullptr, 24, ESL_HEAP_ZERO_INIT);
    EXPECT_EQ(24u, eslHeapGetLength(heap.get(), fresh));
    EXPECT_TRUE(AllZero(fresh, 24));
}

TEST(Heap, ChildHeapTakesItsSegmentsFromTheParent) {
    HESLHEAP parent = eslHeapCreate(0, 0, 0, nullptr);
    HESLHEAP child = eslHeapCreate(8192, 4096, 0, parent);
    ASSERT_NE(nullptr, child);
    EXPECT_EQ(0, SegmentIndexOf(parent, child)) << "the child's first segment is a parent block";
    EXPECT_EQ(8192u, eslHeapGetLength(parent, child));

    // No segment of its own for a large request: the parent provides one.
    void* big = eslHeapAllocate(child, 50000, 0);
    ASSERT_NE(nullptr, big);
    EXPECT_EQ(2, SegmentCount(child));
    EXPECT_EQ(1, SegmentIndexOf(parent, big)) << "the parent gave it a segment of its own";
    std::vector<void*> blocks;
    for (int i = 0; i < 200; ++i)
        blocks.push_back(eslHeapAllocate(child, 100, 0));
    EXPECT_TRUE(HeapIsSound(child));
    EXPECT_TRUE(HeapIsSound(parent));

    // The parent lives on while its child does.
    eslHeapDestroy(parent);
    std::memset(big, 1, 50000);
    for (void* p : blocks)
        eslHeapFree(child, p, 0);
    EXPECT_TRUE(HeapIsSound(child));
    EXPECT_TRUE(HeapIsSound(parent));
    HESLHEAP sibling = eslHeapCreate(0, 0, 0, parent);  // keeps the parent past the child
    eslHeapDestroy(child);
    EXPECT_TRUE(HeapIsSound(parent));
    {
        // Everything the child took is back; only the sibling's segment is out.
        heap_test::DumpCapture capture;
        eslHeapDump(parent, 100);
        EXPECT_EQ(2u, heap_test::DumpCapture::Calls().size()) << heap_test::DumpCapture::Text();
        EXPECT_EQ(65536u, eslHeapGetLength(parent, sibling));
    }
    eslHeapDestroy(sibling);  // and with it the parent
}

TEST(Heap, HandleZeroIsTheGlobalHeap) {
    HESLHEAP global = eslGetGlobalHeap();
    ASSERT_NE(nullptr, global);
    void* p = eslHeapAllocate(nullptr, 40, 0);
    EXPECT_GE(SegmentIndexOf(global, p), 0);
    EXPECT_EQ(40u, eslHeapGetLength(nullptr, p));
    eslHeapFree(nullptr, p, 0);
    EXPECT_EQ(kInvalidLength, eslHeapGetLength(global, p));
    EXPECT_EQ(0, eslVerifyHeapChain(nullptr));
    eslHeapDestroy(nullptr);  // not the global heap
    EXPECT_TRUE(HeapIsSound(global));
    eslFreeGlobalHeap();
    HESLHEAP again = eslGetGlobalHeap();
    ASSERT_NE(nullptr, again);
    EXPECT_TRUE(HeapIsSound(again));
}

TEST(Heap, GlobalHeapIsCreatedOnceUnderARace) {
    eslFreeGlobalHeap();
    std::vector<HESLHEAP> seen(3);
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i)
        threads.emplace_back([&seen, i] { seen[i] = eslGetGlobalHeap(); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(seen[0], seen[2]);
    EXPECT_EQ(seen[0], eslGetGlobalHeap());
}

TEST(Heap, LockHoldsOtherThreadsOut) {
    ScopedHeap noLock(0, 0, ESL_HEAP_NO_SERIALIZE);
    eslHeapLock(noLock.get());  // nothing to hold, and nothing may hang
    eslHeapFree(noLock.get(), eslHeapAllocate(noLock.get(), 8, 0), 0);
    eslHeapUnlock(noLock.get());

    ScopedHeap heap;
    std::atomic<bool> done{false};
    eslHeapLock(heap.get());
    void* mine = eslHeapAllocate(heap.get(), 8, 0);  // the owner may still use it
    std::thread other([&] {
        eslHeapFree(heap.get(), eslHeapAllocate(heap.get(), 8, 0), 0);
        done = true;
    });
    ::Sleep(100);
    EXPECT_FALSE(done.load());
    eslHeapUnlock(heap.get());
    other.join();
    EXPECT_TRUE(done.load());
    eslHeapFree(heap.get(), mine, 0);
}

//--- out of memory

namespace {

std::vector<int> gRetries;
int gAnswerAfter = 0;
int RecordingHook(int nRetry) {
    gRetries.push_back(nRetry);
    return nRetry + 1 < gAnswerAfter ? 0 : (nRetry + 1 == gAnswerAfter ? IDYES : IDNO);
}

}  // namespace

TEST(HeapNoMemory, HookDecidesOnRetries) {
    ScopedHeap heap;
    heap_test::ScopedNoMemoryHook hook(&RecordingHook);
    {
        // Refused three times, then given: the hook says retry (0, 0, IDYES).
        heap_test::RefusingSystem system(3);
        gRetries.clear();
        gAnswerAfter = 3;
        EXPECT_NE(nullptr, eslHeapAllocate(heap.get(), 50000, 0));
        EXPECT_EQ((std::vector<int>{0, 1, 2}), gRetries);
        EXPECT_EQ(4, heap_test::RefusingSystem::Calls());
    }
    {
        // The hook gives up after two answers.
        heap_test::RefusingSystem system(-1);
        gRetries.clear();
        gAnswerAfter = 1;
        EXPECT_EQ(nullptr, eslHeapAllocate(heap.get(), 50000, 0));
        EXPECT_EQ((std::vector<int>{0, 1}), gRetries);
        EXPECT_EQ(nullptr, eslHeapCreate(0, 0, 0, nullptr));
    }
    EXPECT_TRUE(HeapIsSound(heap.get()));
    EXPECT_EQ(&RecordingHook, eslHeapHookNoMemory(nullptr));
    eslHeapHookNoMemory(&RecordingHook);
}

TEST(HeapNoMemory, NoDialogFlagFailsAtOnce) {
    ScopedHeap heap, quiet(0, 0, ESL_HEAP_NO_DIALOG);
    heap_test::RefusingSystem system(-1);
    EXPECT_EQ(nullptr, eslHeapAllocate(heap.get(), 60000, ESL_HEAP_NO_DIALOG));
    EXPECT_EQ(nullptr, eslHeapAllocate(quiet.get(), 60000, 0));
    eslHeapSetGlobalFlag(ESL_HEAP_NO_DIALOG);
    EXPECT_EQ(nullptr, eslHeapAllocate(heap.get(), 60000, 0));
    EXPECT_EQ(nullptr, eslStackHeapCreate(0, 0));
    eslHeapSetGlobalFlag(0);
    EXPECT_EQ(4, heap_test::RefusingSystem::Calls()) << "one try for each request";
    // Small blocks still come from the segment the heap has.
    EXPECT_NE(nullptr, eslHeapAllocate(heap.get(), 100, ESL_HEAP_NO_DIALOG));
    EXPECT_TRUE(HeapIsSound(heap.get()));
}

TEST(HeapNoMemory, ChildHeapAsksOncePerRefusalOfItsParent) {
    ScopedHeap parent;
    ScopedHeap child(4096, 4096, 0, parent.get());
    heap_test::ScopedNoMemoryHook hook(&RecordingHook);
    heap_test::RefusingSystem system(2);
    gRetries.clear();
    gAnswerAfter = 5;
    EXPECT_NE(nullptr, eslHeapAllocate(child.get(), 70000, 0));  // the parent needs a new segment for it
    EXPECT_EQ((std::vector<int>{0, 1}), gRetries) << "the parent must not ask as well";
    EXPECT_TRUE(HeapIsSound(child.get()));
    EXPECT_TRUE(HeapIsSound(parent.get()));
}

//--- chain verification

namespace {

std::atomic<int> gBreakpoints{0};
LONG CALLBACK CountBreakpoint(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_BREAKPOINT)
        return EXCEPTION_CONTINUE_SEARCH;
    ++gBreakpoints;
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

TEST(HeapVerify, BrokenChainRaisesABreakpoint) {
    ScopedHeap heap(4096, 4096);
    for (int i = 0; i < 2; ++i)
        eslHeapAllocate(heap.get(), 3000, 0);  // a segment each
    ASSERT_EQ(3, SegmentCount(heap.get()));
    EXPECT_EQ(0, eslVerifyHeapChain(heap.get()));

    auto* first = reinterpret_cast<SegmentHeader*>(heap.get());
    SegmentHeader* second = first->pNext;
    SegmentHeader* third = second->pNext;
    int notASegment[64] = {};
    const struct {
        const char* name;
        SegmentHeader** link;
        SegmentHeader* broken;
    } kCases[] = {
        {"back link skips a segment", &third->pPrev, first},
        {"chain does not end at the recorded last segment", &first->pLast, second},
        {"link to no segment, never followed", &second->pNext, reinterpret_cast<SegmentHeader*>(notASegment)},
    };
    void* handler = ::AddVectoredExceptionHandler(1, &CountBreakpoint);
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        SegmentHeader* sound = *c.link;
        *c.link = c.broken;
        const int before = gBreakpoints.load();
        EXPECT_NE(0, eslVerifyHeapChain(heap.get()));
        EXPECT_EQ(before + 1, gBreakpoints.load());
        *c.link = sound;
        EXPECT_EQ(0, eslVerifyHeapChain(heap.get()));
        EXPECT_EQ(before + 1, gBreakpoints.load());
    }
    ::RemoveVectoredExceptionHandler(handler);
    EXPECT_TRUE(HeapIsSound(heap.get()));
}
