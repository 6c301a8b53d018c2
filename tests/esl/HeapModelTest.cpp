// Random allocate / reallocate / free sequences against a shadow model of
// every live block: sizes, contents and zero fill, with the heap's own
// consistency check after every phase.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <ostream>
#include <random>
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

inline BYTE PatternAt(BYTE seed, DWORD i) {
    return static_cast<BYTE>(seed + i * 7 + (i >> 8));
}
inline DWORD Round8(DWORD n) {
    return n ? (n + 7) & ~DWORD{7} : 8;
}

class Model {
public:
    Model(HESLHEAP hHeap, unsigned seed, size_t maxLive) : m_hHeap(hHeap), m_rng(seed), m_maxLive(maxLive) {}
    ~Model() { FreeAll(); }
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    const std::string& Error() const { return m_error; }

    bool Run(int steps) {
        for (int i = 0; i < steps; ++i) {
            if (!Step())
                return false;
        }
        return true;
    }

    bool CheckAll() {
        for (const Live& b : m_live) {
            if (!Intact(b, "check"))
                return false;
        }
        return true;
    }

    bool FreeAll() {
        bool ok = true;
        for (const Live& b : m_live) {
            ok = ok && Intact(b, "free all");
            eslHeapFree(m_hHeap, b.p, 0);
        }
        m_live.clear();
        return ok;
    }

    // Hands a block over to another thread's model.
    bool Give(Live* out) {
        if (m_live.empty())
            return false;
        size_t i = m_rng() % m_live.size();
        *out = m_live[i];
        m_live[i] = m_live.back();
        m_live.pop_back();
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
        char text[160];
        std::snprintf(text, sizeof text, "%s: block %p of %lu bytes", what, static_cast<void*>(b.p),
                      static_cast<unsigned long>(b.size));
        m_error = text;
        return false;
    }

    bool Intact(const Live& b, const char* when) { return LengthFits(b, b.size, when) && Unchanged(b, b.size); }

    bool LengthFits(const Live& b, DWORD size, const char* when) {
        DWORD length = eslHeapGetLength(m_hHeap, b.p);
        DWORD least = Round8(size);
        if (length == static_cast<DWORD>(-1) || length < least || length >= least + 32 || length % 8)
            return Fail(when, b);
        return true;
    }

    bool Unchanged(const Live& b, DWORD count) {
        for (DWORD i = 0; i < count; ++i) {
            if (b.p[i] != PatternAt(b.seed, i))
                return Fail("contents changed", b);
        }
        return true;
    }

    void Fill(Live& b) {
        b.seed = static_cast<BYTE>(m_rng());
        for (DWORD i = 0; i < b.size; ++i)
            b.p[i] = PatternAt(b.seed, i);
    }

    bool Zero(const BYTE* p, DWORD from, DWORD to, const Live& b) {
        for (DWORD i = from; i < to; ++i) {
            if (p[i])
                return Fail("not zero-filled", b);
        }
        return true;
    }

    bool Step() {
        unsigned op = m_rng() % 10;
        if (m_live.empty() || (op < 4 && m_live.size() < m_maxLive))
            return Allocate();
        size_t i = m_rng() % m_live.size();
        if (op < 7)
            return Free(i);
        return Reallocate(i);
    }

    bool Allocate() {
        Live b{nullptr, RandomSize(), 0};
        bool zero = m_rng() % 3 == 0;
        b.p = static_cast<BYTE*>(eslHeapAllocate(m_hHeap, b.size, zero ? DWORD{ESL_HEAP_ZERO_INIT} : DWORD{0}));
        if (!b.p)
            return Fail("allocation failed", b);
        if (zero && !Zero(b.p, 0, eslHeapGetLength(m_hHeap, b.p), b))
            return false;
        Fill(b);
        m_live.push_back(b);
        return Intact(b, "after allocation");
    }

    bool Free(size_t i) {
        Live b = m_live[i];
        if (!Intact(b, "before free"))
            return false;
        m_live[i] = m_live.back();
        m_live.pop_back();
        eslHeapFree(m_hHeap, b.p, 0);
        return true;
    }

    bool Reallocate(size_t i) {
        Live& b = m_live[i];
        if (!Intact(b, "before reallocation"))
            return false;
        DWORD oldLength = eslHeapGetLength(m_hHeap, b.p);
        DWORD size = RandomSize();
        bool zero = m_rng() % 3 == 0;
        auto* p = static_cast<BYTE*>(eslHeapReallocate(m_hHeap, b.p, size, zero ? DWORD{ESL_HEAP_ZERO_INIT} : DWORD{0}));
        if (!p)
            return Fail("reallocation failed", b);
        Live moved{p, size, b.seed};
        if (!LengthFits(moved, size, "after reallocation") || !Unchanged(moved, std::min(b.size, size)))
            return false;
        if (zero && !Zero(p, oldLength, std::min(eslHeapGetLength(m_hHeap, p), size), moved))
            return false;
        b = Live{p, size, 0};
        Fill(b);
        return true;
    }

