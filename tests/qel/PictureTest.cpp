// Picture sources through GDI+, and the page picture: loading, draw size,
// the reduced copy, drawing and frames.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "PictureTestSupport.h"
#include "qel_picture.h"
#include "qel_susie.h"
#include "spi/TestPlugins.h"
#include "spi/spi_test.h"

using namespace picturetest;

namespace {

// rgb.* of the fixtures, top row first.
const DWORD kRgbPixels[3][5] = {
    {Rgb(255, 0, 0), Rgb(0, 255, 0), Rgb(0, 0, 255), Rgb(255, 255, 255), Rgb(0, 0, 0)},
    {Rgb(10, 20, 30), Rgb(40, 50, 60), Rgb(70, 80, 90), Rgb(100, 110, 120), Rgb(130, 140, 150)},
    {Rgb(200, 100, 0), Rgb(0, 200, 100), Rgb(100, 0, 200), Rgb(30, 160, 220), Rgb(220, 160, 30)},
};

bool Near(DWORD a, DWORD b, int tolerance) {
    for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance)
            return false;
    }
    return true;
}

class GdiPlusTest : public ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        qel::GDIPlus::Startup();
        ASSERT_TRUE(qel::GDIPlus::IsEnable());
    }
};

class PictureTest : public GdiPlusTest {
protected:
    // A BMP made here, loaded as a page.
    void LoadBmp(int w, int h, const std::function<DWORD(int, int)>& rgb) {
        WriteBmp(In(L"page.bmp"), w, h, rgb);
        picture_.Load(In(L"page.bmp").c_str());
        ASSERT_TRUE(picture_.IsLoaded());
    }
    qel::CPicture picture_;
};

}  // namespace

TEST_F(GdiPlusTest, DecodesEveryLosslessFormatTopLineFirst) {
    for (const wchar_t* name : {L"rgb.bmp", L"rgb.png", L"rgb.gif", L"rgb.tif"}) {
        SCOPED_TRACE(std::string(name, name + wcslen(name)));
        qel::CGDIPlusPictureRsrc source(Fixture(name).c_str());
        EXPECT_EQ(1u, source.GetFrameCount());
        EXPECT_EQ(0, source.GetCurrentFrame());
        EXPECT_EQ(0, source.GetFrameDelay());
        const ImageBuffer* image = source.GetImage();
        ASSERT_NE(nullptr, image);
        ASSERT_EQ(5, image->nWidth);
        ASSERT_EQ(3, image->nHeight);
        EXPECT_EQ(32u, image->dwBitsPerPixel);
        EXPECT_NE(nullptr, GetImageDC(image));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(kRgbPixels[y][x], Pixel(image, x, y) & 0xFFFFFF) << x << "," << y;
    }
}

TEST_F(GdiPlusTest, DecodesJpegNearItsColours) {
    qel::CGDIPlusPictureRsrc source(Fixture(L"halves.jpg").c_str());
    const ImageBuffer* image = source.GetImage();
    ASSERT_EQ(32, image->nWidth);
    ASSERT_EQ(16, image->nHeight);
    EXPECT_TRUE(Near(Rgb(200, 40, 40), Pixel(image, 4, 8) & 0xFFFFFF, 12));
    EXPECT_TRUE(Near(Rgb(40, 40, 200), Pixel(image, 27, 8) & 0xFFFFFF, 12));
}

TEST_F(GdiPlusTest, AnimatedGifGivesEachFrameAndItsDelay) {
    qel::CGDIPlusPictureRsrc source(Fixture(L"anim.gif").c_str());
    ASSERT_EQ(3u, source.GetFrameCount());
    const int delays[] = {100, 0, 50};
    const DWORD colours[] = {Rgb(255, 0, 0), Rgb(0, 255, 0), Rgb(0, 0, 255)};
    // Backwards too: a frame is decoded afresh, not drawn over the last one.
    for (int frame : {0, 1, 2, 1, 0}) {
        SCOPED_TRACE(frame);
        source.SelectFrame(frame);
        EXPECT_EQ(frame, source.GetCurrentFrame());
        EXPECT_EQ(delays[frame], source.GetFrameDelay());
        EXPECT_EQ(colours[frame], Pixel(source.GetImage(), 3, 3) & 0xFFFFFF);
    }
    // A frame that is not there fails and keeps the one shown.
    EXPECT_NE("no exception", Thrown([&] { source.SelectFrame(7); }));
    EXPECT_EQ(0, source.GetCurrentFrame());
    EXPECT_EQ(colours[0], Pixel(source.GetImage(), 0, 0) & 0xFFFFFF);
}

