// Depth conversion for the drawing engine. 16-bit pixels are 5-5-5 RGB; an
// 8-bit pixel is an index into the colour table (a grey ramp by default),
// written as the grey level of the colour.
#include "esl_image_pixels.h"

#include <cstring>

namespace esl::image {

namespace {

DWORD Expand5(DWORD v) {
    return (v << 3) | (v >> 2);
}

DWORD GreyOf(DWORD p) {
    const DWORD b = p & 0xFF, g = (p >> 8) & 0xFF, r = (p >> 16) & 0xFF;
    return (r * 77 + g * 151 + b * 28) >> 8;
}

}  // namespace

void LoadPixels32(const ImageBuffer* pImage, const BYTE* row, int x0, DWORD* out, int count) {
    switch (pImage->dwBitsPerPixel) {
    case 32:
        std::memcpy(out, row + static_cast<std::size_t>(x0) * 4, static_cast<std::size_t>(count) * 4);
        return;
    case 24:
        for (int i = 0; i < count; ++i) {
            const BYTE* p = row + static_cast<std::size_t>(x0 + i) * 3;
            out[i] = p[0] | (p[1] << 8) | (p[2] << 16);
        }
        return;
    case 16:
        for (int i = 0; i < count; ++i) {
            WORD v;
            std::memcpy(&v, row + static_cast<std::size_t>(x0 + i) * 2, 2);
            out[i] = Expand5(v & 31) | (Expand5((v >> 5) & 31) << 8) | (Expand5((v >> 10) & 31) << 16);
        }
        return;
    case 8:
        for (int i = 0; i < count; ++i) {
            const DWORD index = row[x0 + i];
            out[i] = index < pImage->dwColorCount && pImage->pColorTable ? pImage->pColorTable[index] & 0xFFFFFF
                                                                         : index * 65793;
        }
        return;
    default:
        std::memset(out, 0, static_cast<std::size_t>(count) * 4);
    }
}

void StorePixels32(const ImageBuffer* pImage, BYTE* row, int x0, const DWORD* in, int count) {
    switch (pImage->dwBitsPerPixel) {
    case 32:
        std::memcpy(row + static_cast<std::size_t>(x0) * 4, in, static_cast<std::size_t>(count) * 4);
        return;
    case 24:
        for (int i = 0; i < count; ++i) {
            BYTE* p = row + static_cast<std::size_t>(x0 + i) * 3;
            p[0] = in[i] & 0xFF;
            p[1] = (in[i] >> 8) & 0xFF;
            p[2] = (in[i] >> 16) & 0xFF;
        }
        return;
    case 16:
        for (int i = 0; i < count; ++i) {
            const DWORD p = in[i];
            const WORD v = static_cast<WORD>(((p >> 3) & 31) | (((p >> 11) & 31) << 5) | (((p >> 19) & 31) << 10));
            std::memcpy(row + static_cast<std::size_t>(x0 + i) * 2, &v, 2);
        }
        return;
    case 8:
        for (int i = 0; i < count; ++i)
            row[x0 + i] = static_cast<BYTE>(GreyOf(in[i]));
        return;
    default:
        return;
    }
}

}  // namespace esl::image
