// ImageBuffer records (layout on a DIB section and in plain memory, holders,
// row order, filling, views, the depth copy) and the BMP writer.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "ImageTestSupport.h"
#include "esl_file.h"

using imagetest::Get32;
using imagetest::Make32;
using imagetest::Pixel32;

namespace {

// The holder count in the header before the record.
LONG HoldersOf(const ImageBuffer* p) {
    LONG n;
    std::memcpy(&n, reinterpret_cast<const BYTE*>(p) - 16 + sizeof(void*), sizeof(LONG));
    return n;
}

// Each value in `size` little-endian bytes.
void Put(std::vector<BYTE>& v, unsigned size, std::initializer_list<unsigned> values) {
    for (unsigned value : values)
        for (unsigned i = 0; i < size; ++i)
            v.push_back(static_cast<BYTE>(value >> (8 * i)));
}

// Takes at most `limit` bytes in all, like a full disk.
class ShortFile : public EMemoryFile {
public:
    explicit ShortFile(DWORD limit) : m_limit(limit) { Create(0); }
    DWORD Write(const void* p, DWORD bytes) noexcept override {
        return EMemoryFile::Write(p, std::min(bytes, m_limit - GetLength()));
    }
    DWORD m_limit;
};

}  // namespace

// Rows start on 16 bytes with one spare row; masks are 2^k - 1; new pixels
// are black with a grey ramp as colour table; flips keep the row table.
TEST(ImageBuffer, LayoutOfBothBackingsAndFlips) {
    for (DWORD flags : {DWORD{0}, DWORD{kImageFlagDib}}) {
        for (const auto& [width, bpp, pitch] :
             {std::make_tuple(10, 32u, 48), std::make_tuple(10, 24u, 32), std::make_tuple(5, 32u, 32),
              std::make_tuple(17, 8u, 32), std::make_tuple(8, 16u, 16), std::make_tuple(129, 1u, 32),
              std::make_tuple(0, 32u, 16)}) {
            SCOPED_TRACE(testing::Message() << width << " pixels of " << bpp << " bits, flags " << flags);
            UniqueImageBuffer image(CreateImageBuffer(kImageFormatColor, width, 3, bpp, flags));
            ASSERT_TRUE(image);
            EXPECT_EQ(pitch, image->nPitch);
            EXPECT_EQ(pitch * 4, image->nImageSize);
            EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(image->ptrImage) & 15);
            EXPECT_EQ(bpp <= 8 ? 1u << bpp : 0u, image->dwColorCount);
            for (DWORD i = 0; i < image->dwColorCount; ++i)
                ASSERT_EQ(i * 0x10101, image->pColorTable[i]);
            EXPECT_EQ(std::vector<BYTE>(3 * pitch), std::vector<BYTE>(image->ptrImage, image->ptrImage + 3 * pitch));
        }
        for (const auto& [w, h, bpp] :
             {std::make_tuple(100000, 100000, 32u), std::make_tuple(0x7FFFFFFF, 1, 32u),
              std::make_tuple(16384, 32768, 32u), std::make_tuple(10, 10, 0u), std::make_tuple(10, 10, 12u)})
            EXPECT_FALSE(UniqueImageBuffer(CreateImageBuffer(kImageFormatColor, w, h, bpp, flags))) << w << "x" << h;
    }
    UniqueImageBuffer image = Make32(15, 0);
    EXPECT_EQ(1, image->nHeight) << "height 0 is 1 row";
    EXPECT_EQ(15u, image->dwWidthMask);
    EXPECT_EQ(1u, image->dwHeightMask);
    image = Make32(16, 14);
    EXPECT_EQ(7u, image->dwHeightMask);
    BYTE* const before = image->ptrImage;
    for (int pass = 1; pass <= 2; ++pass) {
        ASSERT_EQ(0, FlipImage(image.get()));
        EXPECT_EQ(pass == 1 ? before + 13 * 64 : before, image->ptrImage);
        EXPECT_EQ(image->nPitch * 15, image->nImageSize);
        for (int r = 0; r < 14; ++r)
            EXPECT_EQ(image->ptrImage + r * image->nPitch, image->ppRows[r]);
    }
    EXPECT_EQ(1, FlipImage(nullptr));
}

