#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "HeapTestSupport.h"
#include "esl_heap.h"
#include "esl_heap_internal.h"

using esl::heap_detail::kGranule;
using esl::heap_detail::SegmentCount;
using esl::heap_detail::SegmentIndexOf;
using esl::heap_detail::SegmentOf;
using heap_test::HeapIsSound;
using heap_test::ScopedHeap;

namespace {

constexpr DWORD kInvalidLength = static_cast<DWORD>(-1);

BYTE* Bytes(void* p) {
    return static_cast<BYTE*>(p);
}

bool AllBytesAre(const void* p, size_t n, BYTE value) {
    const BYTE* b = static_cast<const BYTE*>(p);
    for (size_t i = 0; i < n; ++i) {
        if (b[i] != value)
            return false;
    }
    return true;
}

}  // namespace

TEST(Heap, LengthIsTheRequestRoundedToEight) {
    ScopedHeap heap;
    struct Case {
        DWORD request, length;
    };
    const Case kCases[] = {{0, 8}, {1, 8}, {5, 8}, {8, 8}, {9, 16}, {100, 104}, {4096, 4096}, {20001, 20008}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.request);
        void* p = eslHeapAllocate(heap.get(), c.request, 0);
        ASSERT_NE(nullptr, p);
        EXPECT_EQ(c.length, eslHeapGetLength(heap.get(), p));
    }
    EXPECT_TRUE(HeapIsSound(heap.get()));
}

TEST(Heap, MemoryIsAlignedForDoublesAndSse) {
    ScopedHeap heap;
    for (DWORD size = 0; size < 300; size += 7) {
        void* p = eslHeapAllocate(heap.get(), size, 0);
        ASSERT_NE(nullptr, p);
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % kGranule) << size;
#ifdef _WIN64
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % 16) << size;
#endif
    }
}

// Each of these once read or freed memory that was not a block in use.
TEST(Heap, InvalidPointersAreIgnored) {
    ScopedHeap heap;
    ScopedHeap other;
    BYTE* p = Bytes(eslHeapAllocate(heap.get(), 64, 0));
    BYTE* q = Bytes(eslHeapAllocate(heap.get(), 64, 0));
    void* foreign = eslHeapAllocate(other.get(), 64, 0);
    void* freed = eslHeapAllocate(heap.get(), 32, 0);
    eslHeapFree(heap.get(), freed, 0);
    int onStack = 0;
    std::memset(p, 0x5A, 64);
    // A header look-alike inside a block's data must not pass as a block.
    auto* fake = reinterpret_cast<esl::heap_detail::BlockHeader*>(p + 16);
    fake->dwWord = esl::heap_detail::kBlockMark | 2;
    fake->pPrev = reinterpret_cast<esl::heap_detail::BlockHeader*>(p - sizeof(esl::heap_detail::BlockHeader));

    struct Case {
        const char* name;
        void* ptr;
    };
    const Case kCases[] = {
        {"odd address", p + 1},
        {"two-byte aligned inside a block", p + 2},
        {"inside a block, aligned", p + 16 + sizeof(esl::heap_detail::BlockHeader)},
        {"already freed", freed},
        {"from another heap", foreign},
        {"on the stack", &onStack},
        {"null", nullptr},
        {"the head block's memory", esl::heap_detail::HeadBlockOf(static_cast<esl::heap_detail::SegmentHeader*>(
                                        const_cast<void*>(SegmentOf(heap.get(), p)))) +
                                        1},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(kInvalidLength, eslHeapGetLength(heap.get(), c.ptr));
        eslHeapFree(heap.get(), c.ptr, 0);
        EXPECT_EQ(nullptr, eslHeapReallocate(heap.get(), c.ptr ? c.ptr : p + 1, 128, 0));
        EXPECT_TRUE(HeapIsSound(heap.get()));
    }
    EXPECT_EQ(64u, eslHeapGetLength(heap.get(), p));
    EXPECT_EQ(64u, eslHeapGetLength(heap.get(), q));
    EXPECT_EQ(64u, eslHeapGetLength(other.get(), foreign));
    EXPECT_TRUE(HeapIsSound(other.get()));
}

