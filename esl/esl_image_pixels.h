// Pixels of any drawable depth read as and written from 32-bit pixels
// (blue, green, red, fourth byte), for the engine's converting paths.
#pragma once

#include "esl_image.h"

namespace esl::image {

// count pixels of the row from column x0 into out.
void LoadPixels32(const ImageBuffer* pImage, const BYTE* row, int x0, DWORD* out, int count);
void StorePixels32(const ImageBuffer* pImage, BYTE* row, int x0, const DWORD* in, int count);

// Level 0 gives the source, 255 almost the target: per byte
// (s (256 - level) + d level) >> 8.
inline DWORD BlendPixel(DWORD s, DWORD d, DWORD level) {
    DWORD out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const DWORD a = (s >> shift) & 0xFF, b = (d >> shift) & 0xFF;
        out |= ((a * (256 - level) + b * level) >> 8) << shift;
    }
    return out;
}

}  // namespace esl::image
