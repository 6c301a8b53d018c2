// Area-average resampling against a plain reference that computes every
// target pixel straight from its definition: the exact mean of the covered
// source area, rounded half up.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ImageTestSupport.h"
#include "esl_image_reduce.h"

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
                        sum[c] += ((p >> (8 * c)) & 0xFF) * ox * oy;
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

void ExpectEqualToReference(const ImageBuffer* src, const ImageBuffer* dest) {
    const std::vector<DWORD> expected = ReferenceScale(src, dest->nWidth, dest->nHeight);
    for (int y = 0; y < dest->nHeight; ++y)
        for (int x = 0; x < dest->nWidth; ++x)
            ASSERT_EQ(expected[static_cast<std::size_t>(y) * dest->nWidth + x], Get32(dest, x, y))
                << "at " << x << "," << y;
}

TEST(Reduce, ConstantImageStaysConstant) {
    std::mt19937 rng(5);
    for (int round = 0; round < 40; ++round) {
        const int sw = 1 + rng() % 90, sh = 1 + rng() % 90, dw = 1 + rng() % 90, dh = 1 + rng() % 90;
        const DWORD value = static_cast<DWORD>(rng());
        SCOPED_TRACE(testing::Message() << sw << "x" << sh << " -> " << dw << "x" << dh);
        UniqueImageBuffer src = Make32(sw, sh);
        FillImage(src.get(), value);
        UniqueImageBuffer dest = Scale(src.get(), dw, dh);
        for (int y = 0; y < dh; ++y)
            for (int x = 0; x < dw; ++x)
                ASSERT_EQ(value, Get32(dest.get(), x, y));
    }
}

TEST(Reduce, IntegerRatiosGiveExactBlockMeans) {
    UniqueImageBuffer src = Make32(12, 12);
    imagetest::FillRandom(src.get(), 21);
    const struct { int w, h; } sizes[] = {{6, 6}, {4, 3}, {3, 4}, {1, 12}, {12, 1}, {1, 1}, {2, 6}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(testing::Message() << s.w << "x" << s.h);
        UniqueImageBuffer dest = Scale(src.get(), s.w, s.h);
        const int bx = 12 / s.w, by = 12 / s.h;
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                for (int c = 0; c < 4; ++c) {
                    int sum = 0;
                    for (int k = 0; k < by; ++k)
                        for (int i = 0; i < bx; ++i)
                            sum += (Get32(src.get(), x * bx + i, y * by + k) >> (8 * c)) & 0xFF;
                    const int n = bx * by;
                    ASSERT_EQ((2 * sum + n) / (2 * n), static_cast<int>((Get32(dest.get(), x, y) >> (8 * c)) & 0xFF));
                }
    }
}