TEST_F(GdiPlusTest, ExtensionsIgnoreLetterCase) {
    for (const wchar_t* path : {L"a.png", L"a.PNG", L"a.Png", L"x\\y.JpEg", L"b.tif", L"c.GIF", L"d.bmp", L"e.jpe"})
        EXPECT_TRUE(qel::GDIPlus::IsSupported(path)) << path;
    for (const wchar_t* path : {L"a.webp", L"noext", L"a.png.txt", L"a.png\\b", L"a.", L""})
        EXPECT_FALSE(qel::GDIPlus::IsSupported(path)) << path;
    EXPECT_TRUE(qel::CPicture::IsSupported(L"Z:\\book\\01.JPG"));

    ASSERT_TRUE(::CopyFileW(Fixture(L"rgb.png").c_str(), In(L"Page.pNg").c_str(), FALSE));
    qel::CPicture picture;
    picture.Load(In(L"Page.pNg").c_str());
    EXPECT_EQ(5, picture.GetWidth());
}

TEST_F(GdiPlusTest, BadFilesFailWithTheirCheck) {
    WriteBytes(In(L"empty.png"), {});
    EXPECT_EQ("qel_picture(642)\nfileSize == 0", Thrown([&] { qel::CGDIPlusPictureRsrc s(In(L"empty.png").c_str()); }));
    WriteBytes(In(L"junk.png"), std::vector<std::uint8_t>(100, 0x5A));
    EXPECT_EQ("qel_picture(656)\nGdiplus::DllExports::GdipCreateBitmapFromStream(pStream, &m_pBitmap)",
              Thrown([&] { qel::CGDIPlusPictureRsrc s(In(L"junk.png").c_str()); }));
    // The picture is left empty, and the text is the Shift-JIS one.
    qel::CPicture picture;
    picture.Load(Fixture(L"rgb.png").c_str());
    WriteBytes(In(L"page.xyz"), {1, 2, 3});
    EXPECT_EQ("qel_picture(820)\n例外エラー", Thrown([&] { picture.Load(In(L"page.xyz").c_str()); }));
    EXPECT_FALSE(picture.IsLoaded());
    EXPECT_NE("no exception", Thrown([&] { picture.Load(In(L"missing.png").c_str()); }));
    EXPECT_FALSE(picture.IsLoaded());
}

// Hostile files: a fixed-seed run of mutated fixtures either decodes to a
// sane image or fails with an exception; never a crash. (A BMP whose pixel
// offset lies past its end once made the platform's stream read past its
// memory block.)
TEST_F(GdiPlusTest, MutatedFilesDecodeOrFailCleanly) {
    std::mt19937 rng(5810);
    int decoded = 0, failed = 0;
    for (const wchar_t* name : {L"rgb.bmp", L"rgb.png", L"rgb.gif", L"rgb.tif", L"halves.jpg", L"anim.gif"}) {
        const std::vector<std::uint8_t> original = ReadBytes(Fixture(name));
        ASSERT_FALSE(original.empty());
        for (int round = 0; round < 40; ++round) {
            std::vector<std::uint8_t> bytes = original;
            const int flips = 1 + int(rng() % 6);
            for (int i = 0; i < flips; ++i)
                bytes[rng() % bytes.size()] ^= std::uint8_t(1u << (rng() % 8));
            if (round % 8 == 7)
                bytes.resize(rng() % bytes.size() + 1);  // truncated
            WriteBytes(In(L"m.png"), bytes);
            try {
                qel::CGDIPlusPictureRsrc source(In(L"m.png").c_str());
                const ImageBuffer* image = source.GetImage();
                ASSERT_NE(nullptr, image);
                EXPECT_GT(image->nWidth, 0);
                EXPECT_GT(image->nHeight, 0);
                for (UINT f = 0; f < source.GetFrameCount() && f < 4; ++f) {
                    try {
                        source.SelectFrame(int(f));
                    } catch (const qel::CException&) {
                    }
                    EXPECT_GE(source.GetFrameDelay(), 0);
                }
                ++decoded;
            } catch (const qel::CException&) {
                ++failed;
            }
        }
    }
    EXPECT_EQ(240, decoded + failed);
}

TEST_F(PictureTest, LoadsAtItsOwnSize) {
    picture_.Load(Fixture(L"rgb.tif").c_str());
    EXPECT_EQ(5, picture_.GetWidth());
    EXPECT_EQ(3, picture_.GetHeight());
    EXPECT_EQ(5, picture_.GetDrawWidth());
    EXPECT_EQ(3, picture_.GetDrawHeight());
    EXPECT_FALSE(picture_.IsAnimated());
    picture_.Release();
    EXPECT_FALSE(picture_.IsLoaded());
}

