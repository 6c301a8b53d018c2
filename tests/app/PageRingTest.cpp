#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeBook.h"

std::atomic<bool> FakeDecoding::slow{false};
std::atomic<int> FakeDecoding::inFlight{0};
std::atomic<int> FakeDecoding::ranToEnd{0};
std::function<int()> FakeDecoding::mode;
std::atomic<int> FakeDecoding::modeChangesSeen{0};

namespace {

std::vector<std::wstring> Book(int count) {
    std::vector<std::wstring> pages;
    for (int i = 0; i < count; ++i)
        pages.push_back(L"p" + std::to_wstring(i));
    return pages;
}

class PageRingTest : public testing::Test {
protected:
    void TearDown() override {
        FakeDecoding::slow = false;
        FakeDecoding::ranToEnd = 0;
        FakeDecoding::mode = nullptr;
        FakeDecoding::modeChangesSeen = 0;
    }

    // Waits until both loaders are inside a slow decode.
    static void WaitForBothLoaders() {
        for (int i = 0; i < 5000 && FakeDecoding::inFlight < 2; ++i)
            ::Sleep(1);
        ASSERT_EQ(2, FakeDecoding::inFlight);
    }
};

// Once the loaders are done, slot(-2) to slot(+3) are all loaded, each with
// the page its offset names.
void ExpectRingTrue(TestRing& ring, const std::vector<std::wstring>& pages, int current) {
    ring.WaitLoaders();
    const int n = static_cast<int>(pages.size());
    for (int k = -2; k <= 3; ++k) {
        SCOPED_TRACE(testing::Message() << "slot " << k);
        ASSERT_TRUE(ring.Page(k).IsLoaded());
        EXPECT_EQ(pages[((current + k) % n + n) % n], ring.Page(k).Path());
    }
}

TEST_F(PageRingTest, EverySlotHoldsThePageItsOffsetNamesAfterEveryMove) {
    // n, N: Next1, Next; p, P: Prev1, Prev; S: ToggleSpread. More moves each
    // way than the largest book has pages, so both ends are wrapped in both
    // modes, and odd moves in a spread shift the pairs.
    const std::string script = "nnnnnnnnnpppppppppppNNNNNPPPPPPSNNNNNNNNNPPPPPPPPPPnpnPPnNSNpPSPPPPPPPPnnNN";
    for (int count : {1, 2, 3, 7}) {
        SCOPED_TRACE(testing::Message() << count << " pages");
        const auto pages = Book(count);
        TestRing ring(pages);
        ASSERT_TRUE(ring.Reload());
        int current = 0;
        ExpectRingTrue(ring, pages, current);
        for (size_t i = 0; i < script.size(); ++i) {
            const char move = script[i];
            SCOPED_TRACE(testing::Message()
                         << "move " << i << " '" << move << "'" << (ring.IsSpread() ? " in a spread" : " single"));
            const int spreadStep = ring.IsSpread() ? 2 : 1;
            switch (move) {
            case 'n':
                ring.Next1(), current += 1;
                break;
            case 'N':
                ring.Next(), current += spreadStep;
                break;
            case 'p':
                ring.Prev1(), current -= 1;
                break;
            case 'P':
                ring.Prev(), current -= spreadStep;
                break;
            case 'S':
                ring.ToggleSpread();
                break;
            }
            ExpectRingTrue(ring, pages, current);
            if (HasFatalFailure())
                return;
        }
    }
}

TEST_F(PageRingTest, BackwardSpreadIsFittedAsItWillBeShown) {
    // Pages of unequal width: fitting a pair in the other order moves the
    // pixel lost to rounding to the other page, and the window's thread would
    // then make both reduced copies again on a backward turn.
    std::vector<std::wstring> pages;
    for (int i = 0; i < 8; ++i)
        pages.push_back(L"p" + std::to_wstring(i) + (i % 2 ? L"_600x800" : L"_601x800"));
    TestRing ring(pages);
    ASSERT_TRUE(ring.Reload());
    ring.ToggleSpread();
    for (bool forward : {false, true, false}) {
        SCOPED_TRACE(forward ? "next spread" : "previous spread");
        ring.WaitLoaders();
        forward ? ring.Next() : ring.Prev();
        const int before = ring.Page(0).Reductions() + ring.Page(1).Reductions();
        const int width = ring.Page(0).GetDrawWidth();
        ring.FitPair(ring.Page(0), ring.Page(1));  // as the layout does
        EXPECT_EQ(width, ring.Page(0).GetDrawWidth());
        EXPECT_EQ(before, ring.Page(0).Reductions() + ring.Page(1).Reductions());
    }
}

TEST_F(PageRingTest, StopRequestIsNeverLostToAThreadWithoutItsQueue) {
    TestRing ring(Book(7));
    ASSERT_TRUE(ring.Reload());
    ring.WaitLoaders();
    FakeDecoding::slow = true;
    // Each move stops loaders that were started a moment before, most often
    // before their threads have run at all.
    for (int i = 0; i < 20; ++i)
        ring.Next1();
    ring.StopLoaders();
    EXPECT_EQ(0, FakeDecoding::ranToEnd) << "a loader missed its stop request and decoded on";

    // The decodes cut short left their slots empty; a later pass fills them.
    FakeDecoding::slow = false;
    ring.StartLoaders();
    ExpectRingTrue(ring, Book(7), 20);
}

TEST_F(PageRingTest, ModeChangesOnlyWhileTheLoadersAreStopped) {
    TestRing ring(Book(7));
    FakeDecoding::mode = [&ring] { return ring.IsSpread() * 2 + ring.IsRightBinding(); };
    FakeDecoding::slow = true;
    // Into a spread and out again, each time with both loaders mid-decode.
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(ring.Reload());
        WaitForBothLoaders();
        ring.ToggleSpread();
        EXPECT_EQ(0, FakeDecoding::modeChangesSeen) << "ToggleSpread changed the mode under a running loader";
        if (ring.IsSpread()) {
            WaitForBothLoaders();
            ring.ToggleBind();
            EXPECT_EQ(0, FakeDecoding::modeChangesSeen) << "ToggleBind changed the side under a running loader";
        }
    }
    ring.StopLoaders();
    EXPECT_EQ(0, FakeDecoding::modeChangesSeen);
    EXPECT_EQ(0, FakeDecoding::inFlight) << "a loader was left running";
}

