// The heaps: a table per rule, the guards against bad pointers and refused
// memory, and random runs against a shadow model of every live block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "esl_heap.h"
#include "esl_heap_internal.h"

using namespace esl::heap_detail;

namespace {

constexpr DWORD kInvalid = static_cast<DWORD>(-1);

// What eslHeapDump wrote, and how the system and the no-memory hook answer.
std::string gDump;
std::vector<int> gRetries;
int gRefusals = 0, gSystemCalls = 0, gAnswerAfter = 0;

// A crash fails the run at once instead of waiting in the system's debugger.
LONG WINAPI FailTheRun(EXCEPTION_POINTERS*) {
    return ::TerminateProcess(::GetCurrentProcess(), 3);
}
[[maybe_unused]] const LPTOP_LEVEL_EXCEPTION_FILTER kCrashFilter = ::SetUnhandledExceptionFilter(&FailTheRun);

// Puts the seams and flags back and gives the test's heaps back.
class HeapTest : public ::testing::Test {
protected:
    HeapTest() { SetDebugOutput(&CaptureDump); }
    ~HeapTest() override {
        eslHeapSetGlobalFlag(0);
        eslHeapHookNoMemory(nullptr);
        SetSystemAllocator(nullptr);
        SetDebugOutput(nullptr);
        for (auto it = m_heaps.rbegin(); it != m_heaps.rend(); ++it)
            eslHeapDestroy(*it);
    }
    HESLHEAP Heap(DWORD init = 0, DWORD grow = 0, DWORD flags = 0, HESLHEAP parent = nullptr) {
        m_heaps.push_back(eslHeapCreate(init, grow, flags, parent));
        return m_heaps.back();
    }
    static void WINAPI CaptureDump(LPCSTR psz) { gDump += psz; }
    // The system refuses gRefusals more times (-1: always).
    static void* RefusingAllocate(SIZE_T cb) {
        ++gSystemCalls;
        if (gRefusals == 0)
            return ::VirtualAlloc(nullptr, cb, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        --gRefusals;  // from -1 it never reaches 0
        return nullptr;
    }
    // Says retry (0, then IDYES at the gAnswerAfter-th question), then no.
    static int RecordingHook(int nRetry) {
        gRetries.push_back(nRetry);
        return nRetry + 1 < gAnswerAfter ? 0 : (nRetry + 1 == gAnswerAfter ? IDYES : IDNO);
    }
    static BYTE* Bytes(void* p) { return static_cast<BYTE*>(p); }
    static bool AllZero(const BYTE* p, size_t n) { return std::count(p, p + n, 0) == static_cast<ptrdiff_t>(n); }
    static ::testing::AssertionResult Sound(HESLHEAP heap) {
        char error[256] = "";
        return CheckHeap(heap, error, sizeof error) ? ::testing::AssertionSuccess()
                                                    : ::testing::AssertionFailure() << error;
    }
    // The segment count, then the place in the chain of each block's segment (-1: given back).
    static std::string Placed(HESLHEAP heap, const std::vector<void*>& blocks) {
        std::string where = std::to_string(SegmentCount(heap)) + ":";
        for (void* p : blocks)
            where += " " + std::to_string(SegmentIndexOf(heap, p));
        return where;
    }
    static std::string Dump(HESLHEAP heap, int maxBlocks = 100) {
        gDump.clear();
        eslHeapDump(heap, maxBlocks);
        return gDump;
    }

private:
    std::vector<HESLHEAP> m_heaps;
};

// Blocks are cut from the end of the free room, each next one a header below.
TEST_F(HeapTest, AlignmentLengthsRoundToEightAndBlocksToTheGranule) {
    HESLHEAP heap = Heap();
    const DWORD kCases[][2] = {{0, 8}, {1, 8}, {5, 8}, {8, 8}, {9, 16}, {100, 104}, {4096, 4096}, {20001, 20008}};
    BYTE* end = Bytes(heap) + 65536;
    for (const auto& [size, length] : kCases) {
        BYTE* p = Bytes(eslHeapAllocate(heap, size, 0));
        EXPECT_EQ(length, eslHeapGetLength(heap, p)) << size;
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % kGranule) << size;
        EXPECT_EQ(end, p + (length + kGranule - 1) / kGranule * kGranule) << size;
        end = p - kGranule;
    }
}

// Asked for by the call, the heap or the process; the reused memory was dirty.
TEST_F(HeapTest, ZeroFillOfReusedAndGrownMemory) {
    const DWORD kCases[][3] = {{0, ESL_HEAP_ZERO_INIT, 0}, {ESL_HEAP_ZERO_INIT, 0, 0}, {0, 0, ESL_HEAP_ZERO_INIT}};
    for (const auto& [heapFlags, callFlags, globalFlags] : kCases) {
        SCOPED_TRACE(testing::Message() << heapFlags << callFlags << globalFlags);
        HESLHEAP heap = Heap(0, 0, heapFlags);
        auto dirtyFree = [heap](BYTE* p) {
            std::memset(p, 0xCD, 200);
            eslHeapFree(heap, p, 0);
        };
        BYTE* top = Bytes(eslHeapAllocate(heap, 200, 0));
        BYTE* low = Bytes(eslHeapAllocate(heap, 8, 0));
        low[7] = 0xCD;
        dirtyFree(top);
        eslHeapSetGlobalFlag(globalFlags);
        EXPECT_EQ(low, eslHeapReallocate(heap, low, 200, callFlags)) << "grown in place over the freed block";
        EXPECT_EQ(0xCD, low[7]);
        EXPECT_TRUE(AllZero(low + 8, 192));
        dirtyFree(low);
        EXPECT_EQ(top, eslHeapAllocate(heap, 200, callFlags));
        EXPECT_TRUE(AllZero(top, 200));
        dirtyFree(top);
        EXPECT_EQ(top, eslHeapReallocate(heap, nullptr, 200, callFlags)) << "a null pointer allocates";
        EXPECT_TRUE(AllZero(top, 200));
        eslHeapSetGlobalFlag(0);
    }
}

// A new segment comes second, a request of half the growth size gets its own at the
// end; a roomier one moves one place forward, an emptied one is the only spare.
TEST_F(HeapTest, GrowthPlacesBlocksInSegments) {
    const std::vector<int> nine(9, 4000);  // three a segment
    auto then = [&nine](std::vector<int> ops) {
        ops.insert(ops.begin(), nine.begin(), nine.end());
        return ops;
    };
    // Name, sizes, operations (a size, or -i to free block i), then segments and places (-1: gone).
    const std::tuple<const char*, DWORD, DWORD, std::vector<int>, const char*> kCases[] = {
        {"below half the growth size", 0, 0, {32767, 32767}, "2: 0 1"},
        {"half the growth size or more", 0, 0, {32767, 32767, 32768, 100000}, "4: 0 1 2 3"},
        {"the newest segment second", 16384, 16384, nine, "3: 0 0 0 2 2 2 1 1 1"},
        {"roomier moves forward", 16384, 16384, then({-3}), "3: 0 0 0 1 1 1 2 2 2"},
        {"emptied becomes the spare", 16384, 16384, then({-3, -6, -7, -8}), "3: 0 0 0 2 2 2 1 1 1"},
        {"one spare, serving", 16384, 16384, then({-3, -6, -7, -8, -4, -5, 4000}), "2: 0 0 0 1 1 1 -1 -1 -1 1"},
    };
    for (const auto& [name, init, grow, ops, where] : kCases) {
        HESLHEAP heap = Heap(init, grow);
        std::vector<void*> blocks;
        for (int op : ops) {
            if (op > 0)
                blocks.push_back(eslHeapAllocate(heap, op, 0));
            else
                eslHeapFree(heap, blocks[-op], 0);
        }
        EXPECT_EQ(where, Placed(heap, blocks)) << name;
        EXPECT_TRUE(Sound(heap)) << name;
    }
}

// Freed in a scrambled order, the blocks join again into the largest one there is.
TEST_F(HeapTest, FreeListsJoinNeighboursBackIntoOneBlock) {
    const DWORD largest = 16384 - static_cast<DWORD>(kSegmentHeaderSize + 2 * kGranule) - 16;
    HESLHEAP heap = Heap(16384, 65536);
    std::vector<void*> blocks;
    for (int i = 0; i < 40; ++i)
        blocks.push_back(eslHeapAllocate(heap, 8 + 24 * (i % 7), 0));
    for (int i = 0; i < 40; ++i) {
        eslHeapFree(heap, blocks[i * 7 % 40], 0);
        ASSERT_TRUE(Sound(heap)) << i;
    }
    void* p = eslHeapAllocate(heap, largest, 0);
    EXPECT_EQ("1: 0", Placed(heap, {p}));
    eslHeapFree(heap, p, 0);
    EXPECT_EQ("2: 1", Placed(heap, {eslHeapAllocate(heap, largest + 8, 0)}));
}

// Each of these once read or freed memory that was not a block in use.
TEST_F(HeapTest, GuardsRefuseInvalidPointersAndImpossibleSizes) {
    HESLHEAP heap = Heap(), other = Heap(0, 0, ESL_HEAP_NO_SERIALIZE);
    eslHeapLock(other);  // no lock to hold, and nothing may hang
    BYTE* p = Bytes(eslHeapAllocate(heap, 64, 0));
    void* foreign = eslHeapAllocate(other, 64, 0);
    void* freed = eslHeapAllocate(heap, 32, 0);
    eslHeapFree(heap, freed, 0);
    int onStack = 0;
    std::memset(p, 0x5A, 64);
    auto* fake = reinterpret_cast<BlockHeader*>(p + 16);
    fake->dwWord = kBlockMark | 2;
    fake->pPrev = reinterpret_cast<BlockHeader*>(p) - 1;
    void* head = HeadBlockOf(static_cast<SegmentHeader*>(const_cast<void*>(SegmentOf(heap, p)))) + 1;
    const std::pair<const char*, void*> kCases[] = {
        {"odd", p + 1},       {"two-byte aligned", p + 2}, {"look-alike", fake + 1}, {"freed", freed},
        {"foreign", foreign}, {"on the stack", &onStack},  {"null", nullptr},        {"head block", head}};
    for (const auto& [name, ptr] : kCases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(kInvalid, eslHeapGetLength(heap, ptr));
        eslHeapFree(heap, ptr, 0);
        EXPECT_EQ(nullptr, eslHeapReallocate(heap, ptr ? ptr : p + 1, 128, 0));
        EXPECT_TRUE(Sound(heap));
    }
    EXPECT_EQ(64u, eslHeapGetLength(other, foreign));
    EXPECT_NE(eslHeapAllocate(heap, 32, 0), eslHeapAllocate(heap, 32, 0)) << "freed twice, listed once";
    EXPECT_EQ(nullptr, eslHeapReallocate(heap, p, 0xFFFFFFF0, ESL_HEAP_NO_DIALOG));
    EXPECT_EQ(64u, eslHeapGetLength(heap, p)) << "a failed reallocation keeps the block";
    eslHeapHookNoMemory([](int) { return 1; });
    EXPECT_EQ(nullptr, eslHeapAllocate(heap, 0xFFFFFFFF, ESL_HEAP_NO_DIALOG));
    EXPECT_EQ(nullptr, eslHeapAllocate(heap, 0x7FFFFFFF, ESL_HEAP_NO_DIALOG));
    EXPECT_EQ(nullptr, eslHeapCreate(0xFFFFFFFF, 0, 0, nullptr));
}

// The child's segments are parent blocks; the parent lives on until they are back.
TEST_F(HeapTest, ChildHeapTakesItsSegmentsFromTheParent) {
    HESLHEAP parent = eslHeapCreate(0, 0, 0, nullptr), child = eslHeapCreate(8192, 4096, 0, parent);
    void* big = eslHeapAllocate(child, 50000, 0);
    EXPECT_EQ("2: 0 1", Placed(parent, {child, big}));
    EXPECT_EQ(8192u, eslHeapGetLength(parent, child));
    eslHeapDestroy(parent);
    std::memset(big, 1, 50000);
    eslHeapFree(child, big, 0);
    HESLHEAP sibling = eslHeapCreate(0, 0, 0, parent);
    eslHeapDestroy(child);
    Dump(parent);
    EXPECT_EQ(2, std::count(gDump.begin(), gDump.end(), '\n')) << "only the sibling's segment is out";
    eslHeapDestroy(sibling);  // and with it the parent
}

// The hook decides on retries; ESL_HEAP_NO_DIALOG from anywhere fails at once; a
// child heap asks once per refusal, its parent not as well.
TEST_F(HeapTest, NoMemoryHookOrNoDialogFlagDecides) {
    // Name, flags of the heap, the call and the process, whether a child asks, refusals
    // (-1: all), questions until yes (0: no hook), the retries asked for and the system calls.
    const std::tuple<const char*, DWORD, DWORD, DWORD, bool, int, int, std::vector<int>, int> kCases[] = {
        {"hook retries", 0, 0, 0, false, 3, 3, {0, 1, 2}, 4},
        {"hook gives up", 0, 0, 0, false, -1, 1, {0, 1}, 2},
        {"call", 0, ESL_HEAP_NO_DIALOG, 0, false, -1, 0, {}, 1},
        {"heap", ESL_HEAP_NO_DIALOG, 0, 0, false, -1, 0, {}, 1},
        {"process", 0, 0, ESL_HEAP_NO_DIALOG, false, -1, 0, {}, 1},
        {"child", 0, 0, 0, true, 2, 5, {0, 1}, 3}};
    for (const auto& [name, heapFlags, callFlags, globalFlags, child, refusals, answerAfter, retries, calls] : kCases) {
        SCOPED_TRACE(name);
        SetSystemAllocator(nullptr);  // the heaps come before the refusals
        HESLHEAP parent = Heap(0, 0, heapFlags), heap = child ? Heap(4096, 4096, 0, parent) : parent;
        ASSERT_NE(nullptr, heap);
        eslHeapHookNoMemory(answerAfter ? &RecordingHook : nullptr);
        SetSystemAllocator(&RefusingAllocate);
        gRefusals = refusals;
        gSystemCalls = 0;
        gRetries.clear();
        gAnswerAfter = answerAfter;
        eslHeapSetGlobalFlag(globalFlags);
        EXPECT_EQ(refusals > 0, eslHeapAllocate(heap, 70000, callFlags) != nullptr);
        EXPECT_EQ(retries, gRetries);
        EXPECT_EQ(calls, gSystemCalls);
        EXPECT_NE(nullptr, eslHeapAllocate(heap, 100, callFlags)) << "small blocks come from the segments it has";
        if (refusals < 0 && answerAfter) {  // where no dialog would be shown
            EXPECT_EQ(nullptr, eslHeapCreate(0, 0, 0, nullptr));
        }
        eslHeapSetGlobalFlag(0);
        EXPECT_TRUE(Sound(heap));
    }
}

// Blocks in use in address order, up to the given count; an 8-byte one shows 8 bytes.
TEST_F(HeapTest, DumpListsBlocksInUseUpToTheGivenCount) {
    HESLHEAP heap = Heap();
    auto filled = [heap](DWORD size, BYTE first) {
        BYTE* p = Bytes(eslHeapAllocate(heap, size, 0));
        for (DWORD i = 0; i < std::min<DWORD>(size, 40); ++i)
            p[i] = static_cast<BYTE>(first + i);
        char line[64];
        std::snprintf(line, sizeof line, "block %08" PRIXPTR "H (%lu bytes) :", reinterpret_cast<uintptr_t>(p), size);
        return std::string(line);
    };
    const std::string a = filled(8, 0xA0), c = filled(40, 0xF8) + " F8 F9 FA FB FC FD FE FF 00 01 02 03 04 05 06 07\n";
    const std::string title = "ESL の解放されていないメモリブロックがあります\n";
    EXPECT_EQ(title + c + a + " A0 A1 A2 A3 A4 A5 A6 A7\n", Dump(heap));
    EXPECT_EQ(title + c, Dump(heap, 1));
    EXPECT_EQ(title, Dump(heap, 0)) << "the title still says blocks remain";
}

// Requests take 16-byte steps; a full chunk chains one of the growth size, or of the
// request and header if more; freeing unwinds to the first chunk, emptied.
TEST_F(HeapTest, StackHeapRoundsRequestsChainsChunksAndUnwinds) {
    HSTACKHEAP heap = eslStackHeapCreate(5000, 3000);  // chunks of 8192, then 4096
    const DWORD kHeader = kStackChunkHeaderSize, kFill0 = 8192 - kHeader - 4288, kFill1 = 4096 - kHeader - 32,
                kFill2 = 12288 - kHeader - 10000;  // what is left of each chunk
    const DWORD kCases[][3] =
        {{0, 0, 0},          {1, 0, 16},        {16, 0, 32},    {17, 0, 48},     {100, 0, 80},
         {4096, 0, 192},     {kFill0, 0, 4288}, {32, 1, 0},     {kFill1, 1, 32}, {10000, 2, 0},
         {kFill2, 2, 10000}, {1, 3, 0},         {~0u - 7, 9, 0}};  // the last must not wrap around
    for (int round = 0; round < 2; ++round) {
        for (const auto& [size, chunk, offset] : kCases) {
            void* p = eslStackHeapAllocate(heap, size);
            auto* c = reinterpret_cast<StackChunk*>(heap);
            for (DWORD i = 0; c && i < chunk; ++i)
                c = c->pNext;
            EXPECT_EQ(c ? c->pData + offset : nullptr, p) << round << ", " << size;
        }
        eslStackHeapFree(heap);
        EXPECT_EQ(nullptr, reinterpret_cast<StackChunk*>(heap)->pNext);
    }
    SetSystemAllocator(&RefusingAllocate);
    gRefusals = -1;
    eslHeapSetGlobalFlag(ESL_HEAP_NO_DIALOG);
    EXPECT_NE(nullptr, eslStackHeapAllocate(heap, 100));
    EXPECT_EQ(nullptr, eslStackHeapAllocate(heap, 100000));
    eslStackHeapDestroy(heap);
    EXPECT_EQ(nullptr, eslStackHeapAllocate(nullptr, 16));
    eslStackHeapFree(nullptr);
    eslStackHeapDestroy(nullptr);
    EXPECT_EQ(nullptr, eslStackHeapCreate(0xFFFFFFFF, 0));
}

//--- random runs against a shadow model

namespace {

// Random allocations, reallocations and frees: blocks keep their pattern and a length
// of the request rounded up to 8 (or a little more), the heap stays sound, and what
// each step takes of a shared stack heap stays the thread's own. The first fault.
std::string RunModel(HESLHEAP heap, HSTACKHEAP stack, unsigned seed, int steps) {
    struct Live {
        BYTE* p;
        DWORD size;
        BYTE seed;
    };
    std::mt19937 rng(seed);
    std::vector<Live> live, stacked;
    auto intact = [heap](const Live& b, DWORD kept) {
        const DWORD length = eslHeapGetLength(heap, b.p), least = b.size ? (b.size + 7) & ~DWORD{7} : 8;
        bool ok = length != kInvalid && length >= least && length < least + 32 && length % 8 == 0;
        for (DWORD i = 0; ok && i < std::min(kept, b.size); ++i)
            ok = b.p[i] == BYTE(b.seed + i * 7 + (i >> 8));
        return ok;
    };
    char error[256] = "";
    for (int step = 1; step <= steps && !*error; ++step) {
        const unsigned op = rng() % 10, r = rng() % 1000;
        // Mostly small; the last kind gets a segment of its own.
        Live b{nullptr, rng() % (r < 700 ? 257 : r < 960 ? 5000 : r < 995 ? 32000 : 132768), 0}, old{};
        if (!live.empty() && (op >= 4 || live.size() >= 500)) {
            std::swap(live[rng() % live.size()], live.back());
            old = live.back();
            live.pop_back();
            if (!intact(old, old.size))
                std::strcpy(error, "a block was damaged");
            if (op < 7) {
                eslHeapFree(heap, old.p, 0);
                continue;
            }
            b = Live{static_cast<BYTE*>(eslHeapReallocate(heap, old.p, b.size, 0)), b.size, old.seed};
        } else {
            b.p = static_cast<BYTE*>(eslHeapAllocate(heap, b.size, 0));
        }
        if (!b.p || !intact(b, old.size))
            std::snprintf(error, sizeof error, "%s %lu bytes", old.p ? "reallocated to" : "allocated", b.size);
        b.seed = static_cast<BYTE>(rng());
        for (DWORD i = 0; b.p && i < b.size; ++i)
            b.p[i] = BYTE(b.seed + i * 7 + (i >> 8));
        live.push_back(b);
        stacked.push_back(Live{static_cast<BYTE*>(eslStackHeapAllocate(stack, r % 64)), r % 64, BYTE(seed)});
        std::memset(stacked.back().p, seed, r % 64);
        if (step % 4000 == 0 && !*error)
            CheckHeap(heap, error, sizeof error);
    }
    for (const Live& b : live) {
        if (!intact(b, b.size) && !*error)
            std::strcpy(error, "a block was damaged by the end");
        eslHeapFree(heap, b.p, 0);
    }
    for (const Live& b : stacked) {
        if (std::count(b.p, b.p + b.size, b.seed) != static_cast<ptrdiff_t>(b.size) && !*error)
            std::strcpy(error, "stack heap memory shared with another thread");
    }
    return error;
}

}  // namespace

// Three users are the window thread and two loaders; one more uses the parent.
TEST_F(HeapTest, ModelRandomRunsKeepEveryBlockIntact) {
    // Name, initial and growth size, flags, users, whether a child or the global heap.
    const std::tuple<const char*, DWORD, DWORD, DWORD, int, bool, bool> kKinds[] = {
        {"small segments", 4096, 4096, 0, 1, false, false},
        {"child of a parent", 8192, 16384, 0, 1, true, false},
        {"no lock", 0, 0, ESL_HEAP_NO_SERIALIZE, 1, false, false},
        {"zero-filling", 0, 0, ESL_HEAP_ZERO_INIT, 1, false, false},
        {"three threads", 0, 0, 0, 3, false, false},
        {"three threads, global heap", 0, 0, 0, 3, false, true},
        {"three threads, child of a parent", 4096, 8192, 0, 3, true, false}};
    for (const auto& [name, init, grow, flags, users, child, global] : kKinds) {
        SCOPED_TRACE(name);
        HESLHEAP parent = Heap(), heap = global ? nullptr : eslHeapCreate(init, grow, flags, child ? parent : nullptr);
        HSTACKHEAP stack = eslStackHeapCreate(4096, 4096);
        std::vector<std::string> errors(users + 1);
        std::vector<std::thread> threads;
        for (int t = 0; t <= users; ++t) {
            HESLHEAP user = t < users ? heap : parent;
            threads.emplace_back([&, t, user] { errors[t] = RunModel(user, stack, 1958 + t, 24000); });
        }
        for (int t = 0; t <= users; ++t) {
            threads[t].join();
            EXPECT_EQ("", errors[t]) << "thread " << t;
        }
        eslStackHeapDestroy(stack);
        EXPECT_TRUE(Sound(heap));
        EXPECT_EQ(0, eslVerifyHeapChain(heap));
        if (global) {  // handle 0; not destroyed by its handle, only made again once freed
            eslHeapDestroy(nullptr);
            EXPECT_TRUE(Sound(nullptr));
            eslFreeGlobalHeap();
            EXPECT_TRUE(Sound(eslGetGlobalHeap()));
            continue;
        }
        EXPECT_GE(2, SegmentCount(heap)) << "the first segment and at most one spare remain";
        EXPECT_EQ("", Dump(heap));
        eslHeapDestroy(heap);
        EXPECT_EQ("", Dump(parent)) << "every block given back";
    }
}

}  // namespace