TEST_F(PictureTest, SetDrawSizeKeepsOrMakesTheReducedCopy) {
    LoadBmp(40, 50, [](int x, int y) { return Rgb(x * 6, y * 5, 9); });
    // At its own size there is nothing to reduce.
    picture_.SetDrawSize(40, 50, true);
    EXPECT_FALSE(picture_.HasSmallImage());

    picture_.SetDrawSize(20, 25, true);
    ASSERT_TRUE(picture_.HasSmallImage());
    const ImageBuffer* small = picture_.GetSmallImage();
    EXPECT_EQ(20, small->nWidth);
    EXPECT_EQ(25, small->nHeight);
    // The same size again, with or without make, keeps that very copy.
    picture_.SetDrawSize(20, 25, false);
    EXPECT_EQ(small, picture_.GetSmallImage());
    picture_.SetDrawSize(20, 25, true);
    EXPECT_EQ(small, picture_.GetSmallImage());

    // Another size without make drops it; the same size with make makes it again.
    picture_.SetDrawSize(30, 30, false);
    EXPECT_FALSE(picture_.HasSmallImage());
    picture_.SetDrawSize(30, 30, true);
    EXPECT_TRUE(picture_.HasSmallImage());

    // Larger in both directions is left to the drawing engine.
    picture_.SetDrawSize(80, 100, true);
    EXPECT_FALSE(picture_.HasSmallImage());
    EXPECT_EQ(80, picture_.GetDrawWidth());
    EXPECT_EQ(100, picture_.GetDrawHeight());
}

TEST_F(PictureTest, ReducedCheckerboardIsEvenGrey) {
    LoadBmp(64, 48, [](int x, int y) { return ((x + y) & 1) ? Rgb(255, 255, 255) : Rgb(0, 0, 0); });
    picture_.SetDrawSize(32, 24, true);
    const ImageBuffer* small = picture_.GetSmallImage();
    ASSERT_NE(nullptr, small);
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 32; ++x) {
            const DWORD v = Pixel(small, x, y);
            for (int shift = 0; shift < 24; shift += 8) {
                const int c = int((v >> shift) & 0xFF);
                ASSERT_TRUE(c == 127 || c == 128) << x << "," << y << " gives " << c;
            }
        }
    }
}

// Narrower but taller: one copy at the full draw size, enlarged vertically,
// top line still first.
TEST_F(PictureTest, HalfWideAndTallerGetsOneCopyAtTheDrawSize) {
    LoadBmp(40, 50, [](int, int y) { return y < 25 ? Rgb(250, 0, 0) : Rgb(0, 0, 250); });
    picture_.SetDrawSize(20, 60, true);
    const ImageBuffer* small = picture_.GetSmallImage();
    ASSERT_NE(nullptr, small);
    EXPECT_EQ(20, small->nWidth);
    EXPECT_EQ(60, small->nHeight);
    EXPECT_EQ(Rgb(250, 0, 0), Pixel(small, 10, 0) & 0xFFFFFF);
    EXPECT_EQ(Rgb(0, 0, 250), Pixel(small, 10, 59) & 0xFFFFFF);
}