TEST_F(PageRingTest, ToggleBindInSinglePageModeChangesNothing) {
    TestRing ring(Book(3));
    ASSERT_TRUE(ring.Reload());
    ring.ToggleBind();
    EXPECT_TRUE(ring.IsRightBinding());
    ring.ToggleSpread();
    ring.ToggleBind();
    EXPECT_FALSE(ring.IsRightBinding());
    ring.ToggleSpread();
    ring.ToggleBind();
    ring.ToggleSpread();
    EXPECT_FALSE(ring.IsRightBinding()) << "the side kept while single applies again";
}

TEST_F(PageRingTest, DestructionStopsTheLoadersFirst) {
    {
        TestRing ring(Book(7));
        FakeDecoding::slow = true;
        ASSERT_TRUE(ring.Reload());
        WaitForBothLoaders();
    }
    EXPECT_EQ(0, FakeDecoding::inFlight) << "a loader outlived the ring it fills";
    EXPECT_EQ(0, FakeDecoding::ranToEnd);
}

TEST_F(PageRingTest, NeighbourThatCannotBeDecodedStaysEmptyUntilShown) {
    TestRing ring({L"p0", L"p1", L"bad2", L"p3", L"p4", L"p5", L"p6"});
    ASSERT_TRUE(ring.Reload());
    ring.WaitLoaders();
    EXPECT_TRUE(ring.Page(1).IsLoaded());
    EXPECT_FALSE(ring.Page(2).IsLoaded());
    EXPECT_FALSE(ring.Page(3).IsLoaded()) << "the rest of a failed pass is left";
    EXPECT_TRUE(ring.Page(-2).IsLoaded()) << "the other loader goes on";

    ring.Next1();
    ring.WaitLoaders();
    EXPECT_EQ(L"p1", ring.Page(0).Path());
    EXPECT_THROW(ring.Next1(), qel::CException) << "the current page is decoded on the window's thread";
}

TEST_F(PageRingTest, ReloadFailsWhenTheCurrentPageCannotBeDecoded) {
    TestRing ring({L"bad0", L"p1"});
    EXPECT_FALSE(ring.Reload());
    EXPECT_FALSE(ring.Page(1).IsLoaded()) << "the loaders stay stopped";
}

TEST(KeepLoading, SeesAQuitRequestWithoutTakingIt) {
    MSG msg;
    ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    EXPECT_TRUE(TestRing::KeepLoading(nullptr));
    ASSERT_TRUE(::PostThreadMessageA(::GetCurrentThreadId(), WM_QUIT, 0, 0));
    EXPECT_FALSE(TestRing::KeepLoading(nullptr));
    EXPECT_FALSE(TestRing::KeepLoading(nullptr)) << "the request stays for the next check";
    EXPECT_TRUE(::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_TRUE(TestRing::KeepLoading(nullptr));
}

}  // namespace
