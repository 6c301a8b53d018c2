// Decoding one 2400 x 3400 page through our JPEG, PNG and WebP plug-ins, as
// the host calls them (file image in memory, both blocks handed over and
// freed), beside GDI+ decoding the same JPEG and PNG files (bitmap from a
// stream, then its pixels locked as 32-bit rows, as the viewer does). The
// page is drawn here and coded by the libraries themselves.
#include <windows.h>

#include <gdiplus.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "esl_handle.h"
#include "jpeglib.h"
#include "png.h"
#include "qel_spi.h"
#include "webp/encode.h"

namespace {

constexpr int kRuns = 7;
constexpr int kWidth = 2400, kHeight = 3400;

void Print(const char* name, double value) {
    std::printf("bench %s %.2f\n", name, value);
    std::fflush(stdout);
}

// A comic page as RGB rows: paper with grain, panel borders, screentone
// whose dots grow down the panel, a smooth sky and ink hatching.
std::vector<unsigned char> DrawPage() {
    std::vector<unsigned char> rgb(std::size_t(3) * kWidth * kHeight);
    unsigned seed = 1;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1103515245u + 12345u;
            int v = 246 + static_cast<int>(seed >> 28) % 8;
            const int px = x % 1200, py = y % 1100;
            const bool border = (px >= 60 && px < 66) || (px >= 1134 && px < 1140) || (py >= 60 && py < 66) ||
                                (py >= 1034 && py < 1040);
            const bool inside = px >= 66 && px < 1134 && py >= 66 && py < 1034;
            if (border)
                v = 12;
            else if (inside && px < 600) {
                const int dx = x % 8 - 4, dy = y % 8 - 4;
                if (dx * dx + dy * dy < py / 70)
                    v = 30;  // a screentone dot
            } else if (inside && py < 500)
                v = 150 + py / 5;  // sky
            else if (inside && (x + y) % 11 < 2)
                v = 20;  // hatching
            unsigned char* p = &rgb[3 * (std::size_t(y) * kWidth + x)];
            p[0] = static_cast<unsigned char>(v);
            p[1] = static_cast<unsigned char>(v - v / 16);
            p[2] = static_cast<unsigned char>(v - v / 8);  // a little warm, like aged paper
        }
    return rgb;
}

std::string EncodeJpeg(const std::vector<unsigned char>& rgb) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = kWidth;
    c.image_height = kHeight;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(&rgb[std::size_t(3) * kWidth * c.next_scanline]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    const std::string file(reinterpret_cast<char*>(out), size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return file;
}

std::string EncodePng(const std::vector<unsigned char>& rgb) {
    std::string file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &file,
        [](png_structp p, png_bytep data, size_t n) {
            static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(data), n);
        },
        nullptr);
    png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < kHeight; ++y)
        png_write_row(png, &rgb[std::size_t(3) * kWidth * y]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}

std::string EncodeWebp(const std::vector<unsigned char>& rgb) {
    std::uint8_t* out = nullptr;
    const std::size_t size = WebPEncodeRGB(rgb.data(), kWidth, kHeight, 3 * kWidth, 80, &out);
    const std::string file(reinterpret_cast<char*>(out), size);
    WebPFree(out);
    return file;
}

// One plug-in decode as the host does it.
double PluginMs(const char* path, const std::string& file) {
    esl::UniqueModule dll(::LoadLibraryA(path));
    const auto getPicture =
        reinterpret_cast<SPI_GetPicture>(reinterpret_cast<void*>(::GetProcAddress(dll.get(), "GetPicture")));
    if (!getPicture) {
        std::fprintf(stderr, "no plug-in %s\n", path);
        return -1;
    }
    return MedianMs(kRuns, [&] {
        HLOCAL info = nullptr, bits = nullptr;
        if (getPicture(file.data(), static_cast<LONG_PTR>(file.size()), kSpiInputMemory, &info, &bits, nullptr, 0))
            std::fprintf(stderr, "%s failed\n", path);
        esl::UniqueLocal infoOwner(info), bitsOwner(bits);
    });
}

// GDI+: the file in global memory, a stream over it, the bitmap, its pixels locked.
double GdiplusMs(const std::string& file) {
    namespace flat = Gdiplus::DllExports;
    return MedianMs(kRuns, [&] {
        HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, file.size());
        std::memcpy(::GlobalLock(block), file.data(), file.size());
        ::GlobalUnlock(block);
        IStream* stream = nullptr;
        ::CreateStreamOnHGlobal(block, TRUE, &stream);
        Gdiplus::GpBitmap* bitmap = nullptr;
        if (flat::GdipCreateBitmapFromStream(stream, &bitmap) == Gdiplus::Ok) {
            Gdiplus::GpRect rect(0, 0, kWidth, kHeight);
            Gdiplus::BitmapData data{};
            if (flat::GdipBitmapLockBits(bitmap, &rect, Gdiplus::ImageLockModeRead, PixelFormat32bppRGB, &data) ==
                Gdiplus::Ok)
                flat::GdipBitmapUnlockBits(bitmap, &data);
            flat::GdipDisposeImage(bitmap);
        } else {
            std::fprintf(stderr, "GDI+ could not decode\n");
        }
        stream->Release();
    });
}

}  // namespace

int main() {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);

    const std::vector<unsigned char> page = DrawPage();
    const std::string jpeg = EncodeJpeg(page), png = EncodePng(page), webp = EncodeWebp(page);
    std::fprintf(stderr, "page: JPEG %zu, PNG %zu, WebP %zu bytes\n", jpeg.size(), png.size(), webp.size());

    Print("decode_jpeg_plugin_2400x3400_ms", PluginMs(VELK58_JPEG_PLUGIN, jpeg));
    Print("decode_jpeg_gdiplus_2400x3400_ms", GdiplusMs(jpeg));
    Print("decode_png_plugin_2400x3400_ms", PluginMs(VELK58_PNG_PLUGIN, png));
    Print("decode_png_gdiplus_2400x3400_ms", GdiplusMs(png));
    Print("decode_webp_plugin_2400x3400_ms", PluginMs(VELK58_WEBP_PLUGIN, webp));

    Gdiplus::GdiplusShutdown(token);
    return 0;
}
