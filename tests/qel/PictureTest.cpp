// Pictures through GDI+, the page picture, the canvas, fitting, the colour dialog.
#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "PictureTestSupport.h"
#include "qel_color_dialog.h"
#include "qel_picture.h"

using namespace picturetest;

namespace {

// What a timer in the dialog's modal loop saw before it pressed gButton.
WORD gButton;
std::string gCaption;
RECT gRect;

void CALLBACK Watch(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dialog = ::FindWindowA("#32770", nullptr);
    if (!dialog || !::IsWindowVisible(dialog))
        return;
    ::KillTimer(nullptr, id);
    char caption[64] = {};
    ::GetWindowTextA(dialog, caption, sizeof(caption));
    gCaption = caption;
    ::GetWindowRect(dialog, &gRect);
    ::PostMessageA(dialog, WM_COMMAND, gButton, 0);
}

// Opens the dialog over a visible owner at `rc` and answers `button`.
INT_PTR RunDialog(const char* title, WORD button, const RECT& rc) {
    const esl::UniqueAny<esl::HandleTraits<HWND, &::DestroyWindow>> owner(
        ::CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, rc.left, rc.top, rc.right - rc.left,
                          rc.bottom - rc.top, nullptr, nullptr, nullptr, nullptr));
    gButton = button;
    ::SetTimer(nullptr, 0, 50, Watch);
    return qel::CChooseColorDlg(title, 0x00123456u).DoModal(owner.get());
}

class PictureTest : public ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        qel::GDIPlus::Startup();
    }
    void LoadBmp(int w, int h, const std::function<DWORD(int, int)>& rgb) {
        WriteBmp(In(L"page.bmp"), w, h, rgb);
        picture_.Load(In(L"page.bmp").c_str());
    }
    qel::CPicture picture_;
};

}  // namespace

// The fixtures decode top line first; mutated copies (fixed seed) decode to a
// sane image or fail cleanly (a BMP whose pixel offset lay past its end once
// made the platform's stream read past its block); bad files fail with their check.
TEST_F(PictureTest, DecodesGoodFilesAndFailsCleanlyOnBadOnes) {
    const DWORD rgb[15] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0x0A141E, 0x28323C, 0x46505A,
                           0x646E78, 0x828C96, 0xC86400, 0x00C864, 0x6400C8, 0x1EA0DC, 0xDCA01E};
    std::mt19937 rng(5810);
    for (const wchar_t* name : {L"rgb.bmp", L"rgb.png", L"rgb.gif", L"rgb.tif", L"halves.jpg", L"anim.gif"}) {
        picture_.Load(Fixture(name).c_str());
        for (int i = 0; i < 15 && name[0] == L'r'; ++i)
            EXPECT_EQ(rgb[i], Pixel(picture_.GetImage(), i % 5, i / 5) & 0xFFFFFF) << name << i;
        const std::vector<std::uint8_t> original = ReadBytes(Fixture(name));
        for (int round = 0; round < 40; ++round) {
            std::vector<std::uint8_t> bytes = original;
            for (int flips = 1 + int(rng() % 6); flips > 0; --flips)
                bytes[rng() % bytes.size()] ^= std::uint8_t(1u << (rng() % 8));
            if (round % 8 == 7)
                bytes.resize(rng() % bytes.size() + 1);  // truncated
            WriteBytes(In(L"m.png"), bytes);
            try {
                qel::CGDIPlusPictureRsrc source(In(L"m.png").c_str());
                EXPECT_TRUE(source.GetImage()->nWidth > 0 && source.GetImage()->nHeight > 0);
                for (UINT f = 0; f < source.GetFrameCount() && f < 4; ++f) {
                    Thrown([&] { source.SelectFrame(int(f)); });
                    EXPECT_GE(source.GetFrameDelay(), 0);
                }
            } catch (const qel::CException&) {
            }
        }
    }
    // A failed load leaves no picture. Paths go by their last extension, in any case.
    WriteBytes(In(L"empty.png"), {});
    WriteBytes(In(L"junk.png"), std::vector<std::uint8_t>(100, 0x5A));
    WriteBytes(In(L"page.xyz"), {1, 2, 3});
    WriteSparse(In(L"huge.png"), ReadBytes(Fixture(L"rgb.png")), 0x100000000ull + 8);
    for (const auto& [name, message] : {
             std::pair{L"empty.png", "qel_picture(642)\nfileSize == 0"},
             {L"huge.png", "qel_picture(642)\nfileSize > MAXDWORD"},
             {L"junk.png", "qel_picture(656)\nGdiplus::DllExports::GdipCreateBitmapFromStream(pStream, &m_pBitmap)"},
             {L"page.xyz", "qel_picture(820)\n例外エラー"},
         }) {
        picture_.Load(Fixture(L"rgb.png").c_str());
        EXPECT_EQ(0u, Thrown([&] { picture_.Load(In(name).c_str()); }).find(message)) << message;
        EXPECT_FALSE(picture_.IsLoaded());
    }
    for (const wchar_t* path : {L"a.PNG", L"x\\y.JpEg", L"b.tif", L"c.GIF", L"d.bmp", L"e.jpe"})
        EXPECT_TRUE(qel::CPicture::IsSupported(path)) << path;
    for (const wchar_t* path : {L"a.webp", L"noext", L"a.png.txt", L""})
        EXPECT_FALSE(qel::CPicture::IsSupported(path)) << path;
}

