// The drawing engine: plain copies, clipping, bilinear enlargement against
// the fixed-point rule computed here, transformed draws, transparency and
// the transform builder's positions.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "ImageTestSupport.h"
#include "esl_image_draw.h"

using imagetest::Channel;
using imagetest::Get32;
using imagetest::Make32;
using imagetest::Pixel32;

namespace {

constexpr DWORD kSentinel = 0xA5A5A5A5;

class DrawTest : public testing::Test {
protected:
    void SetUp() override {
        context_.reset(CreateImageDrawContext());
        ASSERT_TRUE(context_);
    }

    UniqueImageBuffer MakeTarget(int w, int h) {
        UniqueImageBuffer target = Make32(w, h);
        FlipImage(target.get());
        FillImage(target.get(), kSentinel);
        return target;
    }

    int Draw(const ImageBuffer* source, int x, int y, const ImageMatrix* matrix, DWORD flags = 0,
             DWORD transparency = 0) {
        ImageDrawParam param{};
        param.dwFlags = flags;
        param.x = x;
        param.y = y;
        param.pSource = source;
        param.pMatrix = matrix;
        param.dwTransparency = transparency;
        const int prepared = context_->PrepareDraw(param);
        if (prepared != 0)
            return prepared;
        return context_->Run();
    }

