// Random allocate / reallocate / free sequences against a shadow model of
// every live block: sizes, contents and zero fill, with the heap's own
// consistency checks after every phase.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "HeapTestSupport.h"
#include "esl_heap.h"

using heap_test::HeapIsSound;

namespace {

struct Live {
    BYTE* p;
    DWORD size;  // requested; the bytes filled with the pattern
    BYTE seed;
};

BYTE PatternAt(BYTE seed, DWORD i) {
    return static_cast<BYTE>(seed + i * 7 + (i >> 8));
}

class Model : heap_test::NoCopy {
public:
    Model(HESLHEAP hHeap, unsigned seed, size_t maxLive) : m_hHeap(hHeap), m_rng(seed), m_maxLive(maxLive) {}
    ~Model() { FreeAll(); }

    const std::string& Error() const { return m_error; }

    bool Run(int steps) {
        for (int i = 0; i < steps; ++i) {
            if (!Step())
                return false;
        }
        return true;
    }
    bool CheckAll() {
        return std::all_of(m_live.begin(), m_live.end(), [this](const Live& b) { return Intact(b, "check"); });
    }
    bool FreeAll() {
        bool ok = CheckAll();
        for (const Live& b : m_live)
            eslHeapFree(m_hHeap, b.p, 0);
        m_live.clear();
        return ok;
    }
    // Hands a block over to another thread's model.
    bool Give(Live* out) {
        if (m_live.empty())
            return false;
        *out = Remove(m_rng() % m_live.size());
        return true;
    }
    void Take(const Live& b) { m_live.push_back(b); }

private:
    DWORD RandomSize() {
        unsigned r = m_rng() % 1000;
        if (r < 700)
            return m_rng() % 257;
        if (r < 960)
            return m_rng() % 5000;
        if (r < 995)
            return 10000 + m_rng() % 22000;
        return 32768 + m_rng() % 100000;  // a segment of its own
    }
    bool Fail(const char* what, const Live& b) {
        std::ostringstream text;
        text << what << ": block " << static_cast<void*>(b.p) << " of " << b.size << " bytes";
        m_error = text.str();
        return false;
    }
    // The length is the request rounded up to 8 (8 at least), give or take a split-off rest.
    bool Intact(const Live& b, const char* when, DWORD unchanged = ~DWORD{0}) {
        DWORD length = eslHeapGetLength(m_hHeap, b.p), least = b.size ? (b.size + 7) & ~DWORD{7} : 8;
        if (length == ~DWORD{0} || length < least || length >= least + 32 || length % 8)
            return Fail(when, b);
        for (DWORD i = 0; i < std::min(unchanged, b.size); ++i) {
            if (b.p[i] != PatternAt(b.seed, i))
                return Fail("contents changed", b);
        }
        return true;
    }
    bool Zero(const Live& b, DWORD from, DWORD to) {
        if (std::any_of(b.p + from, b.p + std::max(from, to), [](BYTE x) { return x != 0; }))
            return Fail("not zero-filled", b);
        return true;
    }
    void Fill(Live& b) {
        b.seed = static_cast<BYTE>(m_rng());
        for (DWORD i = 0; i < b.size; ++i)
            b.p[i] = PatternAt(b.seed, i);
    }
    Live Remove(size_t i) {
        Live b = m_live[i];
        m_live[i] = m_live.back();
        m_live.pop_back();
        return b;
    }
    DWORD ZeroFlag() { return m_rng() % 3 == 0 ? DWORD{ESL_HEAP_ZERO_INIT} : DWORD{0}; }

    bool Step() {
        unsigned op = m_rng() % 10;
        if (m_live.empty() || (op < 4 && m_live.size() < m_maxLive)) {
            DWORD flags = ZeroFlag();
            Live b{nullptr, RandomSize(), 0};
            b.p = static_cast<BYTE*>(eslHeapAllocate(m_hHeap, b.size, flags));
            if (!b.p)
                return Fail("allocation failed", b);
            if (flags && !Zero(b, 0, eslHeapGetLength(m_hHeap, b.p)))
                return false;
            Fill(b);
            m_live.push_back(b);
            return Intact(b, "after allocation");
        }
        size_t i = m_rng() % m_live.size();
        Live& b = m_live[i];
        if (!Intact(b, op < 7 ? "before free" : "before reallocation"))
            return false;
        if (op < 7) {
            eslHeapFree(m_hHeap, Remove(i).p, 0);
            return true;
        }
        DWORD oldLength = eslHeapGetLength(m_hHeap, b.p), flags = ZeroFlag();
        Live moved{nullptr, RandomSize(), b.seed};
        moved.p = static_cast<BYTE*>(eslHeapReallocate(m_hHeap, b.p, moved.size, flags));
        if (!moved.p)
            return Fail("reallocation failed", b);
        if (!Intact(moved, "after reallocation", b.size) ||
            (flags && !Zero(moved, oldLength, std::min(eslHeapGetLength(m_hHeap, moved.p), moved.size))))
            return false;
        b = moved;
        Fill(b);
        return true;
    }

