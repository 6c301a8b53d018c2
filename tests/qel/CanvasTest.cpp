// The canvas: its surface, clearing, copying to a device context, and the
// 24-bit BMP it saves.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <vector>

#include "PictureTestSupport.h"
#include "qel_picture.h"

using namespace picturetest;

namespace {

class CanvasTest : public ScratchTest {
protected:
    // 3 x 2: top row red, green, blue; bottom row three greys.
    void MakeSmallCanvas() {
        canvas_.Create(3, 2);
        const ImageBuffer* image = canvas_.GetImage();
        const DWORD pixels[2][3] = {{Rgb(255, 0, 0), Rgb(0, 255, 0), Rgb(0, 0, 255)},
                                    {Rgb(10, 10, 10), Rgb(20, 20, 20), Rgb(30, 30, 30)}};
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                SetPixel(image, x, y, pixels[y][x] | 0xAB000000);
    }
    qel::CCanvas canvas_;
};

// The whole file, by hand: header, then the bottom row first, BGR, rows padded to 4.
const std::vector<std::uint8_t> kSmallCanvasBmp = {
    'B', 'M', 78,  0,  0,   0,  0,   0,  0,  0, 54, 0, 0, 0,  // file header
    40,  0,   0,   0,  3,   0,  0,   0,  2,  0, 0,  0, 1, 0, 24, 0, 0, 0, 0, 0,
    24,  0,   0,   0,  0,   0,  0,   0,  0,  0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0,  // info header
    10,  10,  10,  20, 20,  20, 30,  30, 30, 0, 0,  0,                           // bottom row
    0,   0,   255, 0,  255, 0,  255, 0,  0,  0, 0,  0,                           // top row
};

}  // namespace

TEST_F(CanvasTest, CreateGivesAClearableTopDownSurface) {
    EXPECT_EQ(0, canvas_.GetWidth());
    EXPECT_EQ(0u, canvas_.GetBkColor());
    EXPECT_EQ(nullptr, canvas_.GetCanvasDC());
    canvas_.Create(7, 5);
    EXPECT_EQ(7, canvas_.GetWidth());
    EXPECT_EQ(5, canvas_.GetHeight());
    ASSERT_NE(nullptr, canvas_.GetCanvasDC());
    EXPECT_LT(canvas_.GetImage()->nPitch, 0);
    canvas_.SetBkColor(0x00336699);
    canvas_.Clear();
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            ASSERT_EQ(0x00336699u, Pixel(canvas_.GetImage(), x, y));
    // Row 0 is the top line as the device context shows it.
    SetPixel(canvas_.GetImage(), 0, 0, Rgb(255, 0, 0));
    EXPECT_EQ(RGB(255, 0, 0), ::GetPixel(canvas_.GetCanvasDC(), 0, 0));
}

TEST_F(CanvasTest, FailedCreateLeavesNoSurface) {
    canvas_.Create(4, 4);
    EXPECT_EQ("qel_picture(147)\nm_pInner->_pImage == NULL", Thrown([&] { canvas_.Create(100000, 100000); }));
    EXPECT_EQ(0, canvas_.GetWidth());
    EXPECT_EQ(nullptr, canvas_.GetImage());
    canvas_.Clear();  // harmless without a surface
    EXPECT_NE(0, canvas_.SaveBitmap(In(L"none.bmp").c_str()));
}

TEST_F(CanvasTest, PresentCopiesOnlyTheRectangle) {
    MakeSmallCanvas();
    UniqueImageBuffer window(CreateImageBuffer(kImageFormatColor, 3, 2, 32, kImageFlagDib));
    ASSERT_NE(nullptr, GetImageDC(window.get()));
    FlipImage(window.get());
    FillImage(window.get(), 0x00777777);
    canvas_.Present(GetImageDC(window.get()), RECT{1, 0, 3, 1}, SRCCOPY);
    EXPECT_EQ(0x777777u, Pixel(window.get(), 0, 0) & 0xFFFFFF);
    EXPECT_EQ(Rgb(0, 255, 0), Pixel(window.get(), 1, 0) & 0xFFFFFF);
    EXPECT_EQ(Rgb(0, 0, 255), Pixel(window.get(), 2, 0) & 0xFFFFFF);
    EXPECT_EQ(0x777777u, Pixel(window.get(), 2, 1) & 0xFFFFFF);
}

TEST_F(CanvasTest, SaveBitmapWritesTheAreaAs24Bits) {
    MakeSmallCanvas();
    // A new file, named as given.
    EXPECT_EQ(0, canvas_.SaveBitmap(In(L"wallpaper.bmp").c_str()));
    EXPECT_EQ(kSmallCanvasBmp, ReadBytes(In(L"wallpaper.bmp")));
    // An existing, longer file is replaced, through its short name.
    WriteBytes(In(L"a long existing name.bmp"), std::vector<std::uint8_t>(500, 7));
    EXPECT_EQ(0, canvas_.SaveBitmap(In(L"a long existing name.bmp").c_str()));
    EXPECT_EQ(kSmallCanvasBmp, ReadBytes(In(L"a long existing name.bmp")));
    // A folder that does not exist: a failure, not a throw.
    EXPECT_NE(0, canvas_.SaveBitmap(In(L"missing\\wallpaper.bmp").c_str()));
}