// A DIB's spare line is at the bottom; row 0 is the lowest line until flipped.
TEST(ImageBuffer, DibRowsAndTheSpareLine) {
    UniqueImageBuffer image = Make32(4, 3, 0, kImageFlagDib);
    ASSERT_TRUE(image && GetImageDC(image.get()));
    DIBSECTION dib{};
    ASSERT_EQ(static_cast<int>(sizeof(dib)), ::GetObject(image->hBitmap, sizeof(dib), &dib));
    EXPECT_EQ(4, dib.dsBmih.biHeight);
    EXPECT_EQ(static_cast<BYTE*>(dib.dsBm.bmBits) + image->nPitch, image->ptrImage);
    *Pixel32(image.get(), 1, 0) = 0x00FF0000;
    FlipImage(image.get());
    *Pixel32(image.get(), 2, 0) = 0x000000FF;
    ::GdiFlush();
    EXPECT_EQ(RGB(255, 0, 0), ::GetPixel(image->hdc, 1, 2));
    EXPECT_EQ(RGB(0, 0, 255), ::GetPixel(image->hdc, 2, 0));
    EXPECT_EQ(nullptr, GetImageDC(Make32(4, 3).get())) << "plain memory has no DC";
}

// Holders are counted only for full records; the last one frees.
TEST(ImageBuffer, HoldersAreCountedOnlyForFullRecords) {
    UniqueImageBuffer image = Make32(8, 8);
    ImageBuffer view{};
    ASSERT_EQ(0, MakeImageView(&view, image.get(), 2, 2, 4, 4));
    alignas(16) BYTE bytes[sizeof(ImageBuffer) + 16] = {};
    auto* misaligned = reinterpret_cast<ImageBuffer*>(bytes + 4);
    misaligned->dwKind = kImageKindFull;
    for (ImageBuffer* p : {&view, misaligned, static_cast<ImageBuffer*>(nullptr)})
        EXPECT_EQ(2, DeleteImageBuffer(p) + AddRefImageBuffer(p));
    EXPECT_EQ(0, AddRefImageBuffer(image.get()));
    EXPECT_EQ(1, HoldersOf(image.get()));
    EXPECT_EQ(0, DeleteImageBuffer(image.get()));
    EXPECT_EQ(0, HoldersOf(image.get()));
    *Pixel32(image.get(), 0, 0) = 1;  // still alive
}

// Every pixel and the alignment words, both paths; views are not filled.
TEST(ImageBuffer, FillCoversEveryPixel) {
    for (bool plain : {false, true}) {
        imagetest::PlainPathsOnly off(plain);
        for (const auto& [bpp, width, pixel] :
             {std::make_tuple(32u, 13, "\x10\x20\x40\x80"), std::make_tuple(24u, 5, "\x10\x20\x40"),
              std::make_tuple(16u, 3, "\x10\x20"), std::make_tuple(8u, 5, "\x10")}) {
            UniqueImageBuffer image(CreateImageBuffer(kImageFormatColor, width, 7, bpp, kImageFlagDib));
            FlipImage(image.get());
            ASSERT_EQ(0, FillImage(image.get(), 0x80402010));
            const int bytes = static_cast<int>(bpp / 8), used = bpp == 32 ? -image->nPitch : width * bytes;
            for (int i = 0; i < 7 * used; ++i)
                ASSERT_EQ(static_cast<BYTE>(pixel[i % used % bytes]),
                          image->ptrImage[i / used * image->nPitch + i % used])
                    << bpp << " bits, byte " << i << (plain ? ", plain" : "");
        }
    }
    UniqueImageBuffer nibbles(CreateImageBuffer(kImageFormatColor, 5, 2, 4, 0)), image = Make32(4, 4);
    ImageBuffer view{};
    ASSERT_EQ(0, MakeImageView(&view, image.get(), 0, 0, 2, 2));
    EXPECT_EQ(2, FillImage(nibbles.get(), 0) + FillImage(&view, 0));
}

// Views (x, y, width, height) are clipped, in 64 bits so x + w cannot wrap.
TEST(ImageBuffer, ViewsAreClippedToTheImage) {
    UniqueImageBuffer image = Make32(40, 30, 7);
    for (const auto& [asked, made] :
         {std::make_pair(RECT{3, 2, 10, 5}, RECT{3, 2, 10, 5}), std::make_pair(RECT{-5, 0, 20, 4}, RECT{0, 0, 15, 4}),
          std::make_pair(RECT{30, 20, 50, 50}, RECT{30, 20, 10, 10}),
          std::make_pair(RECT{10, 0, 0x7FFFFFFF, 1}, RECT{10, 0, 30, 1}), std::make_pair(RECT{0, 0, 10, 0}, RECT{}),
          std::make_pair(RECT{0, -10, 10, 5}, RECT{}), std::make_pair(RECT{5, 5, -2, 5}, RECT{})}) {
        ImageBuffer view{};
        ASSERT_EQ(made.right ? 0 : 1,
                  MakeImageView(&view, image.get(), asked.left, asked.top, asked.right, asked.bottom));
        EXPECT_EQ(std::make_tuple(made.right, made.bottom, made.right ? image->nPitch : 0),
                  std::make_tuple(view.nWidth, view.nHeight, view.nPitch))
            << asked.left << "," << asked.top;
        EXPECT_TRUE(!made.right || reinterpret_cast<BYTE*>(Pixel32(image.get(), made.left, made.top)) == view.ptrImage);
    }
}

