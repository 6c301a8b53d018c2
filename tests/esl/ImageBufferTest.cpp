// ImageBuffer records: layout, creation on a DIB section and in plain
// memory, holders, row order, filling, views and the depth copy.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "ImageTestSupport.h"
#include "esl_image.h"

using imagetest::Get32;
using imagetest::Make32;
using imagetest::Pixel32;

namespace {

const DWORD kBothBackings[] = {0, kImageFlagDib};

// The holder count in the header before the record.
LONG HoldersOf(const ImageBuffer* p) {
    LONG n;
    std::memcpy(&n, reinterpret_cast<const BYTE*>(p) - 16 + sizeof(void*), sizeof(LONG));
    return n;
}

}  // namespace

// The fields a caller relies on: sizes, pitch (rows start on 16 bytes, one
// spare row), masks (largest power of two minus one), the row table, and new
// pixels black with a grey ramp as the colour table.
TEST(ImageBuffer, LayoutOfBothBackings) {
    const struct {
        int width;
        DWORD bpp;
        int pitch;
    } kPitches[] = {{10, 32, 48}, {10, 24, 32}, {5, 32, 32}, {17, 8, 32}, {8, 16, 16}, {129, 1, 32}, {0, 32, 16}};
    for (DWORD flags : kBothBackings) {
        for (const auto& c : kPitches) {
            SCOPED_TRACE(testing::Message() << c.width << " pixels of " << c.bpp << " bits, flags " << flags);
            UniqueImageBuffer image(CreateImageBuffer(kImageFormatColor, c.width, 3, c.bpp, flags));
            ASSERT_TRUE(image);
            EXPECT_EQ(c.pitch, image->nPitch);
            EXPECT_EQ(c.pitch * 4, image->nImageSize);
            EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(image->ptrImage) & 15);
            EXPECT_EQ(c.bpp <= 8 ? 1u << c.bpp : 0u, image->dwColorCount);
            for (DWORD i = 0; i < image->dwColorCount; ++i)
                ASSERT_EQ(i * 65793, image->pColorTable[i]);
            for (int y = 0; y < 3; ++y)
                for (int i = 0; i < c.pitch; ++i)
                    ASSERT_EQ(0, image->ptrImage[y * c.pitch + i]);
        }
    }
    UniqueImageBuffer image(CreateImageBuffer(kImageFormatColor, 1000, 0, 32, 0));
    EXPECT_EQ(1, image->nHeight) << "height 0 is 1 row";
    EXPECT_EQ(511u, image->dwWidthMask);
    EXPECT_EQ(1u, image->dwHeightMask);
    EXPECT_EQ(0, HoldersOf(image.get()));
    image = Make32(16, 14);
    EXPECT_EQ(15u, image->dwWidthMask);
    EXPECT_EQ(7u, image->dwHeightMask);
    for (int pass = 0; pass < 2; ++pass, FlipImage(image.get()))
        for (int r = 0; r < 14; ++r)
            EXPECT_EQ(image->ptrImage + r * image->nPitch, image->ppRows[r]);
}

// A DIB's bitmap keeps its spare line at the bottom; row 0 is the lowest
// visible line until the image is flipped.
TEST(ImageBuffer, DibRowsAndTheSpareLine) {
    UniqueImageBuffer image = Make32(4, 3, kImageFlagDib);
    ASSERT_TRUE(image && GetImageDC(image.get()));
    DIBSECTION dib{};
    ASSERT_EQ(static_cast<int>(sizeof(dib)), ::GetObject(image->hBitmap, sizeof(dib), &dib));
    EXPECT_EQ(4, dib.dsBmih.biHeight);
    EXPECT_EQ(static_cast<BYTE*>(dib.dsBm.bmBits) + image->nPitch, image->ptrImage);
    EXPECT_EQ(image->hBitmap, ::GetCurrentObject(image->hdc, OBJ_BITMAP));
    *Pixel32(image.get(), 1, 0) = 0x00FF0000;
    ::GdiFlush();
    EXPECT_EQ(RGB(255, 0, 0), ::GetPixel(image->hdc, 1, 2));
    FlipImage(image.get());
    *Pixel32(image.get(), 2, 0) = 0x000000FF;
    ::GdiFlush();
    EXPECT_EQ(RGB(0, 0, 255), ::GetPixel(image->hdc, 2, 0));
    EXPECT_EQ(nullptr, GetImageDC(Make32(4, 3).get())) << "plain memory has no DC";
}

