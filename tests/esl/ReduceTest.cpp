// Area-average resampling against a reference that computes every target
// pixel straight from its definition: the exact mean of the covered source
// area, rounded half up.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "ImageTestSupport.h"
#include "esl_image_reduce.h"

using imagetest::Channel;
using imagetest::Get32;
using imagetest::Make32;
using imagetest::Pixel32;

namespace {

// Overlap of [a0, a1) and [b0, b1).
std::int64_t Overlap(std::int64_t a0, std::int64_t a1, std::int64_t b0, std::int64_t b1) {
    return std::max<std::int64_t>(0, std::min(a1, b1) - std::max(a0, b0));
}

// Row r of the source meets row r of the target: both images here keep the
// same orientation. Source pixel (i, k) spans [i w, (i + 1) w) x [k h, ...)
// in units where a target pixel is W x H.
std::vector<DWORD> ReferenceScale(const ImageBuffer* src, int w, int h) {
    const std::int64_t W = src->nWidth, H = src->nHeight;
    std::vector<DWORD> out(static_cast<std::size_t>(w) * h);
    for (int l = 0; l < h; ++l)
        for (int j = 0; j < w; ++j) {
            std::int64_t sum[4] = {};
            for (int k = 0; k < H; ++k) {
                const std::int64_t oy = Overlap(l * H, (l + 1) * H, k * h, (k + 1) * h);
                if (!oy)
                    continue;
                for (int i = 0; i < W; ++i) {
                    const std::int64_t ox = Overlap(j * W, (j + 1) * W, i * w, (i + 1) * w);
                    const DWORD p = Get32(src, i, k);
                    for (int c = 0; c < 4; ++c)
                        sum[c] += Channel(p, c) * ox * oy;
                }
            }
            const std::int64_t d = W * H;
            DWORD v = 0;
            for (int c = 0; c < 4; ++c)
                v |= static_cast<DWORD>((2 * sum[c] + d) / (2 * d)) << (8 * c);
            out[static_cast<std::size_t>(l) * w + j] = v;
        }
    return out;
}

UniqueImageBuffer Scale(const ImageBuffer* src, int w, int h) {
    UniqueImageBuffer dest = Make32(w, h);
    EXPECT_EQ(0, ScaleImageByAreaAverage(dest.get(), src));
    return dest;
}

::testing::AssertionResult EqualsReference(const ImageBuffer* src, const ImageBuffer* dest) {
    const std::vector<DWORD> expected = ReferenceScale(src, dest->nWidth, dest->nHeight);
    for (int y = 0; y < dest->nHeight; ++y)
        for (int x = 0; x < dest->nWidth; ++x)
            if (expected[static_cast<std::size_t>(y) * dest->nWidth + x] != Get32(dest, x, y))
                return ::testing::AssertionFailure() << "differs at " << x << "," << y;
    return ::testing::AssertionSuccess();
}

// Each of the four ways through, on widths that leave pixels after the last
// block of four, and the plain path on the same sizes.
TEST(Reduce, EveryPathGivesTheExactRoundedMean) {
    const struct {
        const char* path;
        int sw, sh, dw, dh;
    } kCases[] = {
        {"narrow: at most 128 units a target line", 70, 61, 33, 40},
        {"narrow: whole lines summed eight at a time", 13, 120, 7, 3},
        {"whole lines and edges, over 128 units a line", 21, 300, 10, 7},
        {"line pairs: more than 128 whole lines and an edge", 5, 263, 3, 2},
        {"whole lines: none whole, over 128 units a line", 6, 131, 4, 130},
        {"narrow: enlarged down and across", 10, 5, 23, 6},
        {"one pixel", 1, 1, 1, 1},
    };
    for (const auto& c : kCases) {
        UniqueImageBuffer src = Make32(c.sw, c.sh);
        imagetest::FillRandom(src.get(), c.sw * 1000 + c.sh);
        for (bool plain : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.path << (plain ? ", plain" : ""));
            std::unique_ptr<imagetest::PlainPathsOnly> off(plain ? new imagetest::PlainPathsOnly : nullptr);
            EXPECT_TRUE(EqualsReference(src.get(), Scale(src.get(), c.dw, c.dh).get()));
        }
    }
}