TEST(ImageBuffer, CopyDropsTheFourthByteAndNeedsTheSameSize) {
    UniqueImageBuffer source = Make32(5, 3, 11);
    for (bool flipDest : {false, true}) {
        UniqueImageBuffer dest(CreateImageBuffer(kImageFormatColor, 5, 3, 24, 0));
        if (flipDest)
            FlipImage(dest.get());
        ASSERT_EQ(0, CopyImagePixels(dest.get(), source.get()));
        for (int i = 0; i < 15; ++i) {
            const BYTE* d = dest->ptrImage + i / 5 * dest->nPitch + i % 5 * 3;
            ASSERT_EQ(Get32(source.get(), i % 5, i / 5) & 0xFFFFFF, d[0] | (d[1] << 8) | (d[2] << 16)) << i;
        }
        EXPECT_EQ(0, dest->ptrImage[15]) << "the row's alignment bytes stay";
    }
    for (const auto& [w, format, bpp] :
         {std::make_tuple(6, 1u, 24u), std::make_tuple(5, 2u, 24u), std::make_tuple(5, 1u, 8u)})
        EXPECT_EQ(1, CopyImagePixels(UniqueImageBuffer(CreateImageBuffer(format, w, 3, bpp, 0)).get(), source.get()));
}

// Bottom line first whatever the pitch; rows padded with zeros to 4 bytes.
TEST(BmpWriter, BottomLineFirstInPaddedRows) {
    for (unsigned bpp : {8u, 24u, 32u}) {
        for (bool topDown : {true, false}) {
            EBitmapWriter writer;
            ASSERT_EQ(0, writer.CreateImage(kImageFormatColor, 3, 2, bpp, bpp == 32 ? DWORD{kImageFlagDib} : 0u));
            ImageBuffer* image = writer.GetImage();
            if (topDown)
                FlipImage(image);
            const unsigned bytes = bpp / 8, row = (3 * bytes + 3) & ~3u, colors = bpp == 8 ? 256 : 0;
            std::vector<BYTE> expected{'B', 'M'};
            Put(expected, 4, {54 + 4 * colors + 2 * row, 0, 54 + 4 * colors, 40, 3, 2});
            Put(expected, 2, {1, bpp});
            Put(expected, 4, {0, 2 * row, 0, 0, colors, 0});
            for (unsigned i = 0; i < colors; ++i)
                Put(expected, 4, {i * 0x10101});
            for (int y : {1, 0}) {  // row 0 is the top line when the pitch is negative
                BYTE* p = image->ptrImage + (topDown ? y : 1 - y) * image->nPitch;
                for (unsigned i = 0; i < 3 * bytes; ++i)
                    expected.push_back(p[i] = static_cast<BYTE>(16 * y + i + 1));
                expected.insert(expected.end(), row - 3 * bytes, 0);
            }
            ShortFile file(100000);
            EXPECT_EQ(0, writer.Write(file));
            const BYTE* written = static_cast<const BYTE*>(file.GetBuffer());
            EXPECT_EQ(expected, std::vector<BYTE>(written, written + file.GetLength())) << bpp << " " << topDown;
        }
    }
}

TEST(BmpWriter, ShortWritesAndMissingImagesFail) {
    EBitmapWriter writer;
    ShortFile roomy(1000);
    EXPECT_EQ(1, writer.Write(roomy));
    ASSERT_EQ(0, writer.CreateImage(kImageFormatColor, 3, 2, 24, 0));
    for (DWORD limit : {0u, 53u, 54u, 65u, 77u, 78u}) {
        ShortFile shortFile(limit);
        EXPECT_EQ(limit < 78 ? 1 : 0, writer.Write(shortFile)) << limit;
    }
    EXPECT_EQ(1, writer.CreateImage(kImageFormatColor, 10, 10, 7, 0));
    EXPECT_EQ(nullptr, writer.GetImage());
}
