// Decoding and fitting one page as the loaders do it: a JPEG through GDI+,
// a binary PPM through our plug-in (when it is built beside the viewer),
// then the reduction to a 1080-line screen. Beside them, the limits: reading
// the file's bytes into a fresh buffer, and a memcpy of the decoded pixels.
#include <windows.h>

#include <gdiplus.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "esl_handle.h"
#include "qel_buffer.h"
#include "qel_file.h"
#include "qel_picture.h"
#include "qel_susie.h"

namespace {

constexpr int kRuns = 5;
constexpr int kWidth = 2400, kHeight = 3400;

void Print(const char* name, double value) {
    std::printf("bench %s %.2f\n", name, value);
}

std::wstring ExeFolder() {
    wchar_t exe[MAX_PATH + 1] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe);
    folder.resize(folder.find_last_of(L'\\') + 1);
    return folder;
}

// A scanned page: fine screentone dots over a slow gradient, as BGRX rows.
std::vector<BYTE> MakeScanPixels() {
    std::vector<BYTE> pixels(static_cast<size_t>(kWidth) * kHeight * 4);
    for (int y = 0; y < kHeight; ++y) {
        BYTE* row = pixels.data() + static_cast<size_t>(y) * kWidth * 4;
        for (int x = 0; x < kWidth; ++x) {
            const int tone = ((x / 3 + y / 3) & 1) ? 40 : 220;
            row[4 * x] = static_cast<BYTE>(tone + x * 31 / kWidth);
            row[4 * x + 1] = static_cast<BYTE>(tone + y * 17 / kHeight);
            row[4 * x + 2] = static_cast<BYTE>(tone);
        }
    }
    return pixels;
}

bool WriteFileBytes(const std::wstring& path, const void* data, size_t size) {
    esl::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool WritePpm(const std::wstring& path, const std::vector<BYTE>& bgrx) {
    std::string bytes = "P6\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
    const size_t header = bytes.size();
    bytes.resize(header + static_cast<size_t>(kWidth) * kHeight * 3);
    for (size_t i = 0, n = static_cast<size_t>(kWidth) * kHeight; i < n; ++i) {
        bytes[header + 3 * i] = static_cast<char>(bgrx[4 * i + 2]);
        bytes[header + 3 * i + 1] = static_cast<char>(bgrx[4 * i + 1]);
        bytes[header + 3 * i + 2] = static_cast<char>(bgrx[4 * i]);
    }
    return WriteFileBytes(path, bytes.data(), bytes.size());
}

bool FindJpegEncoder(CLSID& clsid) {
    namespace flat = Gdiplus::DllExports;
    UINT count = 0, bytes = 0;
    if (flat::GdipGetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || count == 0)
        return false;
    std::vector<Gdiplus::ImageCodecInfo> table(bytes / sizeof(Gdiplus::ImageCodecInfo) + 1);
    if (flat::GdipGetImageEncoders(count, bytes, table.data()) != Gdiplus::Ok)
        return false;
    for (UINT i = 0; i < count; ++i) {
        if (table[i].MimeType && std::wcscmp(table[i].MimeType, L"image/jpeg") == 0) {
            clsid = table[i].Clsid;
            return true;
        }
    }
    return false;
}

bool WriteJpeg(const std::wstring& path, std::vector<BYTE>& bgrx) {
    namespace flat = Gdiplus::DllExports;
    CLSID clsid;
    Gdiplus::GpBitmap* pRaw = nullptr;
    if (!FindJpegEncoder(clsid) || flat::GdipCreateBitmapFromScan0(kWidth, kHeight, kWidth * 4, PixelFormat32bppRGB,
                                                                   bgrx.data(), &pRaw) != Gdiplus::Ok)
        return false;
    esl::UniqueGdiplusBitmap bitmap(pRaw);
    return flat::GdipSaveImageToFile(bitmap.get(), path.c_str(), &clsid, nullptr) == Gdiplus::Ok;
}

// Loads as a loader thread would, then times SetDrawSize to fit 1080 lines.
double DecodeMs(const std::wstring& path) {
    return MedianMs(kRuns, [&] {
        qel::CPicture picture;
        picture.Load(path.c_str());
    });
}

// GDI+ itself, whatever plug-in would win the extension: the reference
// that the picture plug-ins are measured against.
double GdiplusDecodeMs(const std::wstring& path) {
    return MedianMs(kRuns, [&] { qel::CGDIPlusPictureRsrc source(path.c_str()); });
}

double FitMs(const std::wstring& path) {
    qel::CPicture picture;
    picture.Load(path.c_str());
    const auto size = qel::CalcFitSize(1920, 1080, picture.GetWidth(), picture.GetHeight(),
                                       qel::FIT_WIDTH | qel::FIT_HEIGHT | qel::FIT_KEEP_ASPECT);
    return MedianOf(kRuns, [&] {
        picture.SetDrawSize(picture.GetWidth(), picture.GetHeight(), false);  // drops the copy
        const auto t0 = std::chrono::steady_clock::now();
        picture.SetDrawSize(size.first, size.second, true);
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    });
}

}  // namespace

int main() {
    qel::GDIPlus::Startup();
    // Our plug-ins are built beside the viewer.
    qel::CSpiManager::Instance().LoadPlugins((ExeFolder() + L"..\\app\\").c_str());

    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring jpeg = std::wstring(temp) + L"velk58_picture_bench.jpg";
    const std::wstring ppm = std::wstring(temp) + L"velk58_picture_bench.ppm";
    std::vector<BYTE> pixels = MakeScanPixels();
    if (!WriteJpeg(jpeg, pixels) || !WritePpm(ppm, pixels)) {
        std::printf("bench picture_bench failed\n");
        return 1;
    }

    try {
        Print("decode_jpeg_2400x3400_ms", GdiplusDecodeMs(jpeg));
        if (qel::CSpiManager::Instance().HasPicturePlugin(ppm.c_str()))
            Print("decode_ppm_plugin_2400x3400_ms", DecodeMs(ppm));
        Print("fit_2400x3400_to_1080_ms", FitMs(jpeg));
    } catch (const qel::CException& e) {
        std::printf("bench picture_bench failed: %s\n", e.Message());
    }

    const DWORD ppmSize = static_cast<DWORD>(qel::GetFileSize(ppm.c_str()));
    Print("read_file_2400x3400_ppm_ms", MedianMs(kRuns, [&] {
              qel::CBuffer buffer(ppmSize);
              qel::ReadWholeFile(ppm.c_str(), buffer.get(), buffer.size());
          }));
    const size_t bytes = static_cast<size_t>(kWidth) * kHeight * 4;
    std::vector<BYTE> copy(bytes, 1);
    Print("memcpy_2400x3400x4_ms", MedianMs(kRuns, [&] { std::memcpy(copy.data(), pixels.data(), bytes); }));

    ::DeleteFileW(jpeg.c_str());
    ::DeleteFileW(ppm.c_str());
    return 0;
}