    HESLHEAP m_hHeap;
    std::mt19937 m_rng;
    size_t m_maxLive;
    std::vector<Live> m_live;
    std::string m_error;
};

struct HeapKind {
    const char* name;
    DWORD initSize, growSize, flags;
    bool withParent;
};

const HeapKind kHeapKinds[] = {
    {"default", 0, 0, 0, false},
    {"small segments", 4096, 4096, 0, false},
    {"child of a parent", 8192, 16384, 0, true},
    {"no lock", 0, 0, ESL_HEAP_NO_SERIALIZE, false},
    {"zero-filling", 0, 0, ESL_HEAP_ZERO_INIT, false},
};

void PrintTo(const HeapKind& kind, std::ostream* os) { *os << kind.name; }

class HeapModel : public ::testing::TestWithParam<HeapKind> {};

}  // namespace

TEST_P(HeapModel, RandomSequenceKeepsEveryBlockIntact) {
    const HeapKind& kind = GetParam();
    HESLHEAP parent = kind.withParent ? eslHeapCreate(0, 0, 0, nullptr) : nullptr;
    HESLHEAP heap = eslHeapCreate(kind.initSize, kind.growSize, kind.flags, parent);
    ASSERT_NE(nullptr, heap);
    {
        Model model(heap, 20261206, 600);
        for (int phase = 0; phase < 6; ++phase) {
            SCOPED_TRACE(phase);
            ASSERT_TRUE(model.Run(4000)) << model.Error();
            ASSERT_TRUE(model.CheckAll()) << model.Error();
            ASSERT_TRUE(HeapIsSound(heap));
            ASSERT_EQ(0, eslVerifyHeapChain(heap));
            if (parent) {
                ASSERT_TRUE(HeapIsSound(parent));
            }
        }
        ASSERT_TRUE(model.FreeAll()) << model.Error();
    }
    EXPECT_TRUE(HeapIsSound(heap));
    EXPECT_GE(2, esl::heap_detail::SegmentCount(heap)) << "the first segment and at most one spare remain";
    heap_test::DumpCapture capture;
    eslHeapDump(heap, 100);
    EXPECT_EQ("", heap_test::DumpCapture::Text());
    eslHeapDestroy(heap);
    if (parent) {
        eslHeapDump(parent, 100);
        EXPECT_EQ("", heap_test::DumpCapture::Text()) << "the child gave every segment back";
        eslHeapDestroy(parent);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, HeapModel, ::testing::ValuesIn(kHeapKinds),
                         [](const ::testing::TestParamInfo<HeapKind>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

namespace {

// Three users at once, as the viewer's window thread and its two loaders;
// blocks also change hands, so that one thread frees what another allocated.
void RunThreeThreads(HESLHEAP heap) {
    constexpr int kThreads = 3;
    std::mutex exchangeLock;
    std::vector<Live> exchange;
    std::vector<std::string> errors(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Model model(heap, 1000 + t, 400);
            for (int round = 0; round < 40 && errors[t].empty(); ++round) {
                if (!model.Run(500)) {
                    errors[t] = model.Error();
                    break;
                }
                std::lock_guard<std::mutex> hold(exchangeLock);
                Live b;
                for (int i = 0; i < 10 && model.Give(&b); ++i)
                    exchange.push_back(b);
                for (int i = 0; i < 10 && !exchange.empty(); ++i) {
                    model.Take(exchange.back());
                    exchange.pop_back();
                }
            }
            if (errors[t].empty() && !model.FreeAll())
                errors[t] = model.Error();
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ("", errors[t]) << "thread " << t;
    for (const Live& b : exchange)
        eslHeapFree(heap, b.p, 0);
    EXPECT_TRUE(HeapIsSound(heap));
    EXPECT_EQ(0, eslVerifyHeapChain(heap));
}

}  // namespace

TEST(HeapThreads, ThreeThreadsShareAPrivateHeap) {
    HESLHEAP heap = eslHeapCreate(0, 0, 0, nullptr);
    RunThreeThreads(heap);
    heap_test::DumpCapture capture;
    eslHeapDump(heap, 100);
    EXPECT_EQ("", heap_test::DumpCapture::Text());
    eslHeapDestroy(heap);
}

TEST(HeapThreads, ThreeThreadsShareTheGlobalHeap) {
    RunThreeThreads(nullptr);
    EXPECT_TRUE(HeapIsSound(eslGetGlobalHeap()));
}

TEST(HeapThreads, ThreeThreadsShareAChildHeapAndItsParent) {
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
