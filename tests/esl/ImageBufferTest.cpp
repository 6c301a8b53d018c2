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

struct HeaderView {
    void* pAllocation;
    LONG nHolders;
};

HeaderView HeaderOf(const ImageBuffer* p) {
    const BYTE* base = reinterpret_cast<const BYTE*>(p) - 16;
    HeaderView h;
    std::memcpy(&h.pAllocation, base, sizeof(void*));
    std::memcpy(&h.nHolders, base + sizeof(void*), sizeof(LONG));
    return h;
}

struct PitchCase {
    const char* name;
    int width;
    DWORD bpp;
    int pitch;
};

const PitchCase kPitchCases[] = {
    {"32-bit, 10 pixels", 10, 32, 48}, {"24-bit, 10 pixels", 10, 24, 32}, {"32-bit, 4 pixels", 4, 32, 16},
    {"32-bit, 5 pixels", 5, 32, 32},   {"24-bit, 3 pixels", 3, 24, 16},   {"8-bit, 17 pixels", 17, 8, 32},
    {"16-bit, 8 pixels", 8, 16, 16},   {"1-bit, 129 pixels", 129, 1, 32}, {"width 0 is 1 pixel", 0, 32, 16},
};

TEST(ImageBuffer, PitchesStartEveryRowOn16Bytes) {
    for (DWORD flags : kBothBackings) {
        for (const PitchCase& c : kPitchCases) {
            SCOPED_TRACE(c.name);
            UniqueImageBuffer image(CreateImageBuffer(kImageFormatColor, c.width, 3, c.bpp, flags));
            ASSERT_TRUE(image);
            EXPECT_EQ(c.pitch, image->nPitch);
            EXPECT_EQ(c.pitch * 4, image->nImageSize);
            EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(image->ptrImage) & 15);
        }
    }
}

TEST(ImageBuffer, FullRecordLayout) {
    UniqueImageBuffer image(CreateImageBuffer(kImageFormatColor, 10, 0, 32, 0));
    ASSERT_TRUE(image);
    EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(image.get()) & 15);
    EXPECT_EQ(kImageKindFull, image->dwKind);
    EXPECT_EQ(kImageFormatColor, image->dwFormat);
    EXPECT_EQ(10, image->nWidth);
    EXPECT_EQ(1, image->nHeight);
    EXPECT_EQ(32u, image->dwBitsPerPixel);
    EXPECT_EQ(nullptr, image->pColorTable);
    EXPECT_EQ(0u, image->dwColorCount);
    EXPECT_EQ(0u, image->dwFlags);
    EXPECT_EQ(nullptr, GetImageDC(image.get()));
    const HeaderView header = HeaderOf(image.get());
    EXPECT_LE(header.pAllocation, static_cast<void*>(image.get()));
    EXPECT_GT(reinterpret_cast<const BYTE*>(header.pAllocation) + 32, reinterpret_cast<const BYTE*>(image.get()));
    EXPECT_EQ(0, header.nHolders);
}

TEST(ImageBuffer, MasksAreTheLargestPowerOfTwoMinusOne) {
    const struct {
        int size;
        DWORD mask;
    } cases[] = {{1, 1}, {2, 1}, {3, 3}, {7, 7}, {8, 7}, {10, 7}, {15, 15}, {16, 15}, {1000, 511}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        UniqueImageBuffer image = Make32(c.size, c.size);
        ASSERT_TRUE(image);
        EXPECT_EQ(c.mask, image->dwWidthMask);
        EXPECT_EQ(c.mask, image->dwHeightMask);
    }
}

TEST(ImageBuffer, RowTableFollowsThePitch) {
    UniqueImageBuffer image = Make32(7, 5);
    ASSERT_TRUE(image);
    for (int pass = 0; pass < 2; ++pass) {
        for (int r = 0; r < 5; ++r)
            EXPECT_EQ(image->ptrImage + r * image->nPitch, image->ppRows[r]);
        FlipImage(image.get());
    }
}

