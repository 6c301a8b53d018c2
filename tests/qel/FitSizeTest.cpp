// Fitting a picture into an area: the sizes and offsets of every flag.
#include <gtest/gtest.h>

#include <windows.h>

#include "qel_picture.h"

using qel::CalcFitSize;

namespace {

constexpr unsigned kFill = qel::FIT_WIDTH | qel::FIT_HEIGHT | qel::FIT_KEEP_ASPECT;  // the viewer's 11

struct FitCase {
    const char* name;
    int aw, ah, pw, ph;
    unsigned flags;
    double maxScale;
    int w, h;
};

const FitCase kFitCases[] = {
    {"tall page on a wide screen", 1000, 800, 500, 1000, kFill, 0.0, 400, 800},
    {"wide page on a wide screen", 1000, 800, 2000, 1000, kFill, 0.0, 1000, 500},
    {"small page is enlarged", 1000, 800, 100, 80, kFill, 0.0, 1000, 800},
    {"no enlarging keeps a small page", 1000, 800, 100, 80, kFill | qel::FIT_NO_ENLARGE, 0.0, 100, 80},
    {"no enlarging still reduces", 1000, 800, 2000, 1000, kFill | qel::FIT_NO_ENLARGE, 0.0, 1000, 500},
    {"no flags: the picture's own size", 1000, 800, 1234, 567, 0, 0.0, 1234, 567},
    {"width only, no aspect", 1000, 800, 500, 300, qel::FIT_WIDTH, 0.0, 1000, 300},
    {"height only, no aspect", 1000, 800, 500, 300, qel::FIT_HEIGHT, 0.0, 500, 800},
    {"width with aspect", 1000, 800, 500, 300, qel::FIT_WIDTH | qel::FIT_KEEP_ASPECT, 0.0, 1000, 600},
    {"height with aspect", 1000, 800, 500, 300, qel::FIT_HEIGHT | qel::FIT_KEEP_ASPECT, 0.0, 1333, 800},
    {"aspect alone changes nothing", 1000, 800, 500, 300, qel::FIT_KEEP_ASPECT, 0.0, 500, 300},
    {"both without aspect stretch", 1000, 800, 500, 300, qel::FIT_WIDTH | qel::FIT_HEIGHT, 0.0, 1000, 800},
    {"equal ratios take the width's", 1000, 800, 500, 400, kFill, 0.0, 1000, 800},
    {"maximum scale limits enlarging", 1000, 800, 100, 80, kFill, 2.0, 200, 160},
    {"maximum scale truncates", 1000, 800, 3, 3, kFill, 2.5, 7, 7},
    {"maximum scale not reached", 1000, 800, 500, 400, kFill, 3.0, 1000, 800},
    {"no enlarging wins over maximum scale", 1000, 800, 100, 80, kFill | qel::FIT_NO_ENLARGE, 2.0, 100, 80},
    // A sliver is drawn one pixel across, never zero wide.
    {"sliver on a screen", 1024, 768, 1, 2000, kFill, 0.0, 1, 768},
    {"flat sliver", 1024, 768, 5000, 1, kFill, 0.0, 1024, 1},
    {"zero picture width", 1000, 800, 0, 100, kFill, 0.0, 0, 0},
    {"zero picture height", 1000, 800, 100, 0, kFill, 0.0, 0, 0},
    {"zero area", 0, 800, 100, 100, kFill, 0.0, 0, 0},
    {"negative area", 1000, -1, 100, 100, kFill, 0.0, 0, 0},
    {"tiny maximum scale", 1000, 800, 10, 10, kFill, 0.01, 1, 1},
    {"huge enlargement by width only", 2000000000, 10, 1, 1000, qel::FIT_WIDTH | qel::FIT_KEEP_ASPECT, 0.0, 2000000000,
     2147483647},
};

struct OffsetCase {
    const char* name;
    int aw, ah, pw, ph;
    unsigned flags;
    int w, h;
    LONG x, y;
};

constexpr unsigned kCalc = qel::FIT_CALC_X | qel::FIT_CALC_Y;
const OffsetCase kOffsetCases[] = {
    {"no calculation, no offset", 1000, 800, 500, 400, 0, 500, 400, 0, 0},
    {"smaller is centred", 1000, 800, 500, 401, kCalc, 500, 401, 250, 199},
    {"only x", 1000, 800, 500, 400, qel::FIT_CALC_X, 500, 400, 250, 0},
    {"only y", 1000, 800, 500, 400, qel::FIT_CALC_Y, 500, 400, 0, 200},
    {"wider stays left", 1000, 800, 1003, 400, kCalc, 1003, 400, 0, 200},
    {"wider to the right", 1000, 800, 1003, 400, kCalc | qel::FIT_ALIGN_RIGHT, 1003, 400, -3, 200},
    {"taller to the bottom", 1000, 800, 500, 805, kCalc | qel::FIT_ALIGN_BOTTOM, 500, 805, 250, -5},
    {"same size to the right stays", 1000, 800, 1000, 800, kCalc | qel::FIT_ALIGN_RIGHT, 1000, 800, 0, 0},
    // -3 halved rounds toward minus infinity.
    {"always centre, 3 wider", 1000, 800, 1003, 800, kCalc | qel::FIT_ALWAYS_CENTER, 1003, 800, -2, 0},
    {"always centre, 4 taller", 1000, 800, 1000, 804, kCalc | qel::FIT_ALWAYS_CENTER, 1000, 804, 0, -2},
    {"always centre wins over alignment", 1000, 800, 1003, 805,
     kCalc | qel::FIT_ALWAYS_CENTER | qel::FIT_ALIGN_RIGHT | qel::FIT_ALIGN_BOTTOM, 1003, 805, -2, -3},
    {"fitted page centred", 1000, 800, 500, 1000, kFill | kCalc, 400, 800, 300, 0},
};

}  // namespace

TEST(FitSize, EveryFlagGivesItsSize) {
    for (const FitCase& c : kFitCases) {
        SCOPED_TRACE(c.name);
        const auto size = CalcFitSize(c.aw, c.ah, c.pw, c.ph, c.flags, nullptr, c.maxScale);
        EXPECT_EQ(c.w, size.first);
        EXPECT_EQ(c.h, size.second);
    }
}

TEST(FitSize, OffsetsCentreOrAlign) {
    for (const OffsetCase& c : kOffsetCases) {
        SCOPED_TRACE(c.name);
        POINT offset = {99, 99};
        const auto size = CalcFitSize(c.aw, c.ah, c.pw, c.ph, c.flags, &offset);
        EXPECT_EQ(c.w, size.first);
        EXPECT_EQ(c.h, size.second);
        EXPECT_EQ(c.x, offset.x);
        EXPECT_EQ(c.y, offset.y);
    }
}