// The weights by coverage and the rounding, by hand.
TEST(Reduce, ThreeToTwoWeighsByCoverageAndRoundsHalfUp) {
    UniqueImageBuffer square = Make32(3, 3);
    const BYTE grey[3][3] = {{0, 30, 60}, {90, 120, 150}, {180, 210, 241}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            *Pixel32(square.get(), x, y) = grey[y][x] * 0x01010101u;
    UniqueImageBuffer small = Scale(square.get(), 2, 2);
    // Top-left: (4 x 0 + 2 x 30 + 2 x 90 + 120) / 9 = 40.
    EXPECT_EQ(40 * 0x01010101u, Get32(small.get(), 0, 0));
    // Bottom-right: (120 + 2 x 150 + 2 x 210 + 4 x 241) / 9 = 200.44 -> 200.
    EXPECT_EQ(200 * 0x01010101u, Get32(small.get(), 1, 1));
    *Pixel32(square.get(), 2, 2) = 242 * 0x01010101u;  // 200.89 -> 201
    EXPECT_EQ(201 * 0x01010101u, Get32(Scale(square.get(), 2, 2).get(), 1, 1));
}

TEST(Reduce, LinesMeetAsTheScreenShowsThem) {
    UniqueImageBuffer src = Make32(9, 14);
    imagetest::FillRandom(src.get(), 3);
    UniqueImageBuffer same = Scale(src.get(), 4, 5);
    UniqueImageBuffer flipped = Make32(4, 5);
    FlipImage(flipped.get());  // row 0 is now the top line, as in the source's bottom row
    ASSERT_EQ(0, ScaleImageByAreaAverage(flipped.get(), src.get()));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(Get32(same.get(), x, y), Get32(flipped.get(), x, 4 - y));
}

TEST(Reduce, HugeRatiosDoNotOverflow) {
    // 6000 -> 1 along each axis in turn, white: any 32-bit overflow shows.
    UniqueImageBuffer row = Make32(6000, 3);
    FillImage(row.get(), 0xFFFFFFFF);
    EXPECT_EQ(0xFFFFFFFFu, Get32(Scale(row.get(), 1, 1).get(), 0, 0));
    UniqueImageBuffer column = Make32(3, 6000);
    FillImage(column.get(), 0xFFFFFFFF);
    EXPECT_EQ(0xFFFFFFFFu, Get32(Scale(column.get(), 1, 1).get(), 0, 0));
    UniqueImageBuffer big = Make32(3001, 2999);
    FillImage(big.get(), 0xFEFDFCFB);
    EXPECT_EQ(0xFEFDFCFBu, Get32(Scale(big.get(), 1, 1).get(), 0, 0));
    UniqueImageBuffer coprime = Make32(4001, 2);
    imagetest::FillRandom(coprime.get(), 9);
    EXPECT_TRUE(EqualsReference(coprime.get(), Scale(coprime.get(), 7, 1).get()));
}

// The mean of source pixels [begin, end) of a line of 40001, in doubles.
DWORD LineMean(const ImageBuffer* src, bool down, double begin, double end) {
    DWORD out = 0;
    for (int c = 0; c < 4; ++c) {
        double sum = 0;
        for (int i = static_cast<int>(begin); i < end && i < 40001; ++i) {
            const double cover = std::min<double>(i + 1, end) - std::max<double>(i, begin);
            sum += Channel(Get32(src, down ? 0 : i, down ? i : 0), c) * cover;
        }
        out |= static_cast<DWORD>(std::lround(sum / (end - begin))) << (8 * c);
    }
    return out;
}

TEST(Reduce, GridsTooFineForExactWeightsStayClose) {
    // 40001 -> 40000 lines have a 40000 : 40001 grid, too fine for 16-bit
    // line weights: it is coarsened. Across, the grid stays exact.
    for (bool down : {true, false}) {
        SCOPED_TRACE(down ? "down" : "across");
        UniqueImageBuffer src = down ? Make32(1, 40001) : Make32(40001, 1);
        FillImage(src.get(), 0x80808080);
        UniqueImageBuffer dest = down ? Scale(src.get(), 1, 40000) : Scale(src.get(), 40000, 1);
        for (int i = 0; i < 40000; ++i)
            ASSERT_EQ(0x80808080u, Get32(dest.get(), down ? 0 : i, down ? i : 0));
        imagetest::FillRandom(src.get(), 4);
        UniqueImageBuffer random = down ? Scale(src.get(), 1, 40000) : Scale(src.get(), 40000, 1);
        std::mt19937 rng(1);
        for (int round = 0; round < 300; ++round) {
            const int i = rng() % 40000;
            const DWORD want = LineMean(src.get(), down, i * 40001.0 / 40000.0, (i + 1) * 40001.0 / 40000.0);
            const DWORD got = Get32(random.get(), down ? 0 : i, down ? i : 0);
            for (int c = 0; c < 4; ++c)
                ASSERT_LE(std::abs(Channel(want, c) - Channel(got, c)), 1) << i;
        }
    }
}

TEST(Reduce, OnlyThirtyTwoBitImages) {
    UniqueImageBuffer src = Make32(4, 4);
    UniqueImageBuffer rgb(CreateImageBuffer(kImageFormatColor, 2, 2, 24, 0));
    EXPECT_EQ(1, ScaleImageByAreaAverage(rgb.get(), src.get()));
    EXPECT_EQ(1, ScaleImageByAreaAverage(src.get(), rgb.get()));
    EXPECT_EQ(1, ScaleImageByAreaAverage(nullptr, src.get()));
    EXPECT_EQ(1, ScaleImageByAreaAverage(src.get(), nullptr));
}

}  // namespace