TEST(Reduce, ThreeToTwoWeighsByCoverage) {
    UniqueImageBuffer src = Make32(3, 1);
    *Pixel32(src.get(), 0, 0) = 0x00000000;
    *Pixel32(src.get(), 1, 0) = 0x5A5A5A5A;  // 90
    *Pixel32(src.get(), 2, 0) = 0xFFFFFFFF;
    UniqueImageBuffer dest = Scale(src.get(), 2, 1);
    EXPECT_EQ(0x1E1E1E1Eu, Get32(dest.get(), 0, 0));  // (2 x 0 + 90) / 3 = 30
    EXPECT_EQ(0xC8C8C8C8u, Get32(dest.get(), 1, 0));  // (90 + 2 x 255) / 3 = 200

    UniqueImageBuffer square = Make32(3, 3);
    const BYTE grey[3][3] = {{0, 30, 60}, {90, 120, 150}, {180, 210, 240}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            *Pixel32(square.get(), x, y) = grey[y][x] * 0x01010101u;
    UniqueImageBuffer small = Scale(square.get(), 2, 2);
    // Top-left: (4 x 0 + 2 x 30 + 2 x 90 + 120) / 9 = 40.
    EXPECT_EQ(40 * 0x01010101u, Get32(small.get(), 0, 0));
    // Bottom-right: (120 + 2 x 150 + 2 x 210 + 4 x 240) / 9 = 200.
    EXPECT_EQ(200 * 0x01010101u, Get32(small.get(), 1, 1));
    ExpectEqualToReference(square.get(), small.get());
}

TEST(Reduce, CheckerboardBecomesMidGrey) {
    UniqueImageBuffer src = Make32(480, 360);
    for (int y = 0; y < 360; ++y)
        for (int x = 0; x < 480; ++x)
            *Pixel32(src.get(), x, y) = (x + y) % 2 ? 0xFFFFFFFF : 0;
    // Even factors and factors from 16 up: small odd blocks cannot be mid
    // grey (a 3 x 3 block holds 5 of one colour and 4 of the other).
    const struct {
        int w, h;
    } sizes[] = {{240, 180}, {120, 90}, {80, 60}, {30, 18}, {27, 19}, {20, 13}, {7, 5}, {1, 1}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(testing::Message() << s.w << "x" << s.h);
        UniqueImageBuffer dest = Scale(src.get(), s.w, s.h);
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                for (int c = 0; c < 4; ++c) {
                    const int v = (Get32(dest.get(), x, y) >> (8 * c)) & 0xFF;
                    ASSERT_LE(std::fabs(v - 127.5), 1.0) << x << "," << y;
                }
    }
}

TEST(Reduce, HalfAcrossAndEnlargedDown) {
    // A page scaled 0.5 across and 1.2 down is resampled at its full size.
    UniqueImageBuffer src = Make32(10, 5);
    imagetest::FillRandom(src.get(), 33);
    UniqueImageBuffer dest = Scale(src.get(), 5, 6);
    ExpectEqualToReference(src.get(), dest.get());
    UniqueImageBuffer wide = Scale(src.get(), 23, 2);
    ExpectEqualToReference(src.get(), wide.get());
}

TEST(Reduce, SsePathAndPlainPathMatchTheReference) {
    std::mt19937 rng(77);
    for (int round = 0; round < 30; ++round) {
        // Odd rounds: tall sources, whose lines span more than 128 units and
        // take the wide path.
        const bool tall = round % 2;
        const int sw = 1 + rng() % (tall ? 20 : 70), sh = tall ? 130 + rng() % 200 : 1 + rng() % 70;
        const int dw = 1 + rng() % 40, dh = 1 + rng() % 40;
        SCOPED_TRACE(testing::Message() << sw << "x" << sh << " -> " << dw << "x" << dh);
        UniqueImageBuffer src = Make32(sw, sh);
        imagetest::FillRandom(src.get(), round);
        UniqueImageBuffer fast = Scale(src.get(), dw, dh);
        ExpectEqualToReference(src.get(), fast.get());
        imagetest::PlainPathsOnly plain;
        UniqueImageBuffer slow = Scale(src.get(), dw, dh);
        ExpectEqualToReference(src.get(), slow.get());
    }
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
    UniqueImageBuffer dest = Scale(coprime.get(), 7, 1);
    ExpectEqualToReference(coprime.get(), dest.get());
}

// The mean of source pixels [begin, end) of a line of 40001, in doubles.
DWORD LineMean(const ImageBuffer* src, bool down, double begin, double end) {
    DWORD out = 0;
    for (int c = 0; c < 4; ++c) {
        double sum = 0;
        for (int i = static_cast<int>(begin); i < end && i < 40001; ++i) {
            const double cover = std::min<double>(i + 1, end) - std::max<double>(i, begin);
            sum += ((Get32(src, down ? 0 : i, down ? i : 0) >> (8 * c)) & 0xFF) * cover;
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
                ASSERT_LE(
                    std::abs(static_cast<int>((want >> (8 * c)) & 0xFF) - static_cast<int>((got >> (8 * c)) & 0xFF)), 1)
                    << i;
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
