// Raster layer timings beside their physical limits (memcpy and memset of
// the same bytes) and the platform's own ways of reducing a page (GDI's
// HALFTONE stretch, GDI+ with high-quality bicubic), all in one process.
#include <windows.h>

#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "esl_image.h"
#include "esl_image_draw.h"
#include "esl_image_reduce.h"
#include "bench_timing.h"

namespace {

constexpr int kRuns = 7;

void Print(const char* name, double value) {
    std::printf("bench %s %.2f\n", name, value);
}

// A scanned page: fine screentone dots over a slow gradient, generated.
UniqueImageBuffer MakeScanPattern(int w, int h) {
    UniqueImageBuffer image(CreateImageBuffer(kImageFormatColor, w, h, 32, kImageFlagDib));
    if (!image)
        return image;
    FlipImage(image.get());
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<DWORD*>(image->ptrImage + static_cast<std::ptrdiff_t>(y) * image->nPitch);
        for (int x = 0; x < w; ++x) {
            const DWORD tone = ((x / 3 + y / 3) & 1) ? 40 : 220;
            const DWORD shade = (tone + (x * 31 / w) + (y * 17 / h)) & 0xFF;
            row[x] = shade * 0x010101u;
        }
    }
    return image;
}

UniqueImageBuffer MakeTarget(int w, int h) {
    UniqueImageBuffer image(CreateImageBuffer(kImageFormatColor, w, h, 32, kImageFlagDib));
    if (image)
        FlipImage(image.get());
    return image;
}

void BenchReduce(const char* name, const char* copyName, const ImageBuffer* src, int w, int h) {
    UniqueImageBuffer dest = MakeTarget(w, h);
    Print(name, MedianMs(kRuns, [&] { ScaleImageByAreaAverage(dest.get(), src); }));
    const std::size_t bytes = static_cast<std::size_t>(src->nWidth) * src->nHeight * 4;
    std::vector<BYTE> from(bytes, 1), to(bytes, 2);
    Print(copyName, MedianMs(kRuns, [&] { std::memcpy(to.data(), from.data(), bytes); }));
}

void BenchGdiHalftone(const ImageBuffer* src, int w, int h) {
    UniqueImageBuffer dest = MakeTarget(w, h);
    HDC to = GetImageDC(dest.get()), from = GetImageDC(src);
    if (!to || !from) {
        std::printf("bench gdi_halftone_4000x6000_720x1080_ms failed\n");
        return;
    }
    ::SetStretchBltMode(to, HALFTONE);
    ::SetBrushOrgEx(to, 0, 0, nullptr);
    Print("gdi_halftone_4000x6000_720x1080_ms", MedianMs(5, [&] {
              ::StretchBlt(to, 0, 0, w, h, from, 0, 0, src->nWidth, src->nHeight, SRCCOPY);
              ::GdiFlush();
          }));
}

void BenchGdiplusBicubic(const ImageBuffer* src, int w, int h) {
    namespace gp = Gdiplus;
    namespace flat = Gdiplus::DllExports;
    gp::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (gp::GdiplusStartup(&token, &input, nullptr) != gp::Ok) {
        std::printf("bench gdiplus_bicubic_4000x6000_720x1080_ms failed\n");
        return;
    }
    gp::GpBitmap* source = nullptr;
    gp::GpBitmap* target = nullptr;
    gp::GpGraphics* graphics = nullptr;
    // Rows top-down: the image is flipped, so its pitch is negative.
    const bool ready = flat::GdipCreateBitmapFromScan0(src->nWidth, src->nHeight, src->nPitch, PixelFormat32bppRGB,
                                                       src->ptrImage, &source) == gp::Ok &&
                       flat::GdipCreateBitmapFromScan0(w, h, 0, PixelFormat32bppRGB, nullptr, &target) == gp::Ok &&
                       flat::GdipGetImageGraphicsContext(target, &graphics) == gp::Ok &&
                       flat::GdipSetInterpolationMode(graphics, gp::InterpolationModeHighQualityBicubic) == gp::Ok;
    if (ready)
        Print("gdiplus_bicubic_4000x6000_720x1080_ms",
              MedianMs(5, [&] { flat::GdipDrawImageRectI(graphics, source, 0, 0, w, h); }));
    else
        std::printf("bench gdiplus_bicubic_4000x6000_720x1080_ms failed\n");
    if (graphics)
        flat::GdipDeleteGraphics(graphics);
    if (target)
        flat::GdipDisposeImage(target);
    if (source)
        flat::GdipDisposeImage(source);
    gp::GdiplusShutdown(token);
}

void BenchBilinear() {
    UniqueImageBuffer src = MakeScanPattern(800, 600);
    UniqueImageBuffer canvas = MakeTarget(1920, 1080);
    UniqueImageDrawContext draw(CreateImageDrawContext());
    if (!src || !canvas || !draw || draw->SetTarget(canvas.get(), nullptr, nullptr) != 0) {
        std::printf("bench bilinear_800x600_1920x1080_ms failed\n");
        return;
    }
    draw->SetFlags(kDrawBilinear);
    ImageMatrix matrix{};
    POINT position{960, 540};
    const POINT half{400, 300};
    BuildImageTransform(&matrix, &position, &half, 1920.0 / 800.0, 1080.0 / 600.0, 0.0, 90.0, 0);
    ImageDrawParam param{};
    param.dwFlags = kDrawBilinear;
    param.x = position.x;
    param.y = position.y;
    param.pSource = src.get();
    param.pMatrix = &matrix;
    Print("bilinear_800x600_1920x1080_ms", MedianMs(kRuns, [&] {
              draw->PrepareDraw(param);
              draw->Run();
          }));
}

void BenchFill() {
    UniqueImageBuffer canvas = MakeTarget(1920, 1080);
    Print("fill_1920x1080_ms", MedianMs(kRuns, [&] { FillImage(canvas.get(), 0xFF204060); }));
    const std::size_t bytes = 1920u * 1080u * 4u;
    std::vector<BYTE> block(bytes, 3);
    int value = 0;
    Print("memset_1920x1080_ms", MedianMs(kRuns, [&] { std::memset(block.data(), ++value, bytes); }));
}

}  // namespace

int main() {
    UniqueImageBuffer large = MakeScanPattern(4000, 6000);
    UniqueImageBuffer medium = MakeScanPattern(2000, 3000);
    if (!large || !medium) {
        std::printf("bench raster_bench failed\n");
        return 1;
    }
    BenchReduce("reduce_4000x6000_720x1080_ms", "memcpy_96000000_ms", large.get(), 720, 1080);
    BenchReduce("reduce_2000x3000_1280x1920_ms", "memcpy_24000000_ms", medium.get(), 1280, 1920);
    BenchBilinear();
    BenchFill();
    BenchGdiHalftone(large.get(), 720, 1080);
    BenchGdiplusBicubic(large.get(), 720, 1080);
    return 0;
}