// Each frame is decoded afresh, backwards too, and the reduced copy follows.
TEST_F(PictureTest, AnimatedGifGivesEachFrameAndItsDelay) {
    picture_.Load(Fixture(L"anim.gif").c_str());
    ASSERT_EQ(3u, picture_.GetFrameCount());
    picture_.SetDrawSize(2, 2, true);
    const int delays[] = {100, 0, 50};
    const DWORD colours[] = {0xFF0000, 0x00FF00, 0x0000FF};
    for (int frame : {0, 2, 1, 0}) {
        picture_.SelectFrame(frame);
        EXPECT_EQ(frame, picture_.GetCurrentFrame());
        EXPECT_EQ(delays[frame], picture_.GetFrameDelay()) << frame;
        EXPECT_EQ(colours[frame], Pixel(picture_.GetSmallImage(), 1, 1) & 0xFFFFFF) << frame;
    }
    // A frame that is not there fails and keeps the one shown.
    EXPECT_NE("no exception", Thrown([&] { picture_.SelectFrame(7); }));
    EXPECT_EQ(0, picture_.GetCurrentFrame());
    EXPECT_EQ(colours[0], Pixel(picture_.GetImage(), 0, 0) & 0xFFFFFF);
}

// The reduced copy is made once per size, averaged by area, and only when a
// direction is drawn smaller. Columns alternate black and red, darker below.
TEST_F(PictureTest, SetDrawSizeKeepsOrMakesTheReducedCopy) {
    LoadBmp(40, 50, [](int x, int y) { return x % 2 ? 0 : DWORD(y < 25 ? 254 : 154) << 16; });
    picture_.SetDrawSize(40, 50, true);
    EXPECT_FALSE(picture_.HasSmallImage());
    picture_.SetDrawSize(20, 25, true);
    const ImageBuffer* small = picture_.GetSmallImage();
    ASSERT_NE(nullptr, small);
    EXPECT_EQ(20, small->nWidth);
    EXPECT_NEAR(127, int(Pixel(small, 0, 0) >> 16 & 0xFF), 1);
    // The same size again, with or without make, keeps that very copy.
    picture_.SetDrawSize(20, 25, false);
    picture_.SetDrawSize(20, 25, true);
    EXPECT_EQ(small, picture_.GetSmallImage());
    // Another size without make drops it; with make it is made again.
    picture_.SetDrawSize(30, 30, false);
    EXPECT_FALSE(picture_.HasSmallImage());
    picture_.SetDrawSize(30, 30, true);
    EXPECT_TRUE(picture_.HasSmallImage());
    // Narrower but taller: one copy at the full draw size, top line first.
    picture_.SetDrawSize(20, 60, true);
    ASSERT_TRUE(picture_.HasSmallImage());
    EXPECT_NEAR(127, int(Pixel(picture_.GetSmallImage(), 10, 0) >> 16 & 0xFF), 1);
    EXPECT_NEAR(77, int(Pixel(picture_.GetSmallImage(), 10, 59) >> 16 & 0xFF), 1);
    // Larger in both directions is left to the drawing engine.
    picture_.SetDrawSize(80, 100, true);
    EXPECT_FALSE(picture_.HasSmallImage());
    EXPECT_EQ(80, picture_.GetDrawWidth());
}