    UniqueImageDrawContext context_;
};

// Whether the target holds source at (x, y) inside the inclusive clip, and
// the sentinel elsewhere.
::testing::AssertionResult PlacedCopy(const ImageBuffer* target, const ImageBuffer* source, int x, int y, RECT clip) {
    for (int ty = 0; ty < target->nHeight; ++ty)
        for (int tx = 0; tx < target->nWidth; ++tx) {
            const int sx = tx - x, sy = ty - y;
            const bool inside = sx >= 0 && sy >= 0 && sx < source->nWidth && sy < source->nHeight && tx >= clip.left &&
                                tx <= clip.right && ty >= clip.top && ty <= clip.bottom;
            if (Get32(target, tx, ty) != (inside ? Get32(source, sx, sy) : kSentinel))
                return ::testing::AssertionFailure() << "differs at " << tx << "," << ty;
        }
    return ::testing::AssertionSuccess();
}

std::string Corners(const RECT& r) {
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
           std::to_string(r.bottom);
}

// Plain copies (no matrix, the identity, or one too close to it to matter)
// on both paths, placed anywhere, cut at the target's edges and at a clip
// rectangle given in any corner order.
TEST_F(DrawTest, CopiesAreExactAndClipped) {
    UniqueImageBuffer source = Make32(37, 23);
    imagetest::FillRandom(source.get(), 1);
    FlipImage(source.get());
    const ImageMatrix identity{1.0f, 0.0f, 0.0f, 1.0f};
    const ImageMatrix nearly{1.0f + 1.0f / 262144, 1.0f / 262144, 0.0f, 1.0f};
    const POINT kPlaces[] = {{5, 7}, {-5, -7}, {50, -5}, {-3, 40}, {45, 33}, {500, -500}};
    for (bool plain : {false, true}) {
        std::unique_ptr<imagetest::PlainPathsOnly> off(plain ? new imagetest::PlainPathsOnly : nullptr);
        for (const ImageMatrix* m : {static_cast<const ImageMatrix*>(nullptr), &identity, &nearly})
            for (const POINT& at : kPlaces) {
                SCOPED_TRACE(testing::Message() << at.x << "," << at.y << (plain ? " plain" : "") << " matrix " << m);
                UniqueImageBuffer target = MakeTarget(60, 45);
                ASSERT_EQ(0, context_->SetTarget(target.get(), nullptr, nullptr));
                ASSERT_EQ(0, Draw(source.get(), at.x, at.y, m, kDrawBilinear));
                EXPECT_TRUE(PlacedCopy(target.get(), source.get(), at.x, at.y, RECT{0, 0, 59, 44}));
            }
    }
    UniqueImageBuffer target = MakeTarget(30, 30);
    const RECT reversed{25, 20, 4, 3};
    ASSERT_EQ(0, context_->SetTarget(target.get(), &reversed, nullptr));
    RECT stored{};
    ImageBuffer* mask = reinterpret_cast<ImageBuffer*>(1);
    EXPECT_EQ(target.get(), context_->GetTarget(&stored, &mask));
    EXPECT_EQ(nullptr, mask);
    EXPECT_EQ("4 3 25 20", Corners(stored));
    ASSERT_EQ(0, Draw(source.get(), -2, -1, nullptr));
    EXPECT_TRUE(PlacedCopy(target.get(), source.get(), -2, -1, stored));
    const RECT beyond{-10, -10, 100, 100};
    ASSERT_EQ(0, context_->SetTarget(target.get(), &beyond, nullptr));
    context_->GetTarget(&stored, nullptr);
    EXPECT_EQ("0 0 29 29", Corners(stored));
}

// The rule, written out: u = round(65536 / s) x (t - P0); x = u >> 16 and the
// fraction's top 15 bits; the two pixels of each row first, then the rows;
// coordinates clamped to the first and last column and row.
DWORD ExpectedBilinear(const ImageBuffer* src, std::int64_t u, std::int64_t v) {
    auto clampTo = [](std::int64_t c, int last) {
        return static_cast<int>(std::min<std::int64_t>(std::max<std::int64_t>(c, 0), last));
    };
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

::testing::AssertionResult BilinearEnlargement(const ImageBuffer* target, const ImageBuffer* src, int x, int y,
                                               float sx, float sy) {
    const std::int64_t stepX = std::llround(65536.0 / sx), stepY = std::llround(65536.0 / sy);
    const int right = x + static_cast<int>(std::floor(src->nWidth * sx - 1 + 1e-6));
    const int bottom = y + static_cast<int>(std::floor(src->nHeight * sy - 1 + 1e-6));
    for (int ty = 0; ty < target->nHeight; ++ty)
        for (int tx = 0; tx < target->nWidth; ++tx) {
            const bool inside = tx >= x && tx <= right && ty >= y && ty <= bottom;
            if (Get32(target, tx, ty) !=
                (inside ? ExpectedBilinear(src, stepX * (tx - x), stepY * (ty - y)) : kSentinel))
                return ::testing::AssertionFailure() << "differs at " << tx << "," << ty;
        }
    return ::testing::AssertionSuccess();
}

// Twice the size (even columns are the source's own pixels) and odd scales,
// set through the draw's flags or the context's.
TEST_F(DrawTest, EnlargementsFollowTheFixedPointRuleOnBothPaths) {
    std::mt19937 rng(8);
    for (int round = 0; round < 12; ++round) {
        const int sw = 2 + rng() % 30, sh = 2 + rng() % 30;
        const float sx = round ? 1.0f + (rng() % 400) / 100.0f : 2.0f,
                    sy = round ? 1.0f + (rng() % 400) / 100.0f : 2.0f;
        const int x = static_cast<int>(rng() % 9) - 4, y = static_cast<int>(rng() % 9) - 4;
        SCOPED_TRACE(testing::Message() << sw << "x" << sh << " by " << sx << "," << sy);
        UniqueImageBuffer source = Make32(sw, sh);
        imagetest::FillRandom(source.get(), round);
        const ImageMatrix m{sx, 0.0f, 0.0f, sy};
        for (bool plain : {false, true}) {
            std::unique_ptr<imagetest::PlainPathsOnly> off(plain ? new imagetest::PlainPathsOnly : nullptr);
            UniqueImageBuffer target = MakeTarget(100, 90);
            ASSERT_EQ(0, context_->SetTarget(target.get(), nullptr, nullptr));
            const DWORD bilinear = kDrawBilinear;
            context_->SetFlags(plain ? bilinear : 0);
            ASSERT_EQ(0, Draw(source.get(), x, y, &m, plain ? 0 : bilinear));
            EXPECT_TRUE(BilinearEnlargement(target.get(), source.get(), x, y, sx, sy));
            if (!round) {
                EXPECT_EQ(Get32(source.get(), 2, 2), Get32(target.get(), x + 4, y + 4)) << "a pixel of its own";
            }
        }
    }
}

TEST_F(DrawTest, WithoutTheBilinearFlagTheNearestPixelIsTaken) {
    UniqueImageBuffer source = Make32(4, 3);
    imagetest::FillRandom(source.get(), 5);
    UniqueImageBuffer target = MakeTarget(12, 9);
    ASSERT_EQ(0, context_->SetTarget(target.get(), nullptr, nullptr));
    const ImageMatrix thrice{3.0f, 0.0f, 0.0f, 3.0f};
    ASSERT_EQ(0, Draw(source.get(), 0, 0, &thrice));
    for (int ty = 0; ty < 9; ++ty)
        for (int tx = 0; tx < 12; ++tx) {
            // round(t / 3), clamped: columns 0-1 show 0, 2-4 show 1, ...
            const int sx = std::min(3, (tx + 1) / 3), sy = std::min(2, (ty + 1) / 3);
            ASSERT_EQ(Get32(source.get(), sx, sy), Get32(target.get(), tx, ty)) << tx << "," << ty;
        }
}

TEST_F(DrawTest, QuarterTurnMovesEveryPixel) {
    UniqueImageBuffer source = Make32(6, 4);
    imagetest::FillRandom(source.get(), 6);
    UniqueImageBuffer target = MakeTarget(20, 20);
    ASSERT_EQ(0, context_->SetTarget(target.get(), nullptr, nullptr));
    // The source's x axis points down the target, its y axis to the left.
    const ImageMatrix turn{0.0f, 1.0f, -1.0f, 0.0f};
    ASSERT_EQ(0, Draw(source.get(), 10, 2, &turn));
    for (int ty = 0; ty < 20; ++ty)
        for (int tx = 0; tx < 20; ++tx) {
            const int sx = ty - 2, sy = 10 - tx;
            const bool inside = sx >= 0 && sx < 6 && sy >= 0 && sy < 4;
            ASSERT_EQ(inside ? Get32(source.get(), sx, sy) : kSentinel, Get32(target.get(), tx, ty)) << tx << "," << ty;
        }
}

TEST_F(DrawTest, TransformedDrawsStayInsideTheClip) {
    std::mt19937 rng(12);
    UniqueImageBuffer source = Make32(50, 40);
    imagetest::FillRandom(source.get(), 7);
    for (int round = 0; round < 20; ++round) {
        ImageMatrix m{};
        POINT position{static_cast<LONG>(rng() % 120) - 20, static_cast<LONG>(rng() % 100) - 20};
        const POINT half{25, 20};
        BuildImageTransform(&m, &position, &half, 0.1 + (rng() % 300) / 100.0, 0.1 + (rng() % 300) / 100.0, rng() % 360,
                            60 + rng() % 60, 0);
        const RECT clip{7, 5, 60, 44};
        UniqueImageBuffer target = MakeTarget(70, 50);
        ASSERT_EQ(0, context_->SetTarget(target.get(), &clip, nullptr));
        ASSERT_EQ(0, Draw(source.get(), position.x, position.y, &m, round % 2 ? DWORD{kDrawBilinear} : DWORD{0}));
        for (int ty = 0; ty < 50; ++ty)
            for (int tx = 0; tx < 70; ++tx)
                if (tx < clip.left || tx > clip.right || ty < clip.top || ty > clip.bottom) {
                    ASSERT_EQ(kSentinel, Get32(target.get(), tx, ty)) << round << ": " << tx << "," << ty;
                }
    }
}

TEST_F(DrawTest, TinyDeterminantDrawsNothing) {
    UniqueImageBuffer source = Make32(8, 8);
    UniqueImageBuffer target = MakeTarget(8, 8);
    ASSERT_EQ(0, context_->SetTarget(target.get(), nullptr, nullptr));
    for (const ImageMatrix& m : {ImageMatrix{1e-3f, 0, 0, 1e-3f}, ImageMatrix{1, 2, 2, 4}, ImageMatrix{0, 0, 0, 0}}) {
        EXPECT_EQ(0, Draw(source.get(), 0, 0, &m));
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                ASSERT_EQ(kSentinel, Get32(target.get(), x, y));
    }
}

TEST_F(DrawTest, TransparencyLevels) {
    UniqueImageBuffer source = Make32(4, 4);
    FillImage(source.get(), 0xFF00FF00);
    UniqueImageBuffer target = MakeTarget(4, 4);
    FillImage(target.get(), 0x00FF0080);
    ASSERT_EQ(0, context_->SetTarget(target.get(), nullptr, nullptr));
    EXPECT_EQ(0, Draw(source.get(), 0, 0, nullptr, 0, 256));  // invisible
    EXPECT_EQ(0x00FF0080u, Get32(target.get(), 1, 1));
    EXPECT_EQ(0, Draw(source.get(), 0, 0, nullptr, 0, 64));
    // Per byte (s x 192 + d x 64) >> 8.
    EXPECT_EQ(0xBF3FBF20u, Get32(target.get(), 1, 1));
    const ImageMatrix twice{2, 0, 0, 2};
    FillImage(target.get(), 0);
    EXPECT_EQ(0, Draw(source.get(), 0, 0, &twice, kDrawBilinear, 128));
    EXPECT_EQ(0x7F007F00u, Get32(target.get(), 3, 3));
}

TEST_F(DrawTest, ConvertsBetweenDepths) {
    UniqueImageBuffer source = Make32(3, 2);
    imagetest::FillRandom(source.get(), 9);
    UniqueImageBuffer target(CreateImageBuffer(kImageFormatColor, 5, 4, 24, 0));
    ASSERT_EQ(0, context_->SetTarget(target.get(), nullptr, nullptr));
    ASSERT_EQ(0, Draw(source.get(), 1, 1, nullptr));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const BYTE* p = target->ptrImage + (y + 1) * target->nPitch + (x + 1) * 3;
            ASSERT_EQ(Get32(source.get(), x, y) & 0xFFFFFF, static_cast<DWORD>(p[0] | (p[1] << 8) | (p[2] << 16)));
        }
}

TEST_F(DrawTest, ContextStateAndFailures) {
    EXPECT_EQ(0x30u, context_->SetFlags(0xFF));
    EXPECT_EQ(0x30u, context_->GetFlags());
    EXPECT_EQ(0, context_->GetOrigin().x);
    UniqueImageBuffer source = Make32(2, 2);
    ImageDrawParam param{};
    param.pSource = source.get();
    EXPECT_EQ(1, context_->PrepareDraw(param));  // no target yet
    EXPECT_EQ(-1, context_->Run());
    EXPECT_EQ(1, context_->SetTarget(nullptr, nullptr, nullptr));
    UniqueImageBuffer target = MakeTarget(6, 6);
    UniqueImageBuffer smallMask = Make32(5, 6);
    EXPECT_EQ(1, context_->SetTarget(target.get(), nullptr, smallMask.get()));
    EXPECT_EQ(nullptr, context_->GetTarget(nullptr, nullptr));
    ASSERT_EQ(0, context_->SetTarget(target.get(), nullptr, nullptr));
    param.pSource = nullptr;
    EXPECT_EQ(1, context_->PrepareDraw(param));
    UniqueImageBuffer nibbles(CreateImageBuffer(kImageFormatColor, 4, 4, 4, 0));
    param.pSource = nibbles.get();
    EXPECT_EQ(1, context_->PrepareDraw(param));
    // The origin is added to every position; a run happens once.
    context_->SetOrigin(2, 3);
    param.pSource = source.get();
    ASSERT_EQ(0, context_->PrepareDraw(param));
    EXPECT_EQ(0, context_->Run());
    EXPECT_EQ(-1, context_->Run());
    EXPECT_EQ(Get32(source.get(), 0, 0), Get32(target.get(), 2, 3));
    EXPECT_EQ(kSentinel, Get32(target.get(), 1, 3));
}

TEST(Transform, AxisAngleOf90GivesAScaleMatrix) {
    ImageMatrix m{};
    ASSERT_EQ(0, BuildImageTransform(&m, nullptr, nullptr, 2.5, 0.75, 0.0, 90.0, 0));
    EXPECT_FLOAT_EQ(2.5f, m.m00);
    EXPECT_FLOAT_EQ(0.0f, m.m01);
    EXPECT_NEAR(0.0, m.m10, 1e-6);
    EXPECT_FLOAT_EQ(0.75f, m.m11);
    ASSERT_EQ(0, BuildImageTransform(&m, nullptr, nullptr, 1.0, 1.0, 3.14159265358979 / 2, 3.14159265358979 / 2,
                                     kTransformRadians));
    EXPECT_NEAR(0.0, m.m00, 1e-6);
    EXPECT_FLOAT_EQ(1.0f, m.m01);
    EXPECT_FLOAT_EQ(-1.0f, m.m10);
    EXPECT_NEAR(0.0, m.m11, 1e-6);
    EXPECT_EQ(1, BuildImageTransform(nullptr, nullptr, nullptr, 1, 1, 0, 90, 0));
}

TEST(Transform, CentreMinusHalfSizeIsTheCorner) {
    // The picture code passes the target's centre and half the source size.
    const struct {
        const char* name;
        int drawW, drawH, x, y;
        double sx, sy;
        int srcW, srcH;
        LONG left, top;
    } cases[] = {
        {"101-pixel page at 0", 101, 101, 0, 0, 1.0, 1.0, 101, 101, 0, 0},
        {"odd page at an offset", 333, 77, 10, 20, 1.0, 1.0, 333, 77, 10, 20},
        {"enlarged odd page", 303, 151, 0, 0, 3.0, 3.0, 101, 51, 1, 0},
        {"enlarged even page", 200, 100, 5, 5, 2.0, 2.0, 100, 50, 5, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        POINT position{c.x + c.drawW / 2, c.y + c.drawH / 2};
        const POINT half{c.srcW / 2, c.srcH / 2};
        ImageMatrix m{};
        ASSERT_EQ(0, BuildImageTransform(&m, &position, &half, c.sx, c.sy, 0.0, 90.0, 0));
        EXPECT_EQ(c.left, position.x);
        EXPECT_EQ(c.top, position.y);
    }
}

TEST(Transform, PositionsRoundHalfToEven) {
    ImageMatrix m{};
    POINT position{10, 10};
    const POINT origin{1, 3};
    ASSERT_EQ(0, BuildImageTransform(&m, &position, &origin, 2.5, 0.5, 0.0, 90.0, 0));
    EXPECT_EQ(8, position.x);  // 10 - 2.5 = 7.5 -> 8
    EXPECT_EQ(8, position.y);  // 10 - 1.5 = 8.5 -> 8
}

}  // namespace