TEST_F(PictureTest, DrawPutsOddSizesWhereTheCentreSays) {
    qel::CCanvas canvas;
    canvas.Create(64, 48);
    const DWORD bk = Rgb(1, 2, 3);
    canvas.SetBkColor(bk);
    const auto colour = [](int x, int y) { return Rgb(100 + x, 100 + y, 200); };
    const ImageBuffer* target = canvas.GetImage();
    // The drawn rectangle: first and last column and row that are not background.
    const auto drawn = [&](RECT& rc) {
        rc = {64, 48, -1, -1};
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                if ((Pixel(target, x, y) & 0xFFFFFF) != bk)
                    rc = {std::min<LONG>(rc.left, x), std::min<LONG>(rc.top, y), std::max<LONG>(rc.right, x),
                          std::max<LONG>(rc.bottom, y)};
    };
    struct Case {
        const char* name;
        int pw, ph, dw, dh, x, y;
        RECT expected;  // inclusive
    };
    const Case cases[] = {
        // Own size: centre x + 2, half 2, so the corner stays at x.
        {"own odd size", 5, 3, 5, 3, 10, 7, {10, 7, 14, 9}},
        {"own size at the origin", 7, 5, 7, 5, 0, 0, {0, 0, 6, 4}},
        // Reduced copy 3 x 3: centre (2, 2), half (1, 1).
        {"reduced to odd", 9, 7, 3, 3, 1, 1, {1, 1, 3, 3}},
        // Enlarged 5 x 3 to 11 x 7 at (0, 0): centre (5, 3), half (2, 1),
        // corner at 5 - 2 * 2.2 = 0.6 and 3 - 1 * 2.33 = 0.67, both rounded to 1.
        {"enlarged odd", 5, 3, 11, 7, 0, 0, {1, 1, 11, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoadBmp(c.pw, c.ph, colour);
        picture_.SetDrawSize(c.dw, c.dh, true);
        canvas.Clear();
        picture_.Draw(canvas, c.x, c.y);
        RECT rc;
        drawn(rc);
        EXPECT_EQ(c.expected.left, rc.left);
        EXPECT_EQ(c.expected.top, rc.top);
        EXPECT_EQ(c.expected.right, rc.right);
        EXPECT_EQ(c.expected.bottom, rc.bottom);
        if (c.pw == c.dw) {
            EXPECT_EQ(colour(c.pw - 1, c.ph - 1), Pixel(target, rc.right, rc.bottom) & 0xFFFFFF);
        }
    }
}

TEST_F(PictureTest, AnimatedPictureFollowsItsFrames) {
    picture_.Load(Fixture(L"anim.gif").c_str());
    EXPECT_TRUE(picture_.IsAnimated());
    EXPECT_EQ(3u, picture_.GetFrameCount());
    picture_.SetDrawSize(2, 2, true);
    const ImageBuffer* first = picture_.GetSmallImage();
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(Rgb(255, 0, 0), Pixel(first, 0, 0) & 0xFFFFFF);
    picture_.SelectFrame(2);
    EXPECT_EQ(2, picture_.GetCurrentFrame());
    EXPECT_EQ(50, picture_.GetFrameDelay());
    // The reduced copy follows the frame.
    ASSERT_TRUE(picture_.HasSmallImage());
    EXPECT_EQ(Rgb(0, 0, 255), Pixel(picture_.GetSmallImage(), 1, 1) & 0xFFFFFF);
}

// ".dib" is decoded by GDI+ too; a plug-in that registers it is asked first,
// also for an empty file.
TEST_F(PictureTest, PluginWinsOverGdiPlus) {
    // A copy of the test plug-in of its own, answering for ".dib"; it stays
    // loaded for the rest of the run, so a second run of this test reuses it.
    const std::wstring plugin = TestPluginFolder() + L"dib_first" + (sizeof(void*) == 8 ? L".sph" : L".spi");
    ::CopyFileW(TestPluginPath(L"spi_test").c_str(), plugin.c_str(), FALSE);
    esl::UniqueModule module(::LoadLibraryW(plugin.c_str()));
    ASSERT_TRUE(module);
    const char* texts[] = {"00IN", "", "*.dib"};
    TestPluginProc<TestSetInfoProc>(module.get(), "TestSetInfo")(texts, 3, 0);
    qel::CSpiManager::Instance().RegisterPlugin(plugin.c_str());
    ASSERT_TRUE(qel::GDIPlus::IsSupported(L"a.dib"));
    ASSERT_TRUE(qel::CSpiManager::Instance().HasPicturePlugin(L"a.dib"));

    // Two 24-bit pixels in one bottom-up row, padded to 8 bytes: not a DIB
    // that GDI+ could read.
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = 2;
    info.biHeight = 1;
    info.biPlanes = 1;
    info.biBitCount = 24;
    const TestPicture head{{'T', 'P', 'I', 'C'}, 0, 0, sizeof info, 8, 0};
    std::vector<std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(&head),
                                    reinterpret_cast<const std::uint8_t*>(&head + 1));
    bytes.insert(bytes.end(), reinterpret_cast<const std::uint8_t*>(&info),
                 reinterpret_cast<const std::uint8_t*>(&info + 1));
    bytes.insert(bytes.end(), {0x30, 0x20, 0x10, 0x60, 0x50, 0x40, 0, 0});
    WriteBytes(In(L"page.dib"), bytes);
    picture_.Load(In(L"page.dib").c_str());
    EXPECT_EQ(2, picture_.GetWidth());
    EXPECT_EQ(1, picture_.GetHeight());
    EXPECT_EQ(Rgb(0x10, 0x20, 0x30), Pixel(picture_.GetImage(), 0, 0));
    EXPECT_EQ(Rgb(0x40, 0x50, 0x60), Pixel(picture_.GetImage(), 1, 0));

    WriteBytes(In(L"empty.dib"), {});
    EXPECT_EQ("qel_picture(441)\nfileSize == 0", Thrown([&] { picture_.Load(In(L"empty.dib").c_str()); }));
    EXPECT_FALSE(picture_.IsLoaded());
}