// Odd sizes drawn about their centre: own size and reduced copies keep their
// corner; 5 x 3 enlarged to 11 x 7 about (5, 3) with half (2, 1) has its
// corner at 5 - 2 * 2.2 = 0.6 and 3 - 2.33 = 0.67, both 1.
TEST_F(PictureTest, DrawPutsOddSizesWhereTheCentreSays) {
    qel::CCanvas canvas;
    canvas.Create(64, 48);
    canvas.SetBkColor(0x010203);
    // Picture w h, draw w h, x y; the drawn rectangle, inclusive.
    const std::array<LONG, 10> cases[] = {
        {5, 3, 5, 3, 10, 7, 10, 7, 14, 9},
        {9, 7, 3, 3, 1, 1, 1, 1, 3, 3},
        {5, 3, 11, 7, 0, 0, 1, 1, 11, 7},
    };
    for (const auto& c : cases) {
        LoadBmp(c[0], c[1], [](int x, int y) { return DWORD(0x6464C8 + (x << 16) + (y << 8)); });
        picture_.SetDrawSize(c[2], c[3], true);
        canvas.Clear();
        picture_.Draw(canvas, c[4], c[5]);
        RECT rc = {64, 48, -1, -1};
        for (LONG y = 0; y < 48; ++y) {
            for (LONG x = 0; x < 64; ++x) {
                if (Pixel(canvas.GetImage(), x, y) != 0x010203)
                    rc = {std::min(rc.left, x), std::min(rc.top, y), std::max(rc.right, x), std::max(rc.bottom, y)};
            }
        }
        EXPECT_EQ(c, (std::array<LONG, 10>{c[0], c[1], c[2], c[3], c[4], c[5], rc.left, rc.top, rc.right, rc.bottom}));
    }
}

// A failed Create leaves no surface; Present copies one rectangle; the area is
// saved as a 24-bit BMP, over a longer file too; a missing folder fails.
TEST_F(PictureTest, CanvasPresentsAndSavesItsSurface) {
    qel::CCanvas canvas;
    canvas.Create(4, 4);
    EXPECT_EQ("qel_picture(147)\nm_pInner->_pImage == NULL", Thrown([&] { canvas.Create(100000, 100000); }));
    EXPECT_EQ(0, canvas.GetWidth());
    EXPECT_NE(0, canvas.SaveBitmap(In(L"none.bmp").c_str()));
    canvas.Create(3, 2);
    LoadBmp(3, 2, [](int x, int y) { return y ? 0x0A0A0Au * DWORD(x + 1) : 0xFF0000u >> 8 * x; });
    picture_.Draw(canvas, 0, 0);
    UniqueImageBuffer window(CreateImageBuffer(kImageFormatColor, 3, 2, 32, kImageFlagDib));
    FlipImage(window.get());
    FillImage(window.get(), 0x777777);
    canvas.Present(GetImageDC(window.get()), RECT{1, 0, 3, 1}, SRCCOPY);
    const DWORD presented[] = {0x777777, 0x00FF00, 0x0000FF, 0x777777, 0x777777, 0x777777};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(presented[i], Pixel(window.get(), i % 3, i / 3) & 0xFFFFFF) << i;
    WriteBytes(In(L"a long existing name.bmp"), std::vector<std::uint8_t>(500, 7));
    for (const wchar_t* name : {L"wallpaper.bmp", L"a long existing name.bmp"}) {
        EXPECT_EQ(0, canvas.SaveBitmap(In(name).c_str()));
        EXPECT_EQ(ReadBytes(In(L"page.bmp")), ReadBytes(In(name)));
    }
    EXPECT_NE(0, canvas.SaveBitmap(In(L"missing\\wallpaper.bmp").c_str()));
}