TEST(ImageBuffer, DibBackedImageSitsAboveTheSpareLine) {
    UniqueImageBuffer image(CreateImageBuffer(kImageFormatColor, 10, 4, 24, kImageFlagDib));
    ASSERT_TRUE(image);
    ASSERT_EQ(DWORD{kImageFlagDib}, image->dwFlags & kImageFlagDib);
    ASSERT_NE(nullptr, GetImageDC(image.get()));
    EXPECT_EQ(image->hdc, GetImageDC(image.get()));
    DIBSECTION dib{};
    ASSERT_EQ(static_cast<int>(sizeof(dib)), ::GetObject(image->hBitmap, sizeof(dib), &dib));
    EXPECT_EQ(image->nPitch * 8 / 24, dib.dsBmih.biWidth);
    EXPECT_EQ(5, dib.dsBmih.biHeight);
    EXPECT_EQ(static_cast<BYTE*>(dib.dsBm.bmBits) + image->nPitch, image->ptrImage);
    EXPECT_EQ(image->hBitmap, ::GetCurrentObject(image->hdc, OBJ_BITMAP));
}

TEST(ImageBuffer, DibRowZeroIsTheLowestVisibleLine) {
    UniqueImageBuffer image = Make32(4, 3, kImageFlagDib);
    ASSERT_TRUE(image && GetImageDC(image.get()));
    *Pixel32(image.get(), 1, 0) = 0x00FF0000;  // red in row 0
    ::GdiFlush();
    EXPECT_EQ(RGB(255, 0, 0), ::GetPixel(image->hdc, 1, 2));
    FlipImage(image.get());
    *Pixel32(image.get(), 2, 0) = 0x000000FF;  // blue in the new row 0
    ::GdiFlush();
    EXPECT_EQ(RGB(0, 0, 255), ::GetPixel(image->hdc, 2, 0));
}

TEST(ImageBuffer, NewImagesAreBlack) {
    for (DWORD flags : kBothBackings) {
        UniqueImageBuffer image = Make32(33, 9, flags);
        ASSERT_TRUE(image);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 33; ++x)
                ASSERT_EQ(0u, Get32(image.get(), x, y));
    }
}

TEST(ImageBuffer, ColorTableIsAGreyRamp) {
    for (DWORD bpp : {1u, 4u, 8u}) {
        for (DWORD flags : kBothBackings) {
            SCOPED_TRACE(bpp);
            UniqueImageBuffer image(CreateImageBuffer(kImageFormatColor, 5, 5, bpp, flags));
            ASSERT_TRUE(image);
            ASSERT_EQ(1u << bpp, image->dwColorCount);
            for (DWORD i = 0; i < image->dwColorCount; ++i)
                EXPECT_EQ(i * 65793, image->pColorTable[i]);
        }
    }
}

TEST(ImageBuffer, ImpossibleSizesAndDepthsFail) {
    const struct {
        const char* name;
        int w, h;
        DWORD bpp;
    } cases[] = {
        {"pitch times height beyond 32 bits", 100000, 100000, 32},
        {"width alone overflows the pitch", 0x7FFFFFFF, 1, 32},
        {"byte size above the signed field", 16384, 32768, 32},
        {"depth 0", 10, 10, 0},
        {"depth 12", 10, 10, 12},
        {"depth 64", 10, 10, 64},
    };
    for (DWORD flags : kBothBackings) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            UniqueImageBuffer image(CreateImageBuffer(kImageFormatColor, c.w, c.h, c.bpp, flags));
            EXPECT_FALSE(image);
        }
    }
}

TEST(ImageBuffer, DeleteRefusesWhatIsNotAFullRecord) {
    EXPECT_EQ(1, DeleteImageBuffer(nullptr));
    EXPECT_EQ(1, AddRefImageBuffer(nullptr));
    UniqueImageBuffer image = Make32(8, 8);
    ASSERT_TRUE(image);
    *Pixel32(image.get(), 3, 3) = 0x12345678;
    ImageBuffer view{};
    ASSERT_EQ(0, MakeImageView(&view, image.get(), 2, 2, 4, 4));
    EXPECT_EQ(1, DeleteImageBuffer(&view));
    EXPECT_EQ(1, AddRefImageBuffer(&view));
    EXPECT_EQ(0x12345678u, Get32(&view, 1, 1));
    alignas(16) BYTE bytes[sizeof(ImageBuffer) + 16] = {};
    auto* misaligned = reinterpret_cast<ImageBuffer*>(bytes + 4);
    misaligned->dwKind = kImageKindFull;
    EXPECT_EQ(1, DeleteImageBuffer(misaligned));
    EXPECT_EQ(0, HeaderOf(image.get()).nHolders);
}

