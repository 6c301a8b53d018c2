// The drawing engine and area-average reduction, each against its rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <tuple>

#include "ImageTestSupport.h"
#include "esl_image_draw.h"
#include "esl_image_reduce.h"

using imagetest::Channel;
using imagetest::Get32;
using imagetest::Make32;

namespace {

constexpr DWORD kSentinel = 0xA5A5A5A5;

// Whether every pixel of the target is what `expected` says.
::testing::AssertionResult Holds(const ImageBuffer* target, const std::function<DWORD(int, int)>& expected) {
    for (int i = 0; i < target->nWidth * target->nHeight; ++i)
        if (Get32(target, i % target->nWidth, i / target->nWidth) != expected(i % target->nWidth, i / target->nWidth))
            return ::testing::AssertionFailure() << "differs at " << i % target->nWidth << "," << i / target->nWidth;
    return ::testing::AssertionSuccess();
}

// The source pixel at (sx, sy) when it is inside the source, else the sentinel.
DWORD SourceOr(const ImageBuffer* source, int sx, int sy, bool bInClip = true) {
    const bool inside = bInClip && sx >= 0 && sy >= 0 && sx < source->nWidth && sy < source->nHeight;
    return inside ? Get32(source, sx, sy) : kSentinel;
}

class DrawTest : public testing::Test {
protected:
    // A top-down target full of the sentinel, set on the context.
    UniqueImageBuffer Target(int w, int h, const RECT* clip = nullptr) {
        UniqueImageBuffer target = Make32(w, h);
        FlipImage(target.get());
        FillImage(target.get(), kSentinel);
        EXPECT_EQ(0, context_->SetTarget(target.get(), clip, nullptr));
        return target;
    }

    int Draw(const ImageBuffer* source, int x, int y, const ImageMatrix* matrix, DWORD flags = 0, DWORD level = 0) {
        ImageDrawParam param{flags, x, y, source, {}, level, 0, matrix, {}};
        const int prepared = context_->PrepareDraw(param);
        return prepared ? prepared : context_->Run();
    }