TEST(ImageBuffer, ImpossibleSizesAndDepthsFail) {
    const struct {
        int w, h;
        DWORD bpp;
    } cases[] = {{100000, 100000, 32}, {0x7FFFFFFF, 1, 32}, {16384, 32768, 32}, {10, 10, 0}, {10, 10, 12}};
    for (DWORD flags : kBothBackings)
        for (const auto& c : cases)
            EXPECT_FALSE(UniqueImageBuffer(CreateImageBuffer(kImageFormatColor, c.w, c.h, c.bpp, flags)))
                << c.w << "x" << c.h << "x" << c.bpp;
}

TEST(ImageBuffer, HoldersAreCountedAtomicallyAndOnlyForFullRecords) {
    UniqueImageBuffer image = Make32(8, 8);
    ASSERT_TRUE(image);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i)
                AddRefImageBuffer(image.get());
            for (int i = 0; i < 20000; ++i)
                DeleteImageBuffer(image.get());
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(0, HoldersOf(image.get()));

    ImageBuffer view{};
    ASSERT_EQ(0, MakeImageView(&view, image.get(), 2, 2, 4, 4));
    EXPECT_EQ(1, DeleteImageBuffer(&view));
    EXPECT_EQ(1, AddRefImageBuffer(&view));
    EXPECT_EQ(1, DeleteImageBuffer(nullptr));
    alignas(16) BYTE bytes[sizeof(ImageBuffer) + 16] = {};
    auto* misaligned = reinterpret_cast<ImageBuffer*>(bytes + 4);
    misaligned->dwKind = kImageKindFull;
    EXPECT_EQ(1, DeleteImageBuffer(misaligned));
    EXPECT_EQ(0, HoldersOf(image.get()));
    *Pixel32(image.get(), 0, 0) = 1;  // still alive
}

TEST(ImageBuffer, FlipMovesTheAddressByAllButOneRow) {
    UniqueImageBuffer image = Make32(10, 4);
    BYTE* before = image->ptrImage;
    ASSERT_EQ(0, FlipImage(image.get()));
    EXPECT_EQ(before + 144, image->ptrImage);
    EXPECT_EQ(-48, image->nPitch);
    EXPECT_EQ(-48 * 5, image->nImageSize);
    ASSERT_EQ(0, FlipImage(image.get()));
    EXPECT_EQ(before, image->ptrImage);
    EXPECT_EQ(1, FlipImage(nullptr));
}

// Every pixel of a row, the alignment words too, at each depth the fill
// knows; on both paths for 32 bits.
TEST(ImageBuffer, FillCoversEveryPixel) {
    const struct {
        DWORD bpp;
        int width;
        const char* pixel;  // the bytes of one pixel
    } kDepths[] = {{32, 13, "\x10\x20\x40\x80"}, {24, 5, "\x10\x20\x40"}, {16, 3, "\x10\x20"}, {8, 5, "\x10"}};
    for (bool plain : {false, true}) {
        std::unique_ptr<imagetest::PlainPathsOnly> off(plain ? new imagetest::PlainPathsOnly : nullptr);
        for (const auto& d : kDepths) {
            SCOPED_TRACE(testing::Message() << d.bpp << " bits" << (plain ? ", plain" : ""));
            UniqueImageBuffer image(CreateImageBuffer(kImageFormatColor, d.width, 7, d.bpp, kImageFlagDib));
            FlipImage(image.get());
            ASSERT_EQ(0, FillImage(image.get(), 0x80402010));
            const int bytes = static_cast<int>(d.bpp / 8), used = d.bpp == 32 ? -image->nPitch : d.width * bytes;
            for (int y = 0; y < 7; ++y)
                for (int i = 0; i < used; ++i)
                    ASSERT_EQ(static_cast<BYTE>(d.pixel[i % bytes]), image->ptrImage[y * image->nPitch + i]) << i;
        }
    }
    UniqueImageBuffer nibbles(CreateImageBuffer(kImageFormatColor, 5, 2, 4, 0));
    EXPECT_EQ(1, FillImage(nibbles.get(), 0));
    UniqueImageBuffer image = Make32(4, 4);
    ImageBuffer view{};
    ASSERT_EQ(0, MakeImageView(&view, image.get(), 0, 0, 2, 2));
    EXPECT_EQ(1, FillImage(&view, 0)) << "a view is not filled";
}

