// The BMP writer against files whose bytes are put together here by hand.
#include <gtest/gtest.h>

#include <vector>

#include "ImageTestSupport.h"
#include "esl_file.h"
#include "esl_image.h"

namespace {

void Append16(std::vector<BYTE>& v, unsigned x) {
    v.push_back(static_cast<BYTE>(x));
    v.push_back(static_cast<BYTE>(x >> 8));
}

void Append32(std::vector<BYTE>& v, unsigned x) {
    Append16(v, x & 0xFFFF);
    Append16(v, x >> 16);
}

std::vector<BYTE> Header(unsigned width, unsigned height, unsigned bpp, unsigned rowBytes, unsigned colors = 0) {
    std::vector<BYTE> v{'B', 'M'};
    Append32(v, 54 + 4 * colors + height * rowBytes);
    Append32(v, 0);
    Append32(v, 54 + 4 * colors);
    Append32(v, 40);
    Append32(v, width);
    Append32(v, height);
    Append16(v, 1);
    Append16(v, bpp);
    Append32(v, 0);
    Append32(v, height * rowBytes);
    Append32(v, 0);
    Append32(v, 0);
    Append32(v, colors);
    Append32(v, 0);
    return v;
}

std::vector<BYTE> Written(const EBitmapWriter& writer, int expectedResult = 0) {
    EMemoryFile file;
    EXPECT_EQ(0, file.Create(16));
    EXPECT_EQ(expectedResult, writer.Write(file));
    const BYTE* p = static_cast<const BYTE*>(file.GetBuffer());
    return std::vector<BYTE>(p, p + file.GetLength());
}

// Pixel (x, y) of the test pattern, with y counted from the top line.
BYTE Channel(int x, int y, int c) {
    return static_cast<BYTE>(16 * y + 4 * x + c + 1);
}

void PaintTopDown(ImageBuffer* image) {
    const int bytes = image->dwBitsPerPixel / 8;
    for (int y = 0; y < image->nHeight; ++y) {
        // Row 0 is the top line when the pitch is negative, the bottom one otherwise.
        const int row = image->nPitch < 0 ? y : image->nHeight - 1 - y;
        for (int x = 0; x < image->nWidth; ++x)
            for (int c = 0; c < bytes; ++c)
                image->ptrImage[row * image->nPitch + x * bytes + c] = Channel(x, y, c);
    }
}

// Bottom line first whatever the pitch's sign; 24-bit rows padded to four
// bytes with zeros, 32-bit rows as they are.
TEST(BmpWriter, ColourImagesBottomLineFirstInPaddedRows) {
    for (DWORD bpp : {24u, 32u}) {
        for (bool topDown : {true, false}) {
            SCOPED_TRACE(testing::Message() << bpp << (topDown ? " bits, negative pitch" : " bits, positive pitch"));
            EBitmapWriter writer;
            ASSERT_EQ(0, writer.CreateImage(kImageFormatColor, 3, 2, bpp, bpp == 32 ? DWORD{kImageFlagDib} : 0u));
            if (topDown)
                FlipImage(writer.GetImage());
            PaintTopDown(writer.GetImage());
            const unsigned bytes = bpp / 8, row = (3 * bytes + 3) & ~3u;
            std::vector<BYTE> expected = Header(3, 2, bpp, row);
            for (int y : {1, 0}) {
                for (int x = 0; x < 3; ++x)
                    for (unsigned c = 0; c < bytes; ++c)
                        expected.push_back(Channel(x, y, c));
                expected.insert(expected.end(), row - 3 * bytes, 0);
            }
            EXPECT_EQ(expected, Written(writer));
        }
    }
}

TEST(BmpWriter, GreyImagesCarryTheirColorTable) {
    EBitmapWriter writer;
    ASSERT_EQ(0, writer.CreateImage(kImageFormatColor, 2, 1, 8, 0));
    writer.GetImage()->ptrImage[0] = 7;
    writer.GetImage()->ptrImage[1] = 200;
    std::vector<BYTE> expected = Header(2, 1, 8, 4, 256);
    for (unsigned i = 0; i < 256; ++i)
        Append32(expected, i * 65793);
    expected.insert(expected.end(), {7, 200, 0, 0});
    EXPECT_EQ(expected, Written(writer));
}

// Takes at most `limit` bytes in all, like a full disk.
class ShortFile : public ESLFileObject {
public:
    explicit ShortFile(DWORD limit) : m_limit(limit) {}
    std::unique_ptr<ESLFileObject> Duplicate() noexcept override { return nullptr; }
    DWORD Read(void*, DWORD) noexcept override { return 0; }
    DWORD Write(const void*, DWORD bytes) noexcept override {
        const DWORD taken = std::min(bytes, m_limit - m_written);
        m_written += taken;
        return taken;
    }
    DWORD GetLength() const noexcept override { return m_written; }
    DWORD Seek(LONG, int) noexcept override { return m_written; }
    DWORD GetPosition() const noexcept override { return m_written; }

private:
    DWORD m_limit;
    DWORD m_written = 0;
};

TEST(BmpWriter, ShortWritesAndMissingImagesFail) {
    EBitmapWriter empty;
    EMemoryFile file;
    ASSERT_EQ(0, file.Create(16));
    EXPECT_EQ(1, empty.Write(file));
    EBitmapWriter writer;
    ASSERT_EQ(0, writer.CreateImage(kImageFormatColor, 3, 2, 24, 0));
    for (DWORD limit : {0u, 53u, 54u, 65u, 77u}) {
        SCOPED_TRACE(limit);
        ShortFile shortFile(limit);
        EXPECT_EQ(1, writer.Write(shortFile));
    }
    ShortFile exact(78);
    EXPECT_EQ(0, writer.Write(exact));
    EXPECT_EQ(1, writer.CreateImage(kImageFormatColor, 10, 10, 7, 0));
    EXPECT_EQ(nullptr, writer.GetImage());
}

}  // namespace