    UniqueImageDrawContext context_{CreateImageDrawContext()};
};

// Copies (no matrix or a near identity), cut at the edges and a clip in any corner order.
TEST_F(DrawTest, CopiesAreExactAndClipped) {
    UniqueImageBuffer source = Make32(37, 23, 1);
    FlipImage(source.get());
    const ImageMatrix identity{1.0f, 0.0f, 0.0f, 1.0f}, nearly{1.0f + 1.0f / 262144, 1.0f / 262144, 0.0f, 1.0f};
    for (bool plain : {false, true}) {
        imagetest::PlainPathsOnly off(plain);
        for (const ImageMatrix* m : {static_cast<const ImageMatrix*>(nullptr), &identity, &nearly})
            for (const POINT& at : {POINT{5, 7}, POINT{-5, -7}, POINT{50, -5}, POINT{-3, 40}, POINT{500, -500}}) {
                SCOPED_TRACE(testing::Message() << at.x << "," << at.y << (plain ? " plain" : "") << " matrix " << m);
                UniqueImageBuffer target = Target(60, 45);
                ASSERT_EQ(0, Draw(source.get(), at.x, at.y, m, kDrawBilinear));
                EXPECT_TRUE(
                    Holds(target.get(), [&](int x, int y) { return SourceOr(source.get(), x - at.x, y - at.y); }));
            }
    }
    const RECT reversed{25, 20, 4, 3}, beyond{-10, -10, 100, 100};
    UniqueImageBuffer target = Target(30, 30, &reversed);
    RECT stored{};
    EXPECT_EQ(target.get(), context_->GetTarget(&stored, nullptr));
    EXPECT_TRUE(stored.left == 4 && stored.top == 3 && stored.right == 25 && stored.bottom == 20);
    ASSERT_EQ(0, Draw(source.get(), -2, -1, nullptr));
    EXPECT_TRUE(Holds(target.get(), [&](int x, int y) {
        return SourceOr(source.get(), x + 2, y + 1, x >= 4 && x <= 25 && y >= 3 && y <= 20);
    }));
    ASSERT_EQ(0, context_->SetTarget(target.get(), &beyond, nullptr));
    context_->GetTarget(&stored, nullptr);
    EXPECT_TRUE(stored.left == 0 && stored.top == 0 && stored.right == 29 && stored.bottom == 29);
}

// u = round(65536 / s) (t - P0), x = u >> 16 and 15 fraction bits; rows first; clamped.
DWORD ExpectedBilinear(const ImageBuffer* src, std::int64_t u, std::int64_t v) {
    auto clampTo = [](std::int64_t c, int last) { return static_cast<int>(std::clamp<std::int64_t>(c, 0, last)); };
    const int x0 = clampTo(u >> 16, src->nWidth - 1), x1 = clampTo((u >> 16) + 1, src->nWidth - 1);
    const int y0 = clampTo(v >> 16, src->nHeight - 1), y1 = clampTo((v >> 16) + 1, src->nHeight - 1);
    const int fx = static_cast<int>((u & 0xFFFF) >> 1), fy = static_cast<int>((v & 0xFFFF) >> 1);
    auto lerp = [](int a, int b, int f) { return a + static_cast<int>(std::floor((b - a) * f / 32768.0)); };
    DWORD out = 0;
    for (int c = 0; c < 4; ++c) {
        auto at = [&](int x, int y) { return Channel(Get32(src, x, y), c); };
        const int top = lerp(at(x0, y0), at(x1, y0), fx), bottom = lerp(at(x0, y1), at(x1, y1), fx);
        out |= static_cast<DWORD>(lerp(top, bottom, fy)) << (8 * c);
    }
    return out;
}

// Twice the size and odd scales, bilinear by the draw's flags or the context's.
TEST_F(DrawTest, EnlargementsFollowTheFixedPointRuleOnBothPaths) {
    std::mt19937 rng(8);
    for (int round = 0; round < 12; ++round) {
        const int sw = 2 + rng() % 30, sh = 2 + rng() % 30, x = static_cast<int>(rng() % 9) - 4,
                  y = static_cast<int>(rng() % 9) - 4;
        const float sx = round ? 1.0f + (rng() % 400) / 100.0f : 2.0f,
                    sy = round ? 1.0f + (rng() % 400) / 100.0f : 2.0f;
        SCOPED_TRACE(testing::Message() << sw << "x" << sh << " by " << sx << "," << sy);
        UniqueImageBuffer source = Make32(sw, sh, round + 1);
        const ImageMatrix m{sx, 0.0f, 0.0f, sy};
        const std::int64_t stepX = std::llround(65536.0 / sx), stepY = std::llround(65536.0 / sy);
        const int right = x + static_cast<int>(std::floor(sw * sx - 1 + 1e-6));
        const int bottom = y + static_cast<int>(std::floor(sh * sy - 1 + 1e-6));
        for (bool plain : {false, true}) {
            imagetest::PlainPathsOnly off(plain);
            UniqueImageBuffer target = Target(100, 90);
            context_->SetFlags(plain ? DWORD{kDrawBilinear} : 0);
            ASSERT_EQ(0, Draw(source.get(), x, y, &m, plain ? 0 : DWORD{kDrawBilinear}));
            EXPECT_TRUE(Holds(target.get(), [&](int tx, int ty) {
                const bool inside = tx >= x && tx <= right && ty >= y && ty <= bottom;
                return inside ? ExpectedBilinear(source.get(), stepX * (tx - x), stepY * (ty - y)) : kSentinel;
            }));
        }
    }
}

// Nearest pixels: round(t / 3); a quarter turn within a clip; flat transforms draw nothing.
TEST_F(DrawTest, NearestPixelsUnderScalesAndTurns) {
    UniqueImageBuffer source = Make32(6, 4, 5);
    const ImageMatrix thrice{3.0f, 0.0f, 0.0f, 3.0f}, turn{0.0f, 1.0f, -1.0f, 0.0f};
    UniqueImageBuffer target = Target(18, 12);
    ASSERT_EQ(0, Draw(source.get(), 0, 0, &thrice));
    EXPECT_TRUE(Holds(target.get(), [&](int x, int y) {
        return Get32(source.get(), std::min(5, (x + 1) / 3), std::min(3, (y + 1) / 3));
    }));
    const RECT clip{8, 3, 20, 6};
    target = Target(20, 20, &clip);
    ASSERT_EQ(0, Draw(source.get(), 10, 2, &turn));
    EXPECT_TRUE(Holds(target.get(),
                      [&](int x, int y) { return SourceOr(source.get(), y - 2, 10 - x, x >= 8 && y >= 3 && y <= 6); }));
    for (const ImageMatrix& m : {ImageMatrix{1e-3f, 0, 0, 1e-3f}, ImageMatrix{1, 2, 2, 4}, ImageMatrix{0, 0, 0, 0}}) {
        target = Target(8, 8);
        EXPECT_EQ(0, Draw(source.get(), 0, 0, &m));
        EXPECT_TRUE(Holds(target.get(), [](int, int) { return kSentinel; }));
    }
}

// A draw needs a target, a mask of its size and a known depth; it runs once;
// a 24-bit target takes the low three bytes.
TEST_F(DrawTest, ContextStateFailuresAndDepths) {
    UniqueImageBuffer source = Make32(2, 2, 3), mask = Make32(5, 6);
    UniqueImageBuffer nibbles(CreateImageBuffer(kImageFormatColor, 4, 4, 4, 0));
    EXPECT_EQ(1, Draw(source.get(), 0, 0, nullptr));
    EXPECT_EQ(-1, context_->Run());
    UniqueImageBuffer target = Target(6, 6);
    EXPECT_EQ(1, context_->SetTarget(target.get(), nullptr, mask.get()));
    EXPECT_EQ(1, context_->SetTarget(nullptr, nullptr, nullptr));
    ASSERT_EQ(0, context_->SetTarget(target.get(), nullptr, nullptr));
    EXPECT_EQ(1, Draw(nullptr, 0, 0, nullptr));
    EXPECT_EQ(1, Draw(nibbles.get(), 0, 0, nullptr));
    EXPECT_EQ(0, Draw(source.get(), 0, 0, nullptr, 0, 256));
    EXPECT_EQ(0, Draw(source.get(), 2, 3, nullptr));
    EXPECT_EQ(-1, context_->Run());
    EXPECT_TRUE(Holds(target.get(), [&](int x, int y) { return SourceOr(source.get(), x - 2, y - 3); }));
    UniqueImageBuffer rgb(CreateImageBuffer(kImageFormatColor, 5, 4, 24, 0));
    ASSERT_EQ(0, context_->SetTarget(rgb.get(), nullptr, nullptr));
    ASSERT_EQ(0, Draw(source.get(), 1, 1, nullptr));
    for (int i = 0; i < 4; ++i) {
        const BYTE* p = rgb->ptrImage + (i / 2 + 1) * rgb->nPitch + (i % 2 + 1) * 3;
        ASSERT_EQ(Get32(source.get(), i % 2, i / 2) & 0xFFFFFF, static_cast<DWORD>(p[0] | (p[1] << 8) | (p[2] << 16)));
    }
}

// From the target's centre and half the source size to the corner, ties even.
TEST(Transform, PositionMinusTheScaledOriginIsTheCorner) {
    const std::tuple<POINT, POINT, double, double, LONG, LONG> cases[] = {
        {{50, 50}, {50, 50}, 1.0, 1.0, 0, 0},  {{176, 58}, {166, 38}, 1.0, 1.0, 10, 20},
        {{151, 75}, {50, 25}, 3.0, 3.0, 1, 0}, {{105, 55}, {50, 25}, 2.0, 2.0, 5, 5},
        {{10, 10}, {1, 3}, 2.5, 0.5, 8, 8},  // 7.5 and 8.5 both go to 8
    };
    for (const auto& [at, origin, sx, sy, left, top] : cases) {
        POINT position = at;
        ImageMatrix m{};
        ASSERT_EQ(0, BuildImageTransform(&m, &position, &origin, sx, sy, 0.0, 90.0, 0));
        EXPECT_TRUE(position.x == left && position.y == top) << left << "," << top;
    }
    EXPECT_EQ(1, BuildImageTransform(nullptr, nullptr, nullptr, 1, 1, 0, 90, 0));
}

std::int64_t Overlap(std::int64_t a0, std::int64_t a1, std::int64_t b0, std::int64_t b1) {
    return std::max<std::int64_t>(0, std::min(a1, b1) - std::max(a0, b0));
}

// Source pixel (i, k) spans [i w, (i + 1) w) x [k h, ...) where a target
// pixel is W x H; a flipped target's row 0 meets the source's last.
::testing::AssertionResult EqualsReference(const ImageBuffer* src, const ImageBuffer* dest, bool bFlipped) {
    const std::int64_t W = src->nWidth, H = src->nHeight, w = dest->nWidth, h = dest->nHeight;
    for (int l = 0; l < h; ++l)
        for (int j = 0; j < w; ++j) {
            std::int64_t sum[4] = {};
            for (int k = 0; k < H; ++k) {
                const std::int64_t oy = Overlap(l * H, (l + 1) * H, k * h, (k + 1) * h);
                for (int i = 0; oy && i < W; ++i)
                    for (int c = 0; c < 4; ++c)
                        sum[c] += Channel(Get32(src, i, k), c) * Overlap(j * W, (j + 1) * W, i * w, (i + 1) * w) * oy;
            }
            DWORD v = 0;
            for (int c = 0; c < 4; ++c)
                v |= static_cast<DWORD>((2 * sum[c] + W * H) / (2 * W * H)) << (8 * c);
            if (v != Get32(dest, j, bFlipped ? static_cast<int>(h - 1 - l) : l))
                return ::testing::AssertionFailure() << "differs at " << j << "," << l;
        }
    return ::testing::AssertionSuccess();
}

UniqueImageBuffer Scale(const ImageBuffer* src, int w, int h, bool bFlipped = false) {
    UniqueImageBuffer dest = Make32(w, h);
    if (bFlipped)
        FlipImage(dest.get());
    EXPECT_EQ(0, ScaleImageByAreaAverage(dest.get(), src));
    return dest;
}

// The four paths, with pixels after the last block of four; the plain path;
// lines met as the screen shows them.
TEST(Reduce, EveryPathGivesTheExactRoundedMean) {
    const std::tuple<const char*, int, int, int, int> kCases[] = {
        {"narrow: at most 128 units a target line", 70, 61, 33, 40},
        {"narrow: whole lines summed eight at a time", 13, 120, 7, 3},
        {"whole lines and edges, over 128 units a line", 21, 300, 10, 7},
        {"line pairs: more than 128 whole lines and an edge", 5, 263, 3, 2},
        {"whole lines: none whole, over 128 units a line", 6, 131, 4, 130},
        {"narrow: enlarged down and across", 10, 5, 23, 6},
        {"a huge coprime ratio across", 4001, 2, 7, 1},
        {"one pixel", 1, 1, 1, 1},
    };
    for (const auto& [path, sw, sh, dw, dh] : kCases) {
        UniqueImageBuffer src = Make32(sw, sh, sw * 1000 + sh);
        for (int way = 0; way < 3; ++way) {
            SCOPED_TRACE(testing::Message() << path << (way == 1 ? ", plain" : way == 2 ? ", flipped" : ""));
            imagetest::PlainPathsOnly off(way == 1);
            EXPECT_TRUE(EqualsReference(src.get(), Scale(src.get(), dw, dh, way == 2).get(), way == 2));
        }
    }
    UniqueImageBuffer rgb(CreateImageBuffer(kImageFormatColor, 2, 2, 24, 0)), src = Make32(4, 4);
    EXPECT_EQ(1, ScaleImageByAreaAverage(rgb.get(), src.get()) & ScaleImageByAreaAverage(src.get(), rgb.get()) &
                     ScaleImageByAreaAverage(nullptr, src.get()) & ScaleImageByAreaAverage(src.get(), nullptr))
        << "only 32-bit images";
}

// Any 32-bit overflow shows in the mean of a flat image.
TEST(Reduce, HugeRatiosDoNotOverflow) {
    for (const auto& [w, h, value] : {std::make_tuple(6000, 3, 0xFFFFFFFFu), std::make_tuple(3, 6000, 0xFFFFFFFFu),
                                      std::make_tuple(3001, 2999, 0xFEFDFCFBu)}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        UniqueImageBuffer flat = Make32(w, h);
        FillImage(flat.get(), value);
        EXPECT_EQ(value, Get32(Scale(flat.get(), 1, 1).get(), 0, 0));
    }
}

// 40001 -> 40000 lines need a coarsened grid: flat stays flat, others
// within one of the mean; across, the grid stays exact.
TEST(Reduce, GridsTooFineForExactWeightsStayClose) {
    for (bool down : {true, false}) {
        SCOPED_TRACE(down ? "down" : "across");
        const auto at = [down](const ImageBuffer* p, int i) { return Get32(p, down ? 0 : i, down ? i : 0); };
        for (unsigned seed : {0u, 4u}) {
            UniqueImageBuffer src = down ? Make32(1, 40001, seed) : Make32(40001, 1, seed);
            if (!seed)
                FillImage(src.get(), 0x80808080);
            UniqueImageBuffer dest = down ? Scale(src.get(), 1, 40000) : Scale(src.get(), 40000, 1);
            for (int i = seed * 7; i < 40000; i += seed ? 131 : 1) {
                const double begin = i * 40001.0 / 40000.0, end = (i + 1) * 40001.0 / 40000.0;
                for (int c = 0; c < 4; ++c) {
                    double sum = 0;
                    for (int s = static_cast<int>(begin); s < end && s < 40001; ++s)
                        sum +=
                            Channel(at(src.get(), s), c) * (std::min<double>(s + 1, end) - std::max<double>(s, begin));
                    ASSERT_LE(std::abs(std::lround(sum / (end - begin)) - Channel(at(dest.get(), i), c)), seed ? 1 : 0)
                        << i;
                }
            }
        }
    }
}

}  // namespace