    HESLHEAP m_hHeap;
    std::mt19937 m_rng;
    size_t m_maxLive;
    std::vector<Live> m_live;
    std::string m_error;
};

}  // namespace

TEST(HeapModel, RandomSequenceKeepsEveryBlockIntact) {
    const struct {
        const char* name;
        DWORD initSize, growSize, flags;
        bool withParent;
    } kKinds[] = {
        {"default", 0, 0, 0, false},
        {"small segments", 4096, 4096, 0, false},
        {"child of a parent", 8192, 16384, 0, true},
        {"no lock", 0, 0, ESL_HEAP_NO_SERIALIZE, false},
        {"zero-filling", 0, 0, ESL_HEAP_ZERO_INIT, false},
    };
    for (const auto& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        HESLHEAP parent = kind.withParent ? eslHeapCreate(0, 0, 0, nullptr) : nullptr;
        HESLHEAP heap = eslHeapCreate(kind.initSize, kind.growSize, kind.flags, parent);
        ASSERT_NE(nullptr, heap);
        {
            Model model(heap, 20261206, 600);
            for (int phase = 0; phase < 6; ++phase) {
                SCOPED_TRACE(phase);
                ASSERT_TRUE(model.Run(4000) && model.CheckAll()) << model.Error();
                ASSERT_TRUE(HeapIsSound(heap));
                ASSERT_EQ(0, eslVerifyHeapChain(heap));
                ASSERT_TRUE(!parent || HeapIsSound(parent));
            }
            ASSERT_TRUE(model.FreeAll()) << model.Error();
        }
        EXPECT_TRUE(HeapIsSound(heap));
        EXPECT_GE(2, esl::heap_detail::SegmentCount(heap)) << "the first segment and at most one spare remain";
        heap_test::DumpCapture capture;
        eslHeapDump(heap, 100);
        eslHeapDestroy(heap);
        if (parent) {
            eslHeapDump(parent, 100);  // the child gave every segment back
            eslHeapDestroy(parent);
        }
        EXPECT_EQ("", heap_test::DumpCapture::Text());
    }
}

namespace {

// Three users at once, as the viewer's window thread and its two loaders;
// blocks also change hands, so that one thread frees what another allocated.
void RunThreeThreads(HESLHEAP heap) {
    std::mutex exchangeLock;
    std::vector<Live> exchange;
    std::vector<std::string> errors(3);
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            Model model(heap, 1000 + t, 400);
            for (int round = 0; round < 40 && errors[t].empty(); ++round) {
                if (!model.Run(500))
                    break;
                std::lock_guard<std::mutex> hold(exchangeLock);
                Live b;
                for (int i = 0; i < 10 && model.Give(&b); ++i)
                    exchange.push_back(b);
                for (int i = 0; i < 10 && !exchange.empty(); ++i) {
                    model.Take(exchange.back());
                    exchange.pop_back();
                }
            }
            if (!model.Error().empty() || !model.FreeAll())
                errors[t] = model.Error();
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < 3; ++t)
        EXPECT_EQ("", errors[t]) << "thread " << t;
    for (const Live& b : exchange)
        eslHeapFree(heap, b.p, 0);
    EXPECT_TRUE(HeapIsSound(heap));
    EXPECT_EQ(0, eslVerifyHeapChain(heap));
}

}  // namespace

TEST(HeapThreads, ThreeThreadsShareAPrivateHeapOrTheGlobalOne) {
    {
        SCOPED_TRACE("private");
        HESLHEAP heap = eslHeapCreate(0, 0, 0, nullptr);
        RunThreeThreads(heap);
        heap_test::DumpCapture capture;
        eslHeapDump(heap, 100);
        EXPECT_EQ("", heap_test::DumpCapture::Text());
        eslHeapDestroy(heap);
    }
    SCOPED_TRACE("global");
    RunThreeThreads(nullptr);
    EXPECT_TRUE(HeapIsSound(eslGetGlobalHeap()));
}

TEST(HeapThreads, ThreeThreadsShareAChildHeapWhileItsParentIsBusy) {
    HESLHEAP parent = eslHeapCreate(0, 0, 0, nullptr);
    HESLHEAP child = eslHeapCreate(4096, 8192, 0, parent);
    std::string parentError;
    std::thread onParent([parent, &parentError] {
        Model model(parent, 77, 300);
        if (!model.Run(20000) || !model.FreeAll())
            parentError = model.Error();
    });
    RunThreeThreads(child);
    onParent.join();
    EXPECT_EQ("", parentError);
    EXPECT_TRUE(HeapIsSound(parent));
    eslHeapDestroy(child);
    eslHeapDestroy(parent);
}