TEST(ImageBuffer, HoldersAreCountedAtomically) {
    UniqueImageBuffer image = Make32(4, 4);
    ASSERT_TRUE(image);
    constexpr int kThreads = 4, kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i)
                AddRefImageBuffer(image.get());
            for (int i = 0; i < kRounds; ++i)
                DeleteImageBuffer(image.get());
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(0, HeaderOf(image.get()).nHolders);
    ASSERT_EQ(0, AddRefImageBuffer(image.get()));
    EXPECT_EQ(1, HeaderOf(image.get()).nHolders);
    EXPECT_EQ(0, DeleteImageBuffer(image.get()));  // drops the added holder only
    EXPECT_EQ(0, HeaderOf(image.get()).nHolders);
    *Pixel32(image.get(), 0, 0) = 1;  // still alive
}

TEST(ImageBuffer, FlipMovesTheAddressByAllButOneRow) {
    UniqueImageBuffer image = Make32(10, 4);
    ASSERT_TRUE(image);
    BYTE* before = image->ptrImage;
    ASSERT_EQ(0, FlipImage(image.get()));
    EXPECT_EQ(before + 144, image->ptrImage);
    EXPECT_EQ(-48, image->nPitch);
    EXPECT_EQ(-48 * 5, image->nImageSize);
    ASSERT_EQ(0, FlipImage(image.get()));
    EXPECT_EQ(before, image->ptrImage);
    EXPECT_EQ(48, image->nPitch);
    EXPECT_EQ(48 * 5, image->nImageSize);
    EXPECT_EQ(1, FlipImage(nullptr));
}

TEST(ImageBuffer, FillCoversEveryPixelOnBothPaths) {
    for (bool plain : {false, true}) {
        SCOPED_TRACE(plain ? "plain" : "sse2");
        std::unique_ptr<imagetest::PlainPathsOnly> off;
        if (plain)
            off = std::make_unique<imagetest::PlainPathsOnly>();
        for (DWORD flags : kBothBackings) {
            UniqueImageBuffer image = Make32(13, 7, flags);
            ASSERT_TRUE(image);
            FlipImage(image.get());
            ASSERT_EQ(0, FillImage(image.get(), 0x80402010));
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < image->nPitch / -4; ++x)  // the alignment words too
                    ASSERT_EQ(0x80402010u, Get32(image.get(), x, y)) << x << "," << y;
        }
    }
}

TEST(ImageBuffer, FillOtherDepths) {
    UniqueImageBuffer rgb(CreateImageBuffer(kImageFormatColor, 5, 3, 24, 0));
    ASSERT_EQ(0, FillImage(rgb.get(), 0xFF302010));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const BYTE* p = rgb->ptrImage + y * rgb->nPitch + x * 3;
            ASSERT_EQ(0x10, p[0]);
            ASSERT_EQ(0x20, p[1]);
            ASSERT_EQ(0x30, p[2]);
        }
    // Odd widths: the last pixel of a row used to be left out.
    UniqueImageBuffer words(CreateImageBuffer(kImageFormatColor, 3, 2, 16, 0));
    ASSERT_EQ(0, FillImage(words.get(), 0xABCD1234));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            WORD v;
            std::memcpy(&v, words->ptrImage + y * words->nPitch + x * 2, 2);
            ASSERT_EQ(0x1234, v);
        }
    UniqueImageBuffer bytes(CreateImageBuffer(kImageFormatColor, 5, 2, 8, 0));
    ASSERT_EQ(0, FillImage(bytes.get(), 0x77));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(0x77, bytes->ptrImage[y * bytes->nPitch + x]);
    UniqueImageBuffer nibbles(CreateImageBuffer(kImageFormatColor, 5, 2, 4, 0));
    EXPECT_EQ(1, FillImage(nibbles.get(), 0));
    ImageBuffer view{};
    ASSERT_EQ(0, MakeImageView(&view, rgb.get(), 0, 0, 2, 2));
    EXPECT_EQ(1, FillImage(&view, 0));
    EXPECT_EQ(1, FillImage(nullptr, 0));
}

