// The ring of decoded pages, its loaders, erase and fit, over stand-in pages.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "PageErase.h"
#include "PageFit.h"
#include "PageRing.h"
#include "qel_exception.h"

namespace {

using Size = std::pair<int, int>;

// "name_WxH" decodes to a W x H page, any other name to 100 x 100. While slow
// is set, a loader's decode waits until its continue predicate says stop (10 s
// at most: then it counts as run to its end); a decode cut short counts a
// change when mode() differs from its start.
struct FakePage {
    static inline std::atomic<bool> slow{false};
    static inline std::atomic<int> inFlight{0}, ranToEnd{0}, modeChanges{0};
    static inline std::function<int()> mode = [] { return 0; };

    void Load(const wchar_t* name, qel::ContinueProc keepGoing = nullptr, void* arg = nullptr) {
        path.clear();
        ++inFlight;
        struct Leave {
            ~Leave() { --inFlight; }
        } leave;
        const int before = mode();
        for (DWORD start = ::GetTickCount(); keepGoing && slow; ::Sleep(1)) {
            if (!keepGoing(arg)) {
                modeChanges += mode() != before;
                throw qel::CException("FakePage", 2, "cut short");
            }
            if (::GetTickCount() - start > 10000) {
                ++ranToEnd;
                break;
            }
        }
        size = {100, 100};
        if (const wchar_t* text = std::wcsrchr(name, L'_'))
            std::swscanf(text + 1, L"%dx%d", &size.first, &size.second);
        drawn = size;
        path = name;
    }
    bool IsLoaded() const { return !path.empty(); }
    int GetWidth() const { return size.first; }
    int GetHeight() const { return size.second; }
    int GetDrawWidth() const { return drawn.first; }
    int GetDrawHeight() const { return drawn.second; }
    void SetDrawSize(int width, int height, bool) { drawn = {width, height}; }
    void SelectFrame(int) {}

    std::wstring path;  // empty until decoded
    Size size, drawn;
};

// A circle of page names.
struct FakeList {
    std::vector<std::wstring> pages;
    size_t current = 0;
    size_t Count() const { return pages.size(); }
    const wchar_t* PathAfter(size_t k) const { return pages[(current + k) % Count()].c_str(); }
    const wchar_t* PathBefore(size_t k) const { return PathAfter(Count() - k % Count()); }
    void Advance() { current = (current + 1) % Count(); }
    void Retreat() { current = (current + Count() - 1) % Count(); }
    void EraseCurrent() {
        pages.erase(pages.begin() + std::ptrdiff_t(current));
        current = current == Count() ? 0 : current;
    }
};

// Pages p0, p1, ..., the even and the odd ones with the suffixes given.
FakeList Book(int count, const wchar_t* even = L"", const wchar_t* odd = L"") {
    FakeList list;
    for (int i = 0; i < count; ++i)
        list.pages.push_back(L"p" + std::to_wstring(i) + (i % 2 ? odd : even));
    return list;
}

class TestRing : public PageRing<FakePage, FakeList> {
public:
    explicit TestRing(FakeList list) {
        m_list = std::move(list);
        SetFitArea(1920, 1080);
    }
    FakePage& Page(int k) const { return *Slot(k); }
    // Once the loaders are done, the list is at the page given (an index
    // brought into the book), and every slot holds the page its offset names
    // in a picture of its own: one in two would let a loader decode into view.
    void ExpectTrue(int& current) {
        WaitLoaders();
        const int n = int(m_list.Count());
        current = (current % n + n) % n;
        EXPECT_EQ(size_t(current), m_list.current);
        for (int k = -2; k <= 3; ++k) {
            EXPECT_EQ(k < 0 ? m_list.PathBefore(-k) : m_list.PathAfter(k), Page(k).path) << "slot " << k;
            EXPECT_EQ(1, std::count(m_slots.begin(), m_slots.end(), Slot(k))) << "slot " << k;
        }
    }
    // As the viewer deletes the current page and shows the next: each picture
    // stays in the ring or goes to be freed; the last page leaves the ring.
    bool Erase() {
        StopLoaders();
        const auto before = m_slots;
        const bool left =
            EraseCurrentPage(m_list, m_slots, m_head, m_released, [] { return boost::make_shared<FakePage>(); });
        for (const PagePtr& page : before)
            EXPECT_NE(std::count(m_slots.begin(), m_slots.end(), page),
                      std::count(m_released.begin(), m_released.end(), page));
        EXPECT_TRUE(left || before == m_slots);
        if (left) {
            StartLoaders();
            ShowSlot(0);  // as the layout then shows the pages
            ShowSlot(m_bSpread ? 1 : 0);
        }
        return left;
    }
};

// Moves each way beyond the largest book in both modes, odd moves in a spread,
// and erases down to the last page. Of pages of unequal widths, a pair fitted
// by a loader in another order than the layout's would have the pixel lost to
// rounding on the other page, and the layout would reduce both again.
TEST(PageRing, EverySlotHoldsThePageItsOffsetNamesAfterEveryMove) {
    const std::string script = "nnnnnnnnnpppppppppppNNNNNPPPPPPSNNNNNNNNNPPPPPPPPPPnpnPPnNSNpPSPPPPPPPPnnNNeNeSePeeNee";
    const std::string moves = "nNpPSe";
    void (TestRing::*const run[])() = {&TestRing::Next1, &TestRing::Next, &TestRing::Prev1, &TestRing::Prev,
                                       &TestRing::ToggleSpread};
    const int single[] = {1, 1, -1, -1, 0, 0}, spread[] = {1, 2, -1, -2, 0, 0};
    for (int count : {1, 2, 3, 7}) {
        TestRing ring(Book(count, L"_601x800", L"_600x800"));
        ASSERT_TRUE(ring.Reload());
        int current = 0;
        ring.ExpectTrue(current);
        for (size_t i = 0; i < script.size() && !HasFailure(); ++i) {
            SCOPED_TRACE(testing::Message() << count << " pages, move " << i);
            const size_t m = moves.find(script[i]);
            current += (ring.IsSpread() ? spread : single)[m];
            if (m == 5 && !ring.Erase())
                break;
            if (m < 5)
                (ring.*run[m])();
            ring.ExpectTrue(current);
            if (ring.IsSpread() && (m == 1 || m == 3)) {
                const Size a = ring.Page(0).drawn, b = ring.Page(1).drawn;
                ring.FitPair(ring.Page(0), ring.Page(1));  // as the layout does
                EXPECT_EQ(a, ring.Page(0).drawn);
                EXPECT_EQ(b, ring.Page(1).drawn);
            }
        }
    }
}

// Each move stops loaders started a moment before, mostly before their threads
// have a queue for the stop request; modes change only while they are stopped;
// the ring stops them before it goes. A quit request is seen and left there.
TEST(PageRing, LoadersStopBeforeEveryChangeAndWithTheRing) {
    MSG msg;
    ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue
    ASSERT_TRUE(::PostThreadMessageA(::GetCurrentThreadId(), WM_QUIT, 0, 0));
    EXPECT_FALSE(TestRing::KeepLoading(nullptr) || TestRing::KeepLoading(nullptr));
    EXPECT_TRUE(::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));