TEST(ImageBuffer, ViewsAreClippedToTheImage) {
    const struct {
        const char* name;
        int x, y, w, h;
        int result;
        int vx, vy, vw, vh;  // the view in image coordinates when made
    } kViews[] = {
        {"inside", 3, 2, 10, 5, 0, 3, 2, 10, 5},
        {"negative x is cut off", -5, 0, 20, 4, 0, 0, 0, 15, 4},
        {"clipped right and bottom", 30, 20, 50, 50, 0, 30, 20, 10, 10},
        {"x + w beyond 32 bits", 10, 0, 0x7FFFFFFF, 1, 0, 10, 0, 30, 1},
        {"height 0", 0, 0, 10, 0, 1, 0, 0, 0, 0},
        {"above the image", 0, -10, 10, 5, 1, 0, 0, 0, 0},
        {"right of the image", 45, 0, 10, 5, 1, 0, 0, 0, 0},
        {"negative width", 5, 5, -2, 5, 1, 0, 0, 0, 0},
    };
    UniqueImageBuffer image = Make32(40, 30);
    for (const auto& c : kViews) {
        SCOPED_TRACE(c.name);
        ImageBuffer view{};
        ASSERT_EQ(c.result, MakeImageView(&view, image.get(), c.x, c.y, c.w, c.h));
        if (c.result != 0)
            continue;
        EXPECT_EQ(c.vw, view.nWidth);
        EXPECT_EQ(c.vh, view.nHeight);
        EXPECT_EQ(image->nPitch, view.nPitch);
        EXPECT_EQ(reinterpret_cast<BYTE*>(Pixel32(image.get(), c.vx, c.vy)), view.ptrImage);
    }
    imagetest::FillRandom(image.get(), 7);
    FlipImage(image.get());
    ImageBuffer view{};
    ASSERT_EQ(0, MakeImageView(&view, image.get(), 1, 2, 3, 3));
    EXPECT_EQ(Get32(image.get(), 1, 2), Get32(&view, 0, 0));
    ASSERT_EQ(0, FlipImage(&view));
    EXPECT_EQ(Get32(image.get(), 1, 4), Get32(&view, 0, 0));
    EXPECT_EQ(Get32(image.get(), 3, 2), Get32(&view, 2, 2));
}

TEST(ImageBuffer, CopyDropsTheFourthByteAndNeedsTheSameSize) {
    UniqueImageBuffer source = Make32(5, 3);
    imagetest::FillRandom(source.get(), 11);
    for (bool flipDest : {false, true}) {
        UniqueImageBuffer dest(CreateImageBuffer(kImageFormatColor, 5, 3, 24, 0));
        if (flipDest)
            FlipImage(dest.get());
        ASSERT_EQ(0, CopyImagePixels(dest.get(), source.get()));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                const BYTE* d = dest->ptrImage + y * dest->nPitch + x * 3;
                ASSERT_EQ(Get32(source.get(), x, y) & 0xFFFFFF, static_cast<DWORD>(d[0] | (d[1] << 8) | (d[2] << 16)));
            }
        EXPECT_EQ(0, dest->ptrImage[15]) << "the row's alignment bytes stay";
    }
    const UniqueImageBuffer others[] = {UniqueImageBuffer(CreateImageBuffer(kImageFormatColor, 6, 3, 24, 0)),
                                        UniqueImageBuffer(CreateImageBuffer(2, 5, 3, 24, 0)),
                                        UniqueImageBuffer(CreateImageBuffer(kImageFormatColor, 5, 3, 8, 0))};
    for (const UniqueImageBuffer& other : others)
        EXPECT_EQ(1, CopyImagePixels(other.get(), source.get()));
}
