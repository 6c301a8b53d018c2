#include <gtest/gtest.h>

#include <string>

#include "FakeBook.h"
#include "PageFit.h"

namespace {

FakePage PageOfSize(int width, int height) {
    FakePage page;
    page.Load((L"page_" + std::to_wstring(width) + L"x" + std::to_wstring(height)).c_str());
    return page;
}

TEST(FitSingle, FillsTheScreenWithTheProportionsKept) {
    struct Case {
        const char* name;
        int pageWidth, pageHeight;
        int drawWidth, drawHeight, x, y;
    };
    const Case cases[] = {
        {"tall page", 500, 1000, 400, 800, 300, 0},
        {"wide page", 2000, 1000, 1000, 500, 0, 150},
        {"small page is enlarged", 100, 80, 1000, 800, 0, 0},
        {"same proportions as the screen", 1250, 1000, 1000, 800, 0, 0},
        {"odd margin truncates", 333, 800, 333, 800, 333, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePage page = PageOfSize(c.pageWidth, c.pageHeight);
        FitSingle(page, 1000, 800);
        EXPECT_EQ(c.drawWidth, page.GetDrawWidth());
        EXPECT_EQ(c.drawHeight, page.GetDrawHeight());
        POINT pt = CentreIn(1000, 800, page.GetDrawWidth(), page.GetDrawHeight());
        EXPECT_EQ(c.x, pt.x);
        EXPECT_EQ(c.y, pt.y);
    }
}

TEST(FitPair, BringsBothPagesToOneHeightSideBySide) {
    struct Case {
        const char* name;
        int screenWidth, screenHeight;
        SIZE a, b;  // own sizes; a is drawn on the left here
        SIZE drawA, drawB;
        POINT left, right;
    };
    const Case cases[] = {
        {"two equal pages", 1920, 1080, {600, 800}, {600, 800}, {810, 1080}, {810, 1080}, {150, 0}, {960, 0}},
        {"unequal heights", 1920, 1080, {600, 800}, {1200, 1600}, {810, 1080}, {810, 1080}, {150, 0}, {960, 0}},
        {"taller first page", 1920, 1080, {700, 1000}, {600, 800}, {756, 1080}, {810, 1080}, {177, 0}, {933, 0}},
        {"wide pages fill the width", 1000, 800, {800, 600}, {800, 600}, {500, 375}, {500, 375}, {0, 212}, {500, 212}},
        // 666.67 truncates; the second page takes the rest, so the widths add up.
        {"rounding goes to the second page",
         1000,
         800,
         {1000, 500},
         {500, 500},
         {666, 333},
         {334, 333},
         {0, 233},
         {666, 233}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePage a = PageOfSize(c.a.cx, c.a.cy);
        FakePage b = PageOfSize(c.b.cx, c.b.cy);
        FitPair(a, b, c.screenWidth, c.screenHeight);
        EXPECT_EQ(c.drawA.cx, a.GetDrawWidth());
        EXPECT_EQ(c.drawA.cy, a.GetDrawHeight());
        EXPECT_EQ(c.drawB.cx, b.GetDrawWidth());
        EXPECT_EQ(c.drawB.cy, b.GetDrawHeight());
        POINT left{}, right{};
        PlaceSpread(c.screenWidth, c.screenHeight, {a.GetDrawWidth(), a.GetDrawHeight()},
                    {b.GetDrawWidth(), b.GetDrawHeight()}, left, right);
        EXPECT_EQ(c.left.x, left.x);
        EXPECT_EQ(c.left.y, left.y);
        EXPECT_EQ(c.right.x, right.x);
        EXPECT_EQ(c.right.y, right.y);
    }
}

TEST(PlaceSpread, CentresEachPageOfUnequalHeight) {
    POINT left{}, right{};
    PlaceSpread(1000, 800, {300, 800}, {400, 601}, left, right);
    EXPECT_EQ(150, left.x);
    EXPECT_EQ(0, left.y);
    EXPECT_EQ(450, right.x);
    EXPECT_EQ(99, right.y) << "199 / 2 truncates";
}

}  // namespace