TEST(FitSize, EveryFlagGivesItsSizeAndOffset) {
    using namespace qel;
    constexpr int kFill = FIT_WIDTH | FIT_HEIGHT | FIT_KEEP_ASPECT, kCalc = FIT_CALC_X | FIT_CALC_Y;
    // Area w h, picture w h, flags, maximum scale in tenths; size and offset. A sliver is one pixel
    // across; nothing to fit gives no offset; a centred negative odd half rounds toward minus infinity.
    const std::array<int, 10> cases[] = {
        {1000, 800, 500, 1000, kFill | kCalc, 0, 400, 800, 300, 0},
        {1000, 800, 2000, 1000, kFill, 0, 1000, 500},
        {1000, 800, 100, 80, kFill, 0, 1000, 800},
        {1000, 800, 100, 80, kFill | FIT_NO_ENLARGE, 20, 100, 80},
        {1000, 800, 100, 80, kFill, 20, 200, 160},
        {1000, 800, 3, 3, kFill, 25, 7, 7},
        {1000, 800, 500, 300, FIT_WIDTH, 0, 1000, 300},
        {1000, 800, 500, 300, FIT_HEIGHT | FIT_KEEP_ASPECT, 0, 1333, 800},
        {1024, 768, 1, 2000, kFill, 0, 1, 768},
        {1000, 800, 0, 100, kFill | kCalc, 0, 0, 0},
        {2000000000, 10, 1, 1000, FIT_WIDTH | FIT_KEEP_ASPECT, 0, 2000000000, INT_MAX},
        {1000, 800, 500, 401, kCalc, 0, 500, 401, 250, 199},
        {1000, 800, 500, 400, FIT_CALC_Y, 0, 500, 400, 0, 200},
        {1000, 800, 1003, 400, kCalc, 0, 1003, 400, 0, 200},
        {1000, 800, 1003, 400, kCalc | FIT_ALIGN_RIGHT, 0, 1003, 400, -3, 200},
        {1000, 800, 500, 805, kCalc | FIT_ALIGN_BOTTOM, 0, 500, 805, 250, -5},
        {1000, 800, 1003, 804, kCalc | FIT_ALWAYS_CENTER | FIT_ALIGN_RIGHT, 0, 1003, 804, -2, -2}};
    for (const auto& c : cases) {
        POINT offset = {99, 99};
        const auto size = CalcFitSize(c[0], c[1], c[2], c[3], unsigned(c[4]), &offset, c[5] / 10.0);
        EXPECT_EQ(c, (std::array<int, 10>{c[0], c[1], c[2], c[3], c[4], c[5], size.first, size.second, int(offset.x),
                                          int(offset.y)}));
    }
}

// Red and blue swap, the fourth byte stays. The dialog is centred over its
// owner but kept inside the work area; an empty title keeps its own.
TEST(ColorDialog, SwapsChannelsAndSitsCentredOverItsOwnerInsideTheWorkArea) {
    qel::CChooseColorDlg rgb("", 0xAA123456u);
    EXPECT_EQ(0x00563412u, rgb.Record().rgbResult);
    DWORD pixel = 0x7F000000u;
    qel::ColorRefToPixelCode(RGB(0xFF, 0, 0x01), pixel);
    EXPECT_EQ(0x7FFF0001u, pixel);
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display";
    RECT work{};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const RECT owner = {work.left + 20, work.top + 10, work.right - 180, work.bottom - 140};
    EXPECT_EQ(IDOK, RunDialog("背景色変更", IDOK, owner));
    EXPECT_EQ("背景色変更", gCaption);
    EXPECT_NEAR((owner.left + owner.right) / 2, (gRect.left + gRect.right) / 2, 1);
    EXPECT_NEAR((owner.top + owner.bottom) / 2, (gRect.top + gRect.bottom) / 2, 1);
    EXPECT_EQ(IDCANCEL, RunDialog("", IDCANCEL, {work.right - 60, work.bottom - 40, work.right, work.bottom}));
    EXPECT_NE("", gCaption);
    EXPECT_EQ(work.right, gRect.right);
    EXPECT_EQ(work.bottom, gRect.bottom);
}