TEST(Heap, DoubleFreeDoesNotHandOutABlockTwice) {
    ScopedHeap heap;
    void* p = eslHeapAllocate(heap.get(), 48, 0);
    eslHeapFree(heap.get(), p, 0);
    eslHeapFree(heap.get(), p, 0);
    void* a = eslHeapAllocate(heap.get(), 48, 0);
    void* b = eslHeapAllocate(heap.get(), 48, 0);
    EXPECT_NE(a, b);
    EXPECT_TRUE(HeapIsSound(heap.get()));
}

TEST(Heap, ZeroFillAppliesToReusedMemory) {
    ScopedHeap heap;
    void* p = eslHeapAllocate(heap.get(), 200, 0);
    std::memset(p, 0xCD, 200);
    eslHeapFree(heap.get(), p, 0);
    void* q = eslHeapAllocate(heap.get(), 200, ESL_HEAP_ZERO_INIT);
    EXPECT_EQ(p, q) << "the freed block should be reused";
    EXPECT_TRUE(AllBytesAre(q, 200, 0));

    // The same through the heap's own flag and through the process-wide flag.
    ScopedHeap zeroHeap(0, 0, ESL_HEAP_ZERO_INIT);
    p = eslHeapAllocate(zeroHeap.get(), 96, 0);
    std::memset(p, 0xCD, 96);
    eslHeapFree(zeroHeap.get(), p, 0);
    EXPECT_TRUE(AllBytesAre(eslHeapAllocate(zeroHeap.get(), 96, 0), 96, 0));

    p = eslHeapAllocate(heap.get(), 72, 0);
    std::memset(p, 0xCD, 72);
    eslHeapFree(heap.get(), p, 0);
    eslHeapSetGlobalFlag(ESL_HEAP_ZERO_INIT);
    EXPECT_EQ(static_cast<DWORD>(ESL_HEAP_ZERO_INIT), eslHeapGetGlobalFlag());
    void* r = eslHeapAllocate(heap.get(), 72, 0);
    eslHeapSetGlobalFlag(0);
    EXPECT_TRUE(AllBytesAre(r, 72, 0));
}

TEST(Heap, BlocksAreCutFromTheEndOfTheHeadBlock) {
    ScopedHeap heap(4096, 4096);
    BYTE* a = Bytes(eslHeapAllocate(heap.get(), 64, 0));
    BYTE* b = Bytes(eslHeapAllocate(heap.get(), 64, 0));
    const BYTE* segment = static_cast<const BYTE*>(SegmentOf(heap.get(), a));
    EXPECT_EQ(segment + 4096, a + 64) << "the first block ends the segment";
    EXPECT_EQ(a - 64 - sizeof(esl::heap_detail::BlockHeader), b);
}

