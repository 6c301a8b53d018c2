// Small blocks on the global heap against the C runtime's malloc, one and two
// threads. One run is 1 M operations over 1024 slots: an empty slot gets a
// block of 8 to 256 bytes, a full one is freed, so frees come in random order.
// With two threads each runs the whole sequence on slots of its own.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "esl_heap.h"
#include "bench_timing.h"

namespace {

constexpr int kOps = 1000000;
constexpr int kSlots = 1024;
constexpr int kRuns = 7;

struct Op {
    unsigned slot;
    unsigned size;
};

std::vector<Op> MakeOps() {
    std::mt19937 rng(58);
    std::vector<Op> ops(kOps);
    for (Op& op : ops)
        op = Op{static_cast<unsigned>(rng() % kSlots), 8 + static_cast<unsigned>(rng() % 249)};
    return ops;
}

struct EslHeap {
    static void* Allocate(unsigned size) { return eslHeapAllocate(nullptr, size, 0); }
    static void Free(void* p) { eslHeapFree(nullptr, p, 0); }
};

struct CrtHeap {
    static void* Allocate(unsigned size) { return std::malloc(size); }
    static void Free(void* p) { std::free(p); }
};

template <class Heap>
void RunOps(const std::vector<Op>& ops) {
    std::vector<void*> slots(kSlots, nullptr);
    for (const Op& op : ops) {
        void*& slot = slots[op.slot];
        if (slot) {
            Heap::Free(slot);
            slot = nullptr;
        } else {
            slot = Heap::Allocate(op.size);
            static_cast<volatile char*>(slot)[0] = 1;
        }
    }
    for (void* p : slots) {
        if (p)
            Heap::Free(p);
    }
}

template <class Heap>
void RunThreads(const std::vector<Op>& ops, int threads) {
    if (threads == 1) {
        RunOps<Heap>(ops);
        return;
    }
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i)
        pool.emplace_back([&ops] { RunOps<Heap>(ops); });
    for (auto& t : pool)
        t.join();
}

}  // namespace

int main() {
    const std::vector<Op> ops = MakeOps();
    // Warm both allocators up so that neither pays for its first segments.
    RunOps<EslHeap>(ops);
    RunOps<CrtHeap>(ops);
    std::printf("bench heap_small_ops_ms %.2f\n", MedianMs(kRuns, [&] { RunThreads<EslHeap>(ops, 1); }));
    std::printf("bench malloc_small_ops_ms %.2f\n", MedianMs(kRuns, [&] { RunThreads<CrtHeap>(ops, 1); }));
    std::printf("bench heap_small_ops_2threads_ms %.2f\n", MedianMs(kRuns, [&] { RunThreads<EslHeap>(ops, 2); }));
    std::printf("bench malloc_small_ops_2threads_ms %.2f\n", MedianMs(kRuns, [&] { RunThreads<CrtHeap>(ops, 2); }));
    return 0;
}