    auto waitForBoth = [] {
        for (int i = 0; i < 5000 && FakePage::inFlight < 2; ++i)
            ::Sleep(1);
        EXPECT_EQ(2, FakePage::inFlight);
    };
    {
        TestRing ring(Book(7));
        const PageRing<FakePage, FakeList>* base = &ring;  // still there while its destructor stops the loaders
        FakePage::mode = [base] { return base->IsSpread() * 2 + base->IsRightBinding(); };
        FakePage::slow = true;
        for (int i = 0; i < 20; ++i)
            ring.Next1();
        EXPECT_TRUE(ring.Reload());
        for (int i = 0; i < 3; ++i) {  // a spread, the other side, single again
            waitForBoth();
            i == 1 ? ring.ToggleBind() : ring.ToggleSpread();
        }
        ring.ToggleBind();  // single: the side stays, and applies again in a spread
        ring.ToggleSpread();
        EXPECT_FALSE(ring.IsRightBinding());
        waitForBoth();
    }
    FakePage::slow = false;
    FakePage::mode = [] { return 0; };
    EXPECT_EQ(0, FakePage::ranToEnd) << "a loader missed its stop request and decoded on";
    EXPECT_EQ(0, FakePage::modeChanges) << "the mode changed under a running loader";
    EXPECT_EQ(0, FakePage::inFlight) << "a loader outlived the ring it fills";
}

// A single page fills the area, proportions kept, centred; a pair is brought to
// one height, the pixel lost to rounding going to the second page.
TEST(PageFit, SizesAndPlaces) {
    const struct {
        const char* name;
        Size area, a, b, drawA, drawB, left, right;  // without b, a single page
    } cases[] = {
        {"small tall page", {1000, 800}, {50, 100}, {}, {400, 800}, {}, {300, 0}, {}},
        {"wide page", {1000, 800}, {2000, 1000}, {}, {1000, 500}, {}, {0, 150}, {}},
        {"odd margin truncates", {1000, 800}, {333, 800}, {}, {333, 800}, {}, {333, 0}, {}},
        {"taller first page", {1920, 1080}, {700, 1000}, {600, 800}, {756, 1080}, {810, 1080}, {177, 0}, {933, 0}},
        {"rounding", {1000, 800}, {1000, 500}, {500, 500}, {666, 333}, {334, 333}, {0, 233}, {666, 233}},
    };
    auto at = [](POINT pt) { return Size(pt.x, pt.y); };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePage a{L"", c.a, c.a}, b{L"", c.b, c.b};
        POINT left{}, right{};
        if (c.b.first == 0) {
            FitSingle(a, c.area.first, c.area.second);
            left = CentreIn(c.area.first, c.area.second, a.drawn.first, a.drawn.second);
        } else {
            FitPair(a, b, c.area.first, c.area.second);
            PlaceSpread(c.area.first, c.area.second, {a.drawn.first, a.drawn.second}, {b.drawn.first, b.drawn.second},
                        left, right);
        }
        EXPECT_EQ(c.drawA, a.drawn);
        EXPECT_EQ(c.drawB, b.drawn);
        EXPECT_EQ(c.left, at(left));
        EXPECT_EQ(c.right, at(right));
    }
}

}  // namespace