TEST(Heap, LargeRequestGetsASegmentOfItsOwn) {
    ScopedHeap heap;  // growth 65536: 32768 bytes and more are large
    void* small = eslHeapAllocate(heap.get(), 32767, 0);
    EXPECT_EQ(1, SegmentCount(heap.get()));
    void* large = eslHeapAllocate(heap.get(), 40000, 0);
    ASSERT_NE(nullptr, large);
    EXPECT_EQ(2, SegmentCount(heap.get()));
    EXPECT_EQ(1, SegmentIndexOf(heap.get(), large));
    EXPECT_EQ(0, SegmentIndexOf(heap.get(), small));
    void* larger = eslHeapAllocate(heap.get(), 100000, 0);
    EXPECT_EQ(2, SegmentIndexOf(heap.get(), larger)) << "chained after the last segment";
    EXPECT_EQ(100000u, eslHeapGetLength(heap.get(), larger));
    EXPECT_TRUE(HeapIsSound(heap.get()));

    // Freed, the large segment becomes the spare; the next one pushes it out.
    eslHeapFree(heap.get(), larger, 0);
    EXPECT_EQ(3, SegmentCount(heap.get()));
    EXPECT_EQ(1, SegmentIndexOf(heap.get(), larger));
    eslHeapFree(heap.get(), large, 0);
    EXPECT_EQ(2, SegmentCount(heap.get()));
    EXPECT_EQ(1, SegmentIndexOf(heap.get(), large));
    EXPECT_EQ(nullptr, SegmentOf(heap.get(), larger));
    EXPECT_TRUE(HeapIsSound(heap.get()));
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
    // Segments of 16 KiB hold three 4000-byte blocks each.
    ScopedHeap heap(16384, 16384);
    void* b[9];
    for (void*& p : b)
        p = eslHeapAllocate(heap.get(), 4000, 0);
    ASSERT_EQ(3, SegmentCount(heap.get()));
    for (int i = 0; i < 9; ++i)
        ASSERT_EQ(SegmentOf(heap.get(), b[i / 3 * 3]), SegmentOf(heap.get(), b[i])) << i;
    // New segments go right after the first: the newest comes second.
    EXPECT_EQ(0, SegmentIndexOf(heap.get(), b[0]));
    EXPECT_EQ(1, SegmentIndexOf(heap.get(), b[6]));
    EXPECT_EQ(2, SegmentIndexOf(heap.get(), b[3]));

    // A free makes the older segment roomier: it moves one place forward.
    eslHeapFree(heap.get(), b[3], 0);
    EXPECT_EQ(1, SegmentIndexOf(heap.get(), b[4]));
    EXPECT_EQ(2, SegmentIndexOf(heap.get(), b[6]));
    EXPECT_TRUE(HeapIsSound(heap.get()));

    // Emptied, the newest segment is kept as the spare right after the first.
    for (int i = 6; i < 9; ++i)
        eslHeapFree(heap.get(), b[i], 0);
    EXPECT_EQ(3, SegmentCount(heap.get()));
    EXPECT_EQ(1, SegmentIndexOf(heap.get(), b[6]));
    EXPECT_EQ(2, SegmentIndexOf(heap.get(), b[4]));
    EXPECT_TRUE(HeapIsSound(heap.get()));

    // Emptied too, the older one becomes the spare and the first spare goes.
    eslHeapFree(heap.get(), b[4], 0);
    eslHeapFree(heap.get(), b[5], 0);
    EXPECT_EQ(2, SegmentCount(heap.get()));
    EXPECT_EQ(nullptr, SegmentOf(heap.get(), b[6]));
    EXPECT_EQ(1, SegmentIndexOf(heap.get(), b[4]));
    EXPECT_TRUE(HeapIsSound(heap.get()));

    // The spare serves the next request that the first segment cannot.
    void* again = eslHeapAllocate(heap.get(), 4000, 0);
    EXPECT_EQ(1, SegmentIndexOf(heap.get(), again));
    EXPECT_EQ(2, SegmentCount(heap.get()));
    EXPECT_TRUE(HeapIsSound(heap.get()));
}