struct ViewCase {
    const char* name;
    int x, y, w, h;
    int result;
    int vx, vy, vw, vh;  // the view in image coordinates when made
};

const ViewCase kViewCases[] = {
    {"inside", 3, 2, 10, 5, 0, 3, 2, 10, 5},
    {"negative x is cut off", -5, 0, 20, 4, 0, 0, 0, 15, 4},
    {"negative y is cut off", 0, -3, 4, 5, 0, 0, 0, 4, 2},
    {"clipped right and bottom", 30, 20, 50, 50, 0, 30, 20, 10, 10},
    {"x + w beyond 32 bits", 10, 0, 0x7FFFFFFF, 1, 0, 10, 0, 30, 1},
    {"height 0", 0, 0, 10, 0, 1, 0, 0, 0, 0},
    {"above the image", 0, -10, 10, 5, 1, 0, 0, 0, 0},
    {"right of the image", 45, 0, 10, 5, 1, 0, 0, 0, 0},
    {"below the image", 0, 30, 10, 5, 1, 0, 0, 0, 0},
    {"negative width", 5, 5, -2, 5, 1, 0, 0, 0, 0},
};

TEST(ImageBuffer, ViewsAreClippedToTheImage) {
    UniqueImageBuffer image = Make32(40, 30);
    ASSERT_TRUE(image);
    for (const ViewCase& c : kViewCases) {
        SCOPED_TRACE(c.name);
        ImageBuffer view{};
        ASSERT_EQ(c.result, MakeImageView(&view, image.get(), c.x, c.y, c.w, c.h));
        if (c.result != 0)
            continue;
        EXPECT_EQ(kImageKindView, view.dwKind);
        EXPECT_EQ(c.vw, view.nWidth);
        EXPECT_EQ(c.vh, view.nHeight);
        EXPECT_EQ(image->nPitch, view.nPitch);
        EXPECT_EQ(c.vh * image->nPitch, view.nImageSize);
        EXPECT_EQ(reinterpret_cast<BYTE*>(Pixel32(image.get(), c.vx, c.vy)), view.ptrImage);
        EXPECT_EQ(nullptr, GetImageDC(&view));
    }
}

TEST(ImageBuffer, ViewOfAFlippedImageAndItsFlip) {
    UniqueImageBuffer image = Make32(6, 6);
    imagetest::FillRandom(image.get(), 7);
    FlipImage(image.get());
    ImageBuffer view{};
    ASSERT_EQ(0, MakeImageView(&view, image.get(), 1, 2, 3, 3));
    EXPECT_EQ(Get32(image.get(), 1, 2), Get32(&view, 0, 0));
    ASSERT_EQ(0, FlipImage(&view));
    EXPECT_EQ(Get32(image.get(), 1, 4), Get32(&view, 0, 0));
    EXPECT_EQ(Get32(image.get(), 3, 2), Get32(&view, 2, 2));
}

TEST(ImageBuffer, CopyDropsTheFourthByte) {
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
                const DWORD s = Get32(source.get(), x, y);
                ASSERT_EQ(s & 0xFFFFFF, static_cast<DWORD>(d[0] | (d[1] << 8) | (d[2] << 16)));
            }
        // The row's alignment bytes stay as they were.
        EXPECT_EQ(0, dest->ptrImage[15]);
    }
}

TEST(ImageBuffer, CopyNeedsMatchingSizesAndFormats) {
    UniqueImageBuffer source = Make32(5, 3);
    UniqueImageBuffer wider(CreateImageBuffer(kImageFormatColor, 6, 3, 24, 0));
    UniqueImageBuffer otherFormat(CreateImageBuffer(2, 5, 3, 24, 0));
    UniqueImageBuffer grey(CreateImageBuffer(kImageFormatColor, 5, 3, 8, 0));
    EXPECT_EQ(1, CopyImagePixels(wider.get(), source.get()));
    EXPECT_EQ(1, CopyImagePixels(otherFormat.get(), source.get()));
    EXPECT_EQ(1, CopyImagePixels(grey.get(), source.get()));
    EXPECT_EQ(1, CopyImagePixels(nullptr, source.get()));
}

}  // namespace
