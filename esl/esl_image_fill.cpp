// FillImage: one value into every pixel. 32-bit images that are 16-byte
// aligned are filled with non-temporal stores, which keep a canvas-sized
// fill from evicting the cache it would otherwise pass through.
#include <algorithm>
#include <cstring>

#include "esl_image.h"
#include "esl_image_cpu.h"

namespace {

using esl::image::IsAligned16;

BYTE* RowAt(const ImageBuffer* pImage, int r) {
    return pImage->ptrImage + static_cast<std::ptrdiff_t>(r) * pImage->nPitch;
}

std::size_t RowBytes(const ImageBuffer* pImage) {
    return static_cast<std::size_t>(pImage->nPitch < 0 ? -static_cast<std::int64_t>(pImage->nPitch) : pImage->nPitch);
}

// Rows are filled to the full pitch: the alignment bytes belong to the image.
ESL_SSE2 void FillRowsStream32(const ImageBuffer* pImage, DWORD dwValue) {
    const __m128i value = _mm_set1_epi32(static_cast<int>(dwValue));
    const std::size_t blocks = RowBytes(pImage) / 16;
    for (int r = 0; r < pImage->nHeight; ++r) {
        auto* p = reinterpret_cast<__m128i*>(RowAt(pImage, r));
        std::size_t i = 0;
        for (; i + 4 <= blocks; i += 4) {
            _mm_stream_si128(p + i, value);
            _mm_stream_si128(p + i + 1, value);
            _mm_stream_si128(p + i + 2, value);
            _mm_stream_si128(p + i + 3, value);
        }
        for (; i < blocks; ++i)
            _mm_stream_si128(p + i, value);
    }
    _mm_sfence();
}

void FillRows32(const ImageBuffer* pImage, DWORD dwValue) {
    const std::size_t words = RowBytes(pImage) / 4;
    for (int r = 0; r < pImage->nHeight; ++r)
        std::fill_n(reinterpret_cast<DWORD*>(RowAt(pImage, r)), words, dwValue);
}

void FillRows24(const ImageBuffer* pImage, DWORD dwValue) {
    const BYTE b = dwValue & 0xFF, g = (dwValue >> 8) & 0xFF, r = (dwValue >> 16) & 0xFF;
    for (int y = 0; y < pImage->nHeight; ++y) {
        BYTE* p = RowAt(pImage, y);
        for (int x = 0; x < pImage->nWidth; ++x, p += 3) {
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    }
}

// 16 and 8 bits: the value repeated in 32-bit words. The count is rounded up
// so that the last pixels of an odd row are filled too; the word stays
// inside the row's alignment bytes.
void FillRowsWords(const ImageBuffer* pImage, DWORD dwWord) {
    const std::size_t words = (static_cast<std::size_t>(pImage->dwBitsPerPixel) * pImage->nWidth + 31) / 32;
    for (int r = 0; r < pImage->nHeight; ++r)
        std::fill_n(reinterpret_cast<DWORD*>(RowAt(pImage, r)), words, dwWord);
}

}  // namespace

int FillImage(ImageBuffer* pImage, DWORD dwValue) {
    if (!pImage || pImage->dwKind != kImageKindFull || !pImage->ptrImage)
        return 1;
    switch (pImage->dwBitsPerPixel) {
    case 32:
        if (esl::image::UseSse2() && IsAligned16(pImage->ptrImage) && pImage->nPitch % 16 == 0)
            FillRowsStream32(pImage, dwValue);
        else
            FillRows32(pImage, dwValue);
        return 0;
    case 24:
        FillRows24(pImage, dwValue);
        return 0;
    case 16:
        FillRowsWords(pImage, (dwValue & 0xFFFF) * 0x10001u);
        return 0;
    case 8:
        FillRowsWords(pImage, (dwValue & 0xFF) * 0x01010101u);
        return 0;
    default:
        return 1;
    }
}