TEST(Heap, FreeingJoinsNeighboursBackIntoOneBlock) {
    constexpr DWORD kSegment = 16384;
    ScopedHeap heap(kSegment, 65536);
    std::vector<void*> blocks;
    for (int i = 0; i < 40; ++i)
        blocks.push_back(eslHeapAllocate(heap.get(), 8 + 24 * (i % 7), 0));
    // Odd ones first, then even ones: every later free meets free neighbours.
    for (size_t i = 1; i < blocks.size(); i += 2)
        eslHeapFree(heap.get(), blocks[i], 0);
    ASSERT_TRUE(HeapIsSound(heap.get()));
    for (size_t i = 0; i < blocks.size(); i += 2)
        eslHeapFree(heap.get(), blocks[i], 0);
    ASSERT_TRUE(HeapIsSound(heap.get()));
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
    EXPECT_TRUE(AllBytesAre(grown + 64, 56, 0)) << "grown part zero-filled";
    EXPECT_TRUE(HeapIsSound(heap.get()));

    // No free block after it: the contents move.
    BYTE* moved = Bytes(eslHeapReallocate(heap.get(), below, 4000, 0));
    EXPECT_NE(below, moved);
    EXPECT_EQ(kInvalidLength, eslHeapGetLength(heap.get(), below));
    EXPECT_EQ(4000u, eslHeapGetLength(heap.get(), moved));

    // Shrinking stays in place and gives the rest back.
    BYTE* shrunk = Bytes(eslHeapReallocate(heap.get(), moved, 100, 0));
    EXPECT_EQ(moved, shrunk);
    EXPECT_EQ(104u, eslHeapGetLength(heap.get(), shrunk));
    EXPECT_TRUE(HeapIsSound(heap.get()));

    // A null pointer allocates.
    void* fresh = eslHeapReallocate(heap.get(), nullptr, 24, ESL_HEAP_ZERO_INIT);
    EXPECT_EQ(24u, eslHeapGetLength(heap.get(), fresh));
    EXPECT_TRUE(AllBytesAre(fresh, 24, 0));
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
    EXPECT_EQ(global, eslGetGlobalHeap());
    void* p = eslHeapAllocate(nullptr, 40, 0);
    EXPECT_GE(SegmentIndexOf(global, p), 0);
    EXPECT_EQ(40u, eslHeapGetLength(global, p));
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
    std::vector<std::thread> threads;
    std::vector<HESLHEAP> seen(3);
    for (int i = 0; i < 3; ++i)
        threads.emplace_back([&seen, i] { seen[i] = eslGetGlobalHeap(); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(seen[0], seen[2]);
    EXPECT_EQ(seen[0], eslGetGlobalHeap());
}

TEST(Heap, NoLockHeapWorksForOneUser) {
    ScopedHeap heap(0, 0, ESL_HEAP_NO_SERIALIZE);
    eslHeapLock(heap.get());  // nothing to hold
    std::vector<void*> blocks;
    for (int i = 0; i < 500; ++i)
        blocks.push_back(eslHeapAllocate(heap.get(), 16 + i, 0));
    for (void* p : blocks)
        eslHeapFree(heap.get(), p, 0);
    eslHeapUnlock(heap.get());
    EXPECT_TRUE(HeapIsSound(heap.get()));
}

TEST(Heap, LockHoldsOtherThreadsOut) {
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

TEST(Heap, DestroyCountsReferences) {
    HESLHEAP parent = eslHeapCreate(0, 0, 0, nullptr);
    HESLHEAP child = eslHeapCreate(0, 0, 0, parent);
    eslHeapDestroy(parent);
    EXPECT_TRUE(HeapIsSound(parent)) << "held by its child";
    eslHeapDestroy(child);  // now both go
    eslHeapDestroy(nullptr);
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
        void* p = eslHeapAllocate(heap.get(), 50000, 0);
        EXPECT_NE(nullptr, p);
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
    ScopedHeap heap;
    ScopedHeap quiet(0, 0, ESL_HEAP_NO_DIALOG);
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
    HESLHEAP child = eslHeapCreate(4096, 4096, 0, parent.get());
    heap_test::ScopedNoMemoryHook hook(&RecordingHook);
    heap_test::RefusingSystem system(2);
    gRetries.clear();
    gAnswerAfter = 5;
    void* p = eslHeapAllocate(child, 70000, 0);  // the parent needs a segment of its own for it
    EXPECT_NE(nullptr, p);
    EXPECT_EQ((std::vector<int>{0, 1}), gRetries) << "the parent must not ask as well";
    EXPECT_TRUE(HeapIsSound(child));
    EXPECT_TRUE(HeapIsSound(parent.get()));
    eslHeapDestroy(child);
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
    std::vector<void*> blocks;
    for (int i = 0; i < 2; ++i)
        blocks.push_back(eslHeapAllocate(heap.get(), 3000, 0));  // a segment each
    ASSERT_EQ(3, SegmentCount(heap.get()));
    EXPECT_EQ(0, eslVerifyHeapChain(heap.get()));

    void* handler = ::AddVectoredExceptionHandler(1, &CountBreakpoint);
    auto* first = reinterpret_cast<esl::heap_detail::SegmentHeader*>(heap.get());
    esl::heap_detail::SegmentHeader* second = first->pNext;
    esl::heap_detail::SegmentHeader* third = second->pNext;

    third->pPrev = first;  // back link skips a segment
    EXPECT_NE(0, eslVerifyHeapChain(heap.get()));
    EXPECT_EQ(1, gBreakpoints.load());
    third->pPrev = second;

    first->pLast = second;  // chain does not end at the recorded last segment
    EXPECT_NE(0, eslVerifyHeapChain(heap.get()));
    EXPECT_EQ(2, gBreakpoints.load());
    first->pLast = third;

    int notASegment[64] = {};
    second->pNext = reinterpret_cast<esl::heap_detail::SegmentHeader*>(notASegment);  // never followed
    EXPECT_NE(0, eslVerifyHeapChain(heap.get()));
    EXPECT_EQ(3, gBreakpoints.load());
    second->pNext = third;

    EXPECT_EQ(0, eslVerifyHeapChain(heap.get()));
    EXPECT_EQ(3, gBreakpoints.load());
    ::RemoveVectoredExceptionHandler(handler);
    EXPECT_TRUE(HeapIsSound(heap.get()));
}
